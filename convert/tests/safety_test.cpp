// Nothing an operator makes is lost or misfiled: a program killed before its objects reached the
// PACS hands them to the outbox at the next start, programs working at once never share an object,
// an accession number or a file, and a move to the outbox is complete or does not happen.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "convert/batch.h"
#include "convert/outbox.h"
#include "convert/pdf_object.h"
#include "core/config.h"
#include "core/fileutil.h"
#include "tests/support/files.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace {

StudyInfo Study() {
  StudyInfo s;
  s.PatientName = "Doe^Jane";
  s.PatientID = "SAFE01";
  s.AccessionNumber = "ACC1";
  s.StudyDate = "20261210";
  s.StudyTime = "101500";
  return s;
}

std::vector<std::string> Names(const std::vector<std::string>& paths) {
  std::vector<std::string> names;
  for (const auto& p : paths) names.push_back(FileNamePart(p));
  return names;
}

// A program of its own: starts the folders beside dir/scrivara as the programs do, runs body and
// writes what it returns to the pipe, then waits to be killed (or ends when `stay` is false).
pid_t Program(const std::string& dir, int pipeOut, bool stay, const std::function<std::string()>& body) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  StartProgramFolders(dir + "/scrivara");
  const std::string said = body() + "\n";
  (void)!::write(pipeOut, said.data(), said.size());
  ::close(pipeOut);
  if (stay) ::pause();
  ::_exit(0);
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

TEST(RunFolders, AKilledProgramsUnsentObjectsReachTheOutboxAtTheNextStart) {
  const std::string dir = testsupport::MakeTempDir("scrivara_killed");
  testsupport::WriteAll(dir + "/doc.pdf", "%PDF-1.4\nreport\n%%EOF\n");
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  // Two objects made, the PACS accepted the first; a hand-over page; then SIGKILL.
  const pid_t pid = Program(dir, fds[1], true, [&] {
    StudyInfo study = Study();
    ConversionBatch batch;
    int32_t counter = 0;
    if (!StartConversionBatch(study, WorkFolder(), batch)) return std::string();
    const std::string sent = BuildEncapsulatedPdf(dir + "/doc.pdf", study, batch, counter);
    const std::string unsent = BuildEncapsulatedPdf(dir + "/doc.pdf", study, batch, counter);
    RecordAccepted(sent);
    testsupport::WriteAll(WorkFolder() + "test.bmp", "BM");
    return FileNamePart(unsent);
  });
  ::close(fds[1]);
  const std::string unsent = ReadLine(fds[0]);
  ::close(fds[0]);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ASSERT_FALSE(unsent.empty());

  // A program still running keeps its folder, whatever is in it.
  const std::string busy = dir + "/temp/run-busy/";
  ASSERT_EQ(::mkdir(busy.c_str(), 0700), 0);
  FileLock running;
  ASSERT_TRUE(running.Acquire(busy + kWorkFolderLock, false));
  testsupport::WriteAll(busy + "working.dcm", "x");
  // The clock moved two days on: age changes nothing.
  testsupport::Run({"sh", "-c", "touch -d @" + std::to_string(std::time(nullptr) - 2 * 86400) + " " + dir +
                                    "/temp/run-*/*"});

  ExeFolder = dir + "/";
  LogCapture log;
  EXPECT_EQ(KeepAbandonedObjects(), 1u);
  EXPECT_EQ(Names(OutboxFiles()), std::vector<std::string>{unsent});
  EXPECT_EQ(log.Messages().size(), 1u);
  EXPECT_EQ(log.Messages()[0].rfind("INFO, kept " + unsent + " in the outbox: left unsent by a program that ended", 0),
            0u) << log.Messages()[0];
  std::string listing;
  testsupport::Run({"ls", "-A", dir + "/temp"}, &listing);
  EXPECT_EQ(listing, "instances\nrun-busy\n");  // the killed program's folder is gone, the running one's stays
  EXPECT_EQ(testsupport::ReadAll(busy + "working.dcm"), "x");
  ExeFolder.clear();
  testsupport::RemoveTree(dir);
}

// Two programs converting for one patient, one accession number and one minute, at once in one
// program folder: every object keeps a file and a UID of its own, and the accession numbers they
// generate for typed-in patients differ.
TEST(RunFolders, ProgramsWorkingAtOnceKeepEveryObjectApart) {
  const std::string dir = testsupport::MakeTempDir("scrivara_together");
  testsupport::WriteAll(dir + "/doc.pdf", "%PDF-1.4\nreport\n%%EOF\n");
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::vector<pid_t> programs;
  for (int p = 0; p < 2; ++p)
    programs.push_back(Program(dir, fds[1], false, [&] {
      StudyInfo study = Study();
      ConversionBatch batch;
      int32_t counter = 0;
      int accessionCounter = 0;
      std::string said;
      if (!StartConversionBatch(study, WorkFolder(), batch)) return said;
      for (int i = 0; i < 10; ++i) {
        said += BuildEncapsulatedPdf(dir + "/doc.pdf", study, batch, counter) + " ";
        said += NextAccessionNumber("2612101015", accessionCounter) + " ";
      }
      return said;
    }));
  ::close(fds[1]);
  std::set<std::string> seen;
  size_t count = 0;
  for (int p = 0; p < 2; ++p) {
    std::istringstream words(ReadLine(fds[0]));
    for (std::string w; words >> w; ++count) seen.insert(FileNamePart(w));
  }
  ::close(fds[0]);
  for (pid_t pid : programs) ::waitpid(pid, nullptr, 0);
  EXPECT_EQ(count, 40u);
  EXPECT_EQ(seen.size(), 40u);  // 20 object files and 20 accession numbers, none twice
  testsupport::RemoveTree(dir);
}

// An outbox on another file system that fills up: a move there is a complete copy before the source
// goes, or the source stays and nothing is left half-written in the outbox.
TEST(Outbox, MoveToAnotherFileSystemIsCompleteOrDoesNotHappen) {
  const std::string dir = testsupport::MakeTempDir("scrivara_otherfs");
  ExeFolder = dir + "/";
  ASSERT_EQ(::mkdir((dir + "/temp").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((dir + "/outbox").c_str(), 0700), 0);
  if (::mount("tmpfs", (dir + "/outbox").c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0) {
    testsupport::RemoveTree(dir);
    GTEST_SKIP() << "no small file system can be mounted here (needs root)";
  }
  const std::string small = dir + "/temp/small.dcm", large = dir + "/temp/large.dcm";
  testsupport::WriteAll(small, std::string(1000, 's'));
  testsupport::WriteAll(large, std::string(200000, 'l'));
  LogCapture log;
  EXPECT_EQ(MoveToOutbox({small, large}), std::vector<std::string>{large});
  EXPECT_EQ(Names(OutboxFiles()), std::vector<std::string>{"small.dcm"});
  EXPECT_EQ(testsupport::ReadAll(dir + "/outbox/small.dcm"), std::string(1000, 's'));
  EXPECT_EQ(testsupport::ReadAll(large), std::string(200000, 'l'));
  std::string listing;
  testsupport::Run({"ls", "-A", dir + "/outbox", dir + "/temp"}, &listing);
  EXPECT_EQ(listing, dir + "/outbox:\nsmall.dcm\n\n" + dir + "/temp:\nlarge.dcm\n");
  ASSERT_EQ(log.Messages().size(), 1u);
  EXPECT_NE(log.Messages()[0].find("ERROR, MoveToOutbox, cannot keep " + large), std::string::npos);
  ::umount((dir + "/outbox").c_str());
  ExeFolder.clear();
  testsupport::RemoveTree(dir);
}

}  // namespace
