#include "core/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/fileutil.h"
#include "core/inifile.h"
#include "core/log.h"
#include "tests/support/files.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace {

using testsupport::ReadAll;
using testsupport::WriteAll;

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

class SetupFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeTempDir("cfgtest");
    file_ = dir_ + "/scrivara.cfg";
  }
  void TearDown() override {
    CloseLog();
    testsupport::RemoveTree(dir_);
  }
  std::string dir_, file_;
};

TEST_F(SetupFileTest, RoundTripKeepsBlanksAndWritesTenCrLfLines) {
  SetupCfg cfg;
  cfg.LocalAET = " LOCAL ";
  cfg.InstitutionName = "Clinique M\xE9" "decine";  // cp1252 e acute stays one byte
  cfg.PacsAET = "ARCHIVE";
  cfg.PacsIP = "127.0.0.1";
  cfg.PacsPort = "11112";
  cfg.WorklistAET = "WL";
  cfg.WorklistIP = "127.0.0.2";
  cfg.WorklistPort = "4242 ";
  cfg.Reserved = "7";
  cfg.DebugLogging = true;
  ASSERT_TRUE(WriteSetupFile(cfg, file_));
  EXPECT_EQ(ReadAll(file_),
            " LOCAL \r\nClinique M\xE9" "decine\r\nARCHIVE\r\n127.0.0.1\r\n11112\r\nWL\r\n127.0.0.2\r\n4242 \r\n7\r\nTRUE\r\n");
  SetupCfg back;
  ASSERT_TRUE(ReadSetupFile(back, file_));
  EXPECT_EQ(back.LocalAET, " LOCAL ");
  EXPECT_EQ(back.InstitutionName, cfg.InstitutionName);
  EXPECT_EQ(back.PacsAET, "ARCHIVE");
  EXPECT_EQ(back.PacsPort, "11112");
  EXPECT_EQ(back.WorklistIP, "127.0.0.2");
  EXPECT_EQ(back.WorklistPort, "4242 ");
  EXPECT_EQ(back.Reserved, "7");
  EXPECT_TRUE(back.DebugLogging);

  cfg.DebugLogging = false;
  ASSERT_TRUE(WriteSetupFile(cfg, file_));  // replaces the existing file
  EXPECT_EQ(ReadAll(file_).substr(ReadAll(file_).size() - 7), "FALSE\r\n");
  // No temporary file is left beside it.
  EXPECT_EQ(testsupport::Run({"sh", "-c", "ls " + dir_ + " | wc -l | grep -qx 1"}), 0);
}

