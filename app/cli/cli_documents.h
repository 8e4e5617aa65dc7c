#pragma once
// scrivara-cli's document commands besides pdf: the Basic Text SR of a text or Word file and the
// page image object of a bitmap or JPEG file; and the instance numbers that keep runs apart.
#include <cstdint>
#include <string>

#include "app/cli/cli_common.h"

namespace cli {

int CmdSr(const Args& a);
int CmdImg(const Args& a);

// Each run starts a batch from CreateUID, which changes only once a minute for the same patient
// and accession number, and its InstanceCounter at 0. So that two runs never hand out the same
// SOP Instance UID, the numbers taken under a base UID are kept in temp/cli-instances (guarded by
// an exclusive lock, entries older than a day dropped): this sets counter to the highest number
// taken so far under baseUID (0 when none) and records the next one as taken. The caller's builder
// then takes exactly that next number. False (logged) when the record cannot be read or written.
bool ClaimInstanceNumber(const std::string& baseUID, int32_t& counter);

}  // namespace cli
