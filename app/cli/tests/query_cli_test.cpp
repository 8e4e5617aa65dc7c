// scrivara-cli find and worklist against dcmqrscp, wlmscpfs and Orthanc: the exact lines (order,
// display date, tabs), filters, the default date, and the failures.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "app/cli/tests/cli_support.h"
#include "query/studyquery.h"
#include "query/tests/fake_find.h"
#include "query/tests/query_test_support.h"

namespace {

using clitest::Apart;
using clitest::RunCliApart;
using namespace querytest;

std::string LocalDay(int offsetDays) {
  std::time_t t = std::time(nullptr) + std::time_t(offsetDays) * 86400;
  char d[16];
  std::strftime(d, sizeof d, "%Y%m%d", std::localtime(&t));
  return d;
}

// Runs a search command against the peer; the display date follows the locale's territory.
Apart Search(const std::string& cmd, const std::string& aec, int port, std::vector<std::string> keys,
             const std::string& locale = "en_GB.UTF-8") {
  std::vector<std::string> args = {cmd, "--aet", "SCRIVARA", "--aec", aec, "--host", "127.0.0.1", "--port", std::to_string(port)};
  args.insert(args.end(), keys.begin(), keys.end());
  return RunCliApart(args, {"LC_ALL=" + locale});
}

// The shared studies plus a lower-case name on the same day (a byte-wise sort would put it after
// "M...") without birth date, and one study dated today.
std::vector<StudyObject> CliStudies() {
  auto s = Studies();
  s.push_back({"1.2.826.0.1.3680043.9.7001.4", "1.2.826.0.1.3680043.9.7001.4.2", "1.2.826.0.1.3680043.9.7001.4.1",
               "de Vries^Jan", "PID4", "", "M", "20150312", "120000", "ACC4", "Spine", "CT", ""});
  s.push_back({"1.2.826.0.1.3680043.9.7001.5", "1.2.826.0.1.3680043.9.7001.5.2", "1.2.826.0.1.3680043.9.7001.5.1",
               "Today^Tina", "PID5", "19991231", "F", LocalDay(0), "080000", "ACC5", "Hand", "CR", ""});
  return s;
}

void CheckFind(const std::string& aec, int port) {
  Apart day = Search("find", aec, port, {"--date", "20150312"});
  EXPECT_EQ(day.status, 0) << day.err;
  EXPECT_EQ(day.out,
            "Adams^Zoe\tPID2\tF\t24/12/1975\tKnee\tACC2\t1.2.826.0.1.3680043.9.7001.2\n"
            "de Vries^Jan\tPID4\tM\t\tSpine\tACC4\t1.2.826.0.1.3680043.9.7001.4\n"
            "M\xC3\xBCller^Hans\tPID1\tM\t01/01/1960\tThorax \xC3\xA9t\xC3\xA9\tACC1\t1.2.826.0.1.3680043.9.7001.1\n");
  EXPECT_EQ(day.err, "");

  Apart us = Search("find", aec, port, {"--date", "20150312", "--id", "PID2"}, "en_US.UTF-8");
  EXPECT_EQ(us.out, "Adams^Zoe\tPID2\tF\t12/24/1975\tKnee\tACC2\t1.2.826.0.1.3680043.9.7001.2\n");

  Apart name = Search("find", aec, port, {"--date", "20150312", "--name", "Ad*"});
  EXPECT_EQ(name.out, "Adams^Zoe\tPID2\tF\t24/12/1975\tKnee\tACC2\t1.2.826.0.1.3680043.9.7001.2\n");

  Apart none = Search("find", aec, port, {"--date", "20150312", "--name", "Nobody*"});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "");

  Apart today = Search("find", aec, port, {});  // the date defaults to today
  EXPECT_EQ(today.status, 0) << today.err;
  EXPECT_EQ(today.out, "Today^Tina\tPID5\tF\t31/12/1999\tHand\tACC5\t1.2.826.0.1.3680043.9.7001.5\n");
}