TEST_F(SetupFileTest, TlsSettingsLiveInTheServersFileBesideIt) {
  // Without TLS settings nothing but the ten-line file is written, as older versions do.
  SetupCfg cfg;
  ASSERT_TRUE(WriteSetupFile(cfg, file_));
  EXPECT_FALSE(Exists(dir_ + "/scrivara-servers.ini"));
  const std::string tenLines = ReadAll(file_);

  cfg.PacsTls.enabled = true;
  cfg.PacsTls.profile = "bcp195-ex";
  cfg.PacsTls.caFile = "/etc/pki/h\xC3\xB4pital-ca.pem";  // UTF-8 file names stay as they are
  cfg.PacsTls.certificateFile = "/home/me/ws.pem";
  cfg.PacsTls.keyFile = "/home/me/ws.key";
  cfg.WorklistTls.enabled = true;
  cfg.WorklistTls.checkHostName = false;
  ASSERT_TRUE(WriteSetupFile(cfg, file_));
  EXPECT_EQ(ReadAll(file_), tenLines);  // the configuration file itself is unchanged
  struct stat st {};
  ASSERT_EQ(::stat((dir_ + "/scrivara-servers.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  SetupCfg back;
  ASSERT_TRUE(ReadSetupFile(back, file_));
  EXPECT_TRUE(back.PacsTls == cfg.PacsTls);
  EXPECT_TRUE(back.WorklistTls == cfg.WorklistTls);

  // Read even without the ten-line file; an unknown profile keeps the default with a warning.
  ::unlink(file_.c_str());
  WriteAll(dir_ + "/scrivara-servers.ini", "[pacs tls]\nUseTLS=TRUE\nProfile=tls9\n");
  LogCapture log;
  SetupCfg partial;
  EXPECT_FALSE(ReadSetupFile(partial, file_));
  EXPECT_TRUE(partial.PacsTls.enabled);
  EXPECT_EQ(partial.PacsTls.profile, "bcp195-nd");
  EXPECT_NE(log.Text().find("unknown TLS profile \"tls9\""), std::string::npos);
}

TEST_F(SetupFileTest, MissingFileAndWrongLineCountsLeaveTheRecordAlone) {
  SetupCfg cfg;  // the defaults
  EXPECT_FALSE(ReadSetupFile(cfg, file_));
  EXPECT_FALSE(Exists(file_));  // reading never creates it
  const std::string ten = "A\r\nB\r\nC\r\nD\r\nE\r\nF\r\nG\r\nH\r\nI\r\nTRUE\r\n";
  for (const std::string& data : {std::string("A\r\nB\r\nC\r\nD\r\nE\r\nF\r\nG\r\nH\r\nTRUE\r\n"),  // 9
                                  ten + "X\r\n",                                                 // 11
                                  ten + "\r\n",  // ten lines and one empty line
                                  std::string()}) {
    WriteAll(file_, data);
    EXPECT_FALSE(ReadSetupFile(cfg, file_)) << data;
    EXPECT_EQ(cfg.LocalAET, "SCRIVARA");
    EXPECT_EQ(cfg.InstitutionName, "Institution Name");
    EXPECT_EQ(cfg.PacsAET, "PACS");
    EXPECT_EQ(cfg.PacsIP, "127.0.0.1");
    EXPECT_EQ(cfg.PacsPort, "104");
    EXPECT_EQ(cfg.WorklistAET, "WORKLIST");
    EXPECT_EQ(cfg.WorklistIP, "127.0.0.1");
    EXPECT_EQ(cfg.WorklistPort, "104");
    EXPECT_EQ(cfg.Reserved, "0");
    EXPECT_FALSE(cfg.DebugLogging);
  }
  // A 10-line file whose last line lacks its break, or with LF / CR endings, is accepted.
  WriteAll(file_, "A\nB\rC\r\nD\nE\nF\nG\nH\nI\nTRUE");
  EXPECT_TRUE(ReadSetupFile(cfg, file_));
  EXPECT_EQ(cfg.PacsAET, "C");
  EXPECT_TRUE(cfg.DebugLogging);
}

TEST_F(SetupFileTest, OnlyExactlyTrueTurnsDebugLoggingOn) {
  for (const char* v : {"true", "TRUE ", "1", "FALSE"}) {
    SetupCfg cfg;
    cfg.DebugLogging = true;
    WriteAll(file_, std::string("A\r\nB\r\nC\r\nD\r\nE\r\nF\r\nG\r\nH\r\nI\r\n") + v + "\r\n");
    ASSERT_TRUE(ReadSetupFile(cfg, file_));
    EXPECT_FALSE(cfg.DebugLogging) << v;
  }
}

TEST_F(SetupFileTest, WriteFailureIsReportedAndKeepsTheOldFile) {
  SetupCfg cfg;
  ASSERT_TRUE(WriteSetupFile(cfg, file_));
  const std::string before = ReadAll(file_);
  InitLog(dir_ + "/x.log", "", "");

  // A value with a line break would make the file unreadable at the next start.
  cfg.InstitutionName = "two\r\nlines";
  EXPECT_FALSE(WriteSetupFile(cfg, file_));
  EXPECT_EQ(ReadAll(file_), before);

  // A folder that cannot be written into.
  cfg.InstitutionName = "fine";
  EXPECT_FALSE(WriteSetupFile(cfg, dir_ + "/no/such/folder/scrivara.cfg"));
  std::string log = ReadAll(dir_ + "/x.log");
  EXPECT_NE(log.find("ERROR, WriteSetupFile, a value holds a line break"), std::string::npos) << log;
  EXPECT_NE(log.find("ERROR, WriteSetupFile, couldn't write " + dir_ + "/no/such/folder/scrivara.cfg"),
            std::string::npos)
      << log;
}

TEST(Folders, FolderOfAndForceDirectories) {
  EXPECT_EQ(FolderOf("/opt/scrivara/bin/scrivara"), "/opt/scrivara/bin/");
  EXPECT_EQ(FolderOf("scrivara"), "");
  std::string dir = testsupport::MakeTempDir("force");
  EXPECT_TRUE(ForceDirectories(dir + "/a/b/c/"));
  struct stat st{};
  EXPECT_EQ(::stat((dir + "/a/b/c").c_str(), &st), 0);
  EXPECT_TRUE(ForceDirectories(dir + "/a/b/c"));  // already there
  WriteAll(dir + "/file", "x");
  EXPECT_FALSE(ForceDirectories(dir + "/file/sub"));
  testsupport::RemoveTree(dir);
  std::string exe = ExecutablePath();
  EXPECT_NE(exe.find("scrivara_core_tests"), std::string::npos) << exe;
}

// The folders and files of patient data are the user's alone: made 0700 / 0600, tightened with a
// WARNING line when they were open. Each run claims a locked folder of its own in temp/; nothing in
// temp/ goes by age.
TEST(Folders, ProgramFoldersArePrivateEachRunHasItsOwnAndNothingGoesByAge) {
  const std::string dir = testsupport::MakeTempDir("private");
  auto mode = [](const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 0777) : 01000u;
  };
  const std::string log = StartProgramFolders(dir + "/scrivara");
  EXPECT_EQ(mode(dir + "/logs"), 0700u);
  EXPECT_EQ(mode(dir + "/temp"), 0700u);
  EXPECT_EQ(mode(log), 0600u);
  EXPECT_TRUE(std::filesystem::is_empty(dir + "/temp"));  // a run's own folder only once it is used
  const std::string work = WorkFolder();
  EXPECT_EQ(work.rfind(dir + "/temp/run-", 0), 0u) << work;
  EXPECT_EQ(mode(work), 0700u);
  FileLock other;
  EXPECT_FALSE(other.Acquire(work + kWorkFolderLock, false));  // held while the run lasts
  CloseLog();

  ::chmod((dir + "/logs").c_str(), 0755);
  ::chmod((dir + "/temp").c_str(), 0755);
  WriteAll(dir + "/temp/old.dcm", "x");
  const std::string twoDaysAgo = "@" + std::to_string(std::time(nullptr) - 2 * 86400);
  testsupport::Run({"touch", "-d", twoDaysAgo, dir + "/temp/old.dcm"});
  StartProgramFolders(dir + "/scrivara");
  EXPECT_NE(WorkFolder(), work);
  EXPECT_EQ(mode(dir + "/logs"), 0700u);
  EXPECT_EQ(mode(dir + "/temp"), 0700u);
  EXPECT_NE(mode(dir + "/temp/old.dcm"), 01000u);  // never removed for its age
  const std::string text = ReadAll(log);
  EXPECT_NE(text.find("WARNING, folder " + dir + "/logs was open to other users (mode 0755), now 0700"),
            std::string::npos) << text;
  EXPECT_NE(text.find("WARNING, folder " + dir + "/temp was open to other users (mode 0755), now 0700"),
            std::string::npos) << text;
  // A run that ends leaves no folder of its own behind when nothing is left in it.
  const std::string second = WorkFolder();
  EndProgramFolders();
  EXPECT_EQ(mode(second), 01000u);
  CloseLog();
  ExeFolder.clear();
  testsupport::RemoveTree(dir);
}

// Without HOME the home comes from the password database, never /tmp; a folder that others may
// write into, that is a link or that belongs to another user is refused by name.
TEST(Folders, HomeFromThePasswordDatabaseAndUnsafeFoldersRefused) {
  const char* home = std::getenv("HOME");
  const std::string savedHome = home ? home : "";
  for (const char* v : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) ::unsetenv(v);
  ::unsetenv("HOME");
  const ProgramFolders installed = FoldersFor("/usr/bin/scrivara");
  if (!savedHome.empty()) ::setenv("HOME", savedHome.c_str(), 1);
  EXPECT_FALSE(installed.besideExecutable);
  EXPECT_EQ(installed.config.rfind("/tmp", 0), std::string::npos) << installed.config;
  EXPECT_NE(installed.config.find("/.config/scrivara/"), std::string::npos) << installed.config;

  const std::string dir = testsupport::MakeTempDir("refused");
  ProgramFolders f;
  f.config = dir + "/cfg/";
  f.logs = dir + "/logs/";
  f.temp = dir + "/temp/";
  f.outbox = dir + "/outbox/";
  EXPECT_EQ(FoldersProblem(f), "");  // missing folders are made later
  ::mkdir((dir + "/cfg").c_str(), 0700);
  ::chmod((dir + "/cfg").c_str(), 0777);
  EXPECT_EQ(FoldersProblem(f), "the folder " + dir + "/cfg can be written by other users; it is not used");
  ::chmod((dir + "/cfg").c_str(), 0700);
  ::symlink("/tmp", (dir + "/logs").c_str());
  EXPECT_EQ(FoldersProblem(f), "the folder " + dir + "/logs is a symbolic link; it is not used");
  ::unlink((dir + "/logs").c_str());
  if (::geteuid() == 0) {  // only root can give a folder away
    ::mkdir((dir + "/outbox").c_str(), 0700);
    ASSERT_EQ(::chown((dir + "/outbox").c_str(), 65534, 65534), 0);
    EXPECT_EQ(FoldersProblem(f), "the folder " + dir + "/outbox belongs to another user (uid 65534); it is not used");
  }
  testsupport::RemoveTree(dir);
}

TEST(IniFile, SectionsAndKeysIgnoreCaseDefaultsApply) {
  std::string dir = testsupport::MakeTempDir("ini");
  std::string path = dir + "/scrivara.ini";
  WriteAll(path,
           "; site labels\r\n"
           "[Other]\r\nEndBtn=Wrong\r\n"
           "[mainform]\r\n"
           "  endbtn = Exit  \r\n"
           "SearchPACSBtn=\"  Find  \"\r\n"
           "ClearBtn=\r\n"
           "PatientIDLbl=MRN=1\r\n"
           "noequals\r\n"
           "[MainForm]\nAboutBtn=Info\n");
  IniFile ini;
  ASSERT_TRUE(ini.Load(path));
  EXPECT_EQ(ini.ReadString("MainForm", "EndBtn", "End"), "Exit");
  EXPECT_EQ(ini.ReadString("MAINFORM", "SearchPACSBtn", "Search PACS"), "  Find  ");
  EXPECT_EQ(ini.ReadString("MainForm", "ClearBtn", "Clear"), "");  // present but empty
  EXPECT_EQ(ini.ReadString("MainForm", "PatientIDLbl", "Patient ID"), "MRN=1");
  EXPECT_EQ(ini.ReadString("MainForm", "AboutBtn", "About"), "Info");
  EXPECT_EQ(ini.ReadString("MainForm", "ScanBtn", "Scan"), "Scan");
  EXPECT_EQ(ini.ReadString("Missing", "EndBtn", "End"), "End");
  EXPECT_EQ(ReadIniString(dir + "/none.ini", "MainForm", "EndBtn", "End"), "End");

  // A UTF-8 file (what a Linux editor writes) reads as the same cp1252 text as a cp1252 file.
  WriteAll(path, "\xEF\xBB\xBF[MainForm]\nEndBtn=Beenden \xE2\x82\xAC\n");
  EXPECT_EQ(ReadIniString(path, "MainForm", "EndBtn", ""), "Beenden \x80");
  WriteAll(path, "[MainForm]\nEndBtn=Schlie\xC3\x9F" "en\n");
  EXPECT_EQ(ReadIniString(path, "MainForm", "EndBtn", ""), "Schlie\xDF" "en");
  WriteAll(path, "[MainForm]\nEndBtn=Schlie\xDF" "en\n");
  EXPECT_EQ(ReadIniString(path, "MainForm", "EndBtn", ""), "Schlie\xDF" "en");
  testsupport::RemoveTree(dir);
}

}  // namespace

// A file of ours is private from its first byte, never written through a link planted at its
// name or at a temporary name, and a replaced file is never anything but a regular file.
TEST(PrivateFiles, PrivateFromTheFirstByteAndNeverThroughALink) {
  const std::string dir = testsupport::MakeTempDir("privfiles");
  const std::string target = dir + "/elsewhere.txt";
  WriteAll(target, "theirs");
  ::chmod(target.c_str(), 0644);
  // While it is being written the file is already 0600.
  std::string why;
  unsigned modeWhileWriting = 0;
  ASSERT_TRUE(WritePrivateFile(
      dir + "/obj.dcm",
      [&](int fd, std::string& w) {
        struct stat st{};
        ::fstat(fd, &st);
        modeWhileWriting = st.st_mode & 0777;
        return ::WriteAll(fd, "data", 4, w);
      },
      false, why))
      << why;
  EXPECT_EQ(modeWhileWriting, 0600u);
  // The name is taken: an object is never written over another.
  EXPECT_FALSE(WritePrivateFile(dir + "/obj.dcm", [](int, std::string&) { return true; }, false, why));
  EXPECT_EQ(ReadAll(dir + "/obj.dcm"), "data");
  // A link planted where a file is created or replaced is never followed.
  ::symlink(target.c_str(), (dir + "/planted").c_str());
  EXPECT_LT(CreatePrivateFile(dir + "/planted", why), 0);
  EXPECT_FALSE(WriteWholeFile(dir + "/planted", "ours", "test"));
  FILE* f = OpenPrivateAppend(dir + "/planted");
  EXPECT_EQ(f, nullptr);
  if (f) std::fclose(f);
  EXPECT_EQ(ReadAll(target), "theirs");
  // A list made open to others by an earlier version is its owner's alone once appended to.
  f = OpenPrivateAppend(target);
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  struct stat st{};
  ::stat(target.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Temporary names differ every time, even within one process.
  EXPECT_NE(TemporaryNameFor(dir + "/a"), TemporaryNameFor(dir + "/a"));
  std::string listing;
  testsupport::Run({"ls", "-A", dir}, &listing);
  EXPECT_EQ(listing, "elsewhere.txt\nobj.dcm\nplanted\n");  // nothing left behind
  testsupport::RemoveTree(dir);
}
