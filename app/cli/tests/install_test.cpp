// The installed program: cmake --install into a DESTDIR, its bin/ made read-only; scrivara-cli and
// the window program (offscreen) then keep their files in the per-user XDG folders and write
// nothing beside themselves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/peer.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The day's log files in a folder.
size_t Logs(const std::string& folder) {
  size_t n = 0;
  for (const std::string& name : Names(folder)) n += name.size() > 8 && name.ends_with("_doc.log");
  return n;
}

TEST(Installed, FilesGoToTheXdgFoldersAndNothingBesideTheProgram) {
  const std::string dir = testsupport::MakeTempDir("installed");
  const std::string root = dir + "/root";
  std::string out;
  ASSERT_EQ(testsupport::Run({testsupport::FindProgram("env"), "DESTDIR=" + root, testsupport::FindProgram("cmake"),
                              "--install", SCRIVARA_BINARY_DIR, "--prefix", "/usr"},
                             &out),
            0)
      << out;
  const std::string bin = root + "/usr/bin";
  EXPECT_EQ(Names(bin), (std::vector<std::string>{"scrivara", "scrivara-cli"}));
  for (const char* f : {"/usr/share/applications/example.scrivara.Scrivara.desktop",
                        "/usr/share/metainfo/example.scrivara.Scrivara.metainfo.xml",
                        "/usr/share/icons/hicolor/scalable/apps/scrivara.svg", "/usr/share/man/man1/scrivara-cli.1.gz",
                        "/usr/share/bash-completion/completions/scrivara-cli", "/usr/share/doc/scrivara/copyright"})
    EXPECT_TRUE(fs::exists(root + f)) << f;
  ASSERT_EQ(::chmod(bin.c_str(), 0555), 0);

  const std::vector<std::string> env = {testsupport::FindProgram("env"), "HOME=" + dir + "/home",
                                        "XDG_CONFIG_HOME=" + dir + "/config", "XDG_STATE_HOME=" + dir + "/state",
                                        "XDG_CACHE_HOME=" + dir + "/cache", "XDG_DATA_HOME=" + dir + "/data",
                                        "XDG_RUNTIME_DIR=" + dir + "/run"};
  auto run = [&](std::vector<std::string> args) {
    std::vector<std::string> argv = env;
    argv.insert(argv.end(), args.begin(), args.end());
    std::string output;
    const int status = testsupport::Run(argv, &output);
    return std::make_pair(status, output);
  };
  const auto version = run({bin + "/scrivara-cli", "--version"});
  EXPECT_EQ(version.first, 0);
  EXPECT_EQ(version.second, "scrivara-cli 3.1.0\nconfiguration: " + dir + "/config/scrivara/\nlogs: " + dir +
                                "/state/scrivara/logs/\ntemporary files: " + dir + "/cache/scrivara/temp/\noutbox: " +
                                dir + "/data/scrivara/outbox/\naudit trail: " + dir +
                                "/state/scrivara/logs/yyyymmdd_audit.log\n");  // the suite's system log is none
  testsupport::WriteAll(dir + "/doc.pdf", testsupport::MinimalPdf());
  const auto pdf = run({bin + "/scrivara-cli", "pdf", "--patient-name", "Doe^Jane", "--patient-id", "INST1",
                        dir + "/doc.pdf", dir + "/doc.dcm"});
  EXPECT_EQ(pdf.first, 0) << pdf.second;
  EXPECT_EQ(Logs(dir + "/state/scrivara/logs"), 1u);
  EXPECT_TRUE(fs::exists(dir + "/cache/scrivara/temp/instances"));
  struct stat st{};
  ASSERT_EQ(::stat((dir + "/state/scrivara/logs").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // The window program, offscreen: its start-up makes the same folders and the day's log.
  fs::remove_all(dir + "/state");
  std::vector<std::string> window = env;
  window.push_back("QT_QPA_PLATFORM=offscreen");
  window.push_back(bin + "/scrivara");
  testsupport::Process program(window, dir + "/window.out");
  for (int i = 0; i < 200 && Logs(dir + "/state/scrivara/logs") == 0; ++i) ::usleep(50000);
  EXPECT_EQ(Logs(dir + "/state/scrivara/logs"), 1u) << testsupport::ReadAll(dir + "/window.out");
  EXPECT_TRUE(fs::is_directory(dir + "/config/scrivara"));
  program.Stop();

  EXPECT_EQ(Names(bin), (std::vector<std::string>{"scrivara", "scrivara-cli"}));  // nothing beside them
  ::chmod(bin.c_str(), 0755);
  testsupport::RemoveTree(dir);
}

}  // namespace
