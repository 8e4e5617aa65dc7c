// scrivara-cli log-viewer: the lines of this user's programs arrive through a socket in the user's
// own runtime folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/cli/tests/cli_support.h"
#include "tests/support/files.h"
#include "tests/support/peer.h"

namespace {

using testsupport::ReadAll;

TEST(CliLogViewer, PrintsTheLinesOfThisUsersPrograms) {
  const std::string dir = testsupport::MakeTempDir("logviewer");
  const std::string run = dir + "/run";
  ASSERT_EQ(::mkdir(run.c_str(), 0700), 0);
  const std::string env = "XDG_RUNTIME_DIR=" + run;
  testsupport::Process viewer({testsupport::FindProgram("env"), env, SCRIVARA_CLI, "log-viewer"},
                              dir + "/viewer.out");
  const std::string socket = run + "/scrivara/log-relay";
  struct stat st{};
  for (int i = 0; i < 100 && ::stat(socket.c_str(), &st) != 0; ++i) ::usleep(50000);
  ASSERT_EQ(::stat(socket.c_str(), &st), 0) << ReadAll(dir + "/viewer.out");
  ASSERT_EQ(::stat((run + "/scrivara").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);  // only this user enters

  const int closed = testsupport::FreePort();
  const clitest::Apart echo = clitest::RunCliApart(
      {"echo", "--aec", "NOBODY", "--host", "127.0.0.1", "--port", std::to_string(closed)}, {env});
  EXPECT_EQ(echo.status, 1);
  const std::string line = "ERROR, scrivara-cli: C-ECHO to NOBODY@127.0.0.1:" + std::to_string(closed) +
                           " failed: cannot connect to 127.0.0.1:" + std::to_string(closed) + ": Connection refused";
  for (int i = 0; i < 100 && ReadAll(dir + "/viewer.out").find(line) == std::string::npos; ++i) ::usleep(50000);
  EXPECT_NE(ReadAll(dir + "/viewer.out").find(line + "\n"), std::string::npos) << ReadAll(dir + "/viewer.out");
  viewer.Stop();
  testsupport::RemoveTree(dir);
}

}  // namespace
