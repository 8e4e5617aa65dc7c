#pragma once
// scrivara-cli's searches: `find` (study-root C-FIND to the PACS) and `worklist` (Modality
// Worklist C-FIND to the worklist server).
#include "app/cli/cli_common.h"

namespace cli {

int CmdFind(const Args& a);
int CmdWorklist(const Args& a);

}  // namespace cli
