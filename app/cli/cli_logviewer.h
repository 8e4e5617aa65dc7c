#pragma once
// scrivara-cli log-viewer: the live log of this user's Scrivara programs.
#include "app/cli/cli_common.h"

namespace cli {

int CmdLogViewer(const Args& a);

}  // namespace cli
