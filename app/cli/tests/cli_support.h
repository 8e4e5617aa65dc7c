#pragma once
// Runs the built scrivara-cli and collects its exit status and output.
#include <cstdio>
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

namespace clitest {

struct Apart {
  int status = -1;
  std::string out, err;  // stdout and stderr, each on its own
};

// Runs scrivara-cli with stdout and stderr kept apart; `env` adds "NAME=value" settings.
inline Apart RunCliApart(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  const std::string dir = testsupport::MakeTempDir("cli-apart");
  const std::string errFile = dir + "/stderr";
  std::vector<std::string> argv = {"/bin/sh", "-c", "e=$1; shift; exec \"$@\" 2>\"$e\"", "sh", errFile,
                                   testsupport::FindProgram("env")};
  argv.insert(argv.end(), env.begin(), env.end());
  argv.push_back(SCRIVARA_CLI);
  argv.insert(argv.end(), args.begin(), args.end());
  Apart r;
  r.status = testsupport::Run(argv, &r.out);
  if (FILE* f = std::fopen(errFile.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) r.err.append(buf, n);
    std::fclose(f);
  }
  testsupport::RemoveTree(dir);
  return r;
}

}  // namespace clitest