// The shared worklist (three entries on 12 March 2015, one the day after) plus a lower-case name
// on that day, one entry dated today and one dated tomorrow.
std::vector<Entry> CliWorklist() {
  auto w = Worklist();
  w.push_back({"adler^Anna", "WL6", "19880808", "F", "WACC6", "1.2.826.0.1.3680043.9.7002.6", "XR Hand",
               {{"CR", "20150312", "1400", "SPS6", "Hand"}}});
  w.push_back({"Heute^Hanna", "WL7", "19770707", "F", "WACC7", "1.2.826.0.1.3680043.9.7002.7", "CT Today",
               {{"CT", LocalDay(0), "0700", "SPS7", "Today"}}});
  w.push_back({"Morgen^Max", "WL8", "19660606", "M", "WACC8", "1.2.826.0.1.3680043.9.7002.8", "CT Tomorrow",
               {{"CT", LocalDay(1), "0700", "SPS8", "Tomorrow"}}});
  return w;
}

bool WriteWorklist(const std::string& folder) {
  int i = 0;
  for (const auto& e : CliWorklist())
    if (!MakeDicom(WorklistDump(e), folder + "/cli" + std::to_string(++i) + ".wl")) return false;
  return true;
}

void CheckWorklist(const std::string& aec, int port) {
  Apart day = Search("worklist", aec, port, {"--date", "20150312"});
  EXPECT_EQ(day.status, 0) << day.err;
  EXPECT_EQ(day.out,
            "adler^Anna\tWL6\tF\t08/08/1988\tXR Hand\tWACC6\t1.2.826.0.1.3680043.9.7002.6\n"
            "D\xC3\xBCrer^Albrecht\tWL1\tM\t03/02/1970\tCT Thorax \xC3\xA0 jeun\tWACC1\t1.2.826.0.1.3680043.9.7002.1\n"
            "Nobirth^Nina\tWL2\tF\t\tMR Knee\tWACC2\t1.2.826.0.1.3680043.9.7002.2\n"
            "SMITH^JOHN\tWL3\tM\t01/01/1950\tCT Head\tWACC3\t1.2.826.0.1.3680043.9.7002.3\n");
  EXPECT_EQ(day.err, "");

  Apart mr = Search("worklist", aec, port, {"--date", "20150312", "--modality", "MR"});
  EXPECT_EQ(mr.out, "Nobirth^Nina\tWL2\tF\t\tMR Knee\tWACC2\t1.2.826.0.1.3680043.9.7002.2\n");

  Apart none = Search("worklist", aec, port, {"--date", "20150312", "--id", "NOSUCH"});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "");

  // Without --date: today's entry only, not tomorrow's.
  Apart today = Search("worklist", aec, port, {});
  EXPECT_EQ(today.status, 0) << today.err;
  EXPECT_EQ(today.out, "Heute^Hanna\tWL7\tF\t07/07/1977\tCT Today\tWACC7\t1.2.826.0.1.3680043.9.7002.7\n");
}

TEST(CliQuery, FindOnDcmqrscp) {
  Dcmqrscp qr;
  ASSERT_TRUE(qr.Start());
  ASSERT_TRUE(StoreOurselves(MakeStudyFiles(qr.dir.path, CliStudies()), "QRSCP", qr.port));
  CheckFind("QRSCP", qr.port);
}

TEST(CliQuery, WorklistOnWlmscpfs) {
  Wlmscpfs wl;
  ASSERT_TRUE(WriteWorklist(wl.Folder("WLAE")));
  ASSERT_TRUE(wl.Start());
  CheckWorklist("WLAE", wl.port);
}

