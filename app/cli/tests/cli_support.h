#pragma once
// Runs the built scrivara-cli and collects its exit status and output.
#include <string>
#include <vector>

#include "tests/support/peer.h"

namespace clitest {

struct Result {
  int status = -1;
  std::string output;  // stdout and stderr together
};

inline Result RunCli(std::vector<std::string> args) {
  args.insert(args.begin(), SCRIVARA_CLI);
  Result r;
  r.status = testsupport::Run(args, &r.output);
  return r;
}

}  // namespace clitest
