#pragma once
// scrivara-cli's document commands besides pdf: the Basic Text SR of a text or Word file and the
// page image object of a bitmap or JPEG file.
#include <cstdint>
#include <string>

#include "app/cli/cli_common.h"

namespace cli {

int CmdSr(const Args& a);
int CmdImg(const Args& a);

}  // namespace cli