// One Orthanc for both commands (its start and stop take seconds).
TEST(CliQuery, FindAndWorklistOnOrthanc) {
  Orthanc o;
  ASSERT_TRUE(WriteWorklist(o.Worklists()));
  ASSERT_TRUE(o.Start());
  ASSERT_TRUE(StoreFiles(MakeStudyFiles(o.dir.path, CliStudies()), "ORTHANC", o.port));
  CheckFind("ORTHANC", o.port);
  // Orthanc answers Modalities in Study, so the modality key restricts the studies.
  Apart mr = Search("find", "ORTHANC", o.port, {"--date", "20150312", "--modality", "MR"});
  EXPECT_EQ(mr.out, "Adams^Zoe\tPID2\tF\t24/12/1975\tKnee\tACC2\t1.2.826.0.1.3680043.9.7001.2\n");
  // A UTF-8 key reaches the server as the cp1252 value it holds (Orthanc matches non-ASCII keys
  // and the requested procedure description; the DCMTK servers are left out of these two).
  Apart name = Search("find", "ORTHANC", o.port, {"--date", "20150312", "--name", "M\xC3\xBC*"});
  EXPECT_EQ(name.out, "M\xC3\xBCller^Hans\tPID1\tM\t01/01/1960\tThorax \xC3\xA9t\xC3\xA9\tACC1\t1.2.826.0.1.3680043.9.7001.1\n");
  CheckWorklist("ORTHANC", o.port);
  Apart desc = Search("worklist", "ORTHANC", o.port, {"--date", "20150312", "--description", "CT Head"});
  EXPECT_EQ(desc.out, "SMITH^JOHN\tWL3\tM\t01/01/1950\tCT Head\tWACC3\t1.2.826.0.1.3680043.9.7002.3\n");
}

// A final failure status after one match: the match is printed (a tab inside a value becomes a
// space), the failure's own empty row is not, and the exit status tells the failure.
TEST(CliQuery, FailureStatusAfterAMatchFails) {
  querytest::Seen seen;
  querytest::FakeScp scp(querytest::FindScript(seen, [](querytest::Connection& c, uint16_t id) {
    querytest::SendFind(c, id, 0xFF00, kStudyRootFind, querytest::StudyMatch("Tab\tName", "7"));
    querytest::SendFind(c, id, 0xA700, kStudyRootFind);
  }));
  Apart r = Search("find", "FAKESCP", scp.Port(), {"--date", "20150312"});
  scp.Join();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Tab Name\t7\t\t\t\t\t1.2.3.7\n");
  EXPECT_EQ(r.err, "scrivara-cli: FAKESCP@127.0.0.1:" + std::to_string(scp.Port()) +
                       " answered C-FIND status A700H (1 result(s) printed)\n");
}

TEST(CliQuery, RefusedPortBadKeysAndHelp) {
  const int closed = FreePort();  // nothing listens there
  for (const char* cmd : {"find", "worklist"}) {
    Apart r = Search(cmd, "NOBODY", closed, {"--date", "20150312"});
    EXPECT_EQ(r.status, 1) << cmd;
    EXPECT_EQ(r.out, "") << cmd;
    EXPECT_NE(r.err.find("no association with NOBODY@127.0.0.1:" + std::to_string(closed)), std::string::npos) << r.err;

    for (const char* date : {"20150230", "2015031", "2015O312", "20151301"}) {
      Apart d = Search(cmd, "NOBODY", closed, {"--date", date});
      EXPECT_EQ(d.status, 2) << date;
      EXPECT_EQ(d.err, std::string("scrivara-cli: bad date ") + date + " (expected YYYYMMDD)\n");
    }
    Apart leap = Search(cmd, "NOBODY", closed, {"--date", "20160229"});  // valid: fails only on the port
    EXPECT_NE(leap.err.find("no association"), std::string::npos) << leap.err;

    Apart m = Search(cmd, "NOBODY", closed, {"--modality", "PT"});
    EXPECT_EQ(m.status, 2);
    EXPECT_NE(m.err.find("unknown modality PT"), std::string::npos) << m.err;
    Apart extra = Search(cmd, "NOBODY", closed, {"file.dcm"});
    EXPECT_EQ(extra.status, 2);

    Apart help = RunCliApart({cmd, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(std::string("usage: scrivara-cli ") + cmd, 0), 0u) << help.out;
  }
  Apart top = RunCliApart({"--help"});
  EXPECT_NE(top.out.find("  find "), std::string::npos);
  EXPECT_NE(top.out.find("  worklist "), std::string::npos);
}

}  // namespace
