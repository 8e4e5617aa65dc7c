// The study and worklist searches against a scripted peer: what goes on the wire, pending and
// final statuses, a response that never comes, peers that cannot be reached.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/dcmobj.h"
#include "net/dimse.h"
#include "net/pdu_service.h"
#include "tests/support/fake_scp.h"
#include "tests/support/log_capture.h"
#include "query/studyquery.h"
#include "query/tests/fake_find.h"
#include "query/worklistquery.h"
#include "tests/support/peer.h"

namespace {

using fakescp::Bytes;
using fakescp::Connection;
using fakescp::FakeScp;
using fakescp::Message;
using querytest::FindScript;
using querytest::Seen;
using querytest::SendFind;
using querytest::StudyMatch;

// The tags of an implicit VR little endian stream in stream order, with their values.
struct Wire {
  uint32_t tag;
  Bytes value;
};
std::vector<Wire> Elements(const Bytes& data) {
  std::vector<Wire> out;
  size_t at = 0;
  while (at + 8 <= data.size()) {
    uint32_t tag = (uint32_t(fakescp::Get16LE(data, at)) << 16) | fakescp::Get16LE(data, at + 2);
    uint32_t len = fakescp::Get32LE(data, at + 4);
    at += 8;
    if (len == 0xFFFFFFFF || at + len > data.size()) break;
    out.push_back({tag, Bytes(data.begin() + long(at), data.begin() + long(at + len))});
    at += len;
  }
  return out;
}
std::vector<uint32_t> Tags(const std::vector<Wire>& w) {
  std::vector<uint32_t> t;
  for (const auto& e : w) t.push_back(e.tag);
  return t;
}
std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

QueryFields Day() {
  QueryFields f;
  f.StudyDate = "20150312";
  return f;
}

TEST(StudySearchFake, PendingResponsesGiveRowsEachFollowedByTheEventHook) {
  LogCapture log;
  Seen seen;
  FakeScp scp(FindScript(seen, [](Connection& c, uint16_t id) {
    SendFind(c, id, 0xFF00, kStudyRootFind, StudyMatch("Smith^Ann", "1"));
    SendFind(c, id, 0xFF01, kStudyRootFind, StudyMatch("Jones^Bob", "2"));
    SendFind(c, id, 0xFF00, kStudyRootFind, StudyMatch(std::string(70, 'L'), "3"));
    SendFind(c, id, 0x0000, kStudyRootFind);
  }));
  std::vector<std::string> events;
  QueryFields f = Day();
  f.PatientName = "S*";
  int n = SearchStudies(
      f, {"SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), 5},
      [&](const StudyInfo& s) { events.push_back("row " + s.PatientID + " " + s.PatientName.substr(0, 9)); },
      [&] { events.push_back("events"); });
  scp.Join();
  EXPECT_EQ(n, 3);
  EXPECT_EQ(events, (std::vector<std::string>{"row 1 Smith^Ann", "events", "row 2 Jones^Bob", "events",
                                              "row 3 LLLLLLLLL", "events"}));
  EXPECT_TRUE(log.Has("ERROR, PatientName length>64, " + std::string(70, 'L')));
  EXPECT_TRUE(seen.released);

  // The C-FIND-RQ: group length 76 for the study root class, then the identifier in tag order.
  auto cmd = Elements(seen.command);
  ASSERT_FALSE(cmd.empty());
  EXPECT_EQ(cmd[0].tag, 0x00000000u);
  EXPECT_EQ(fakescp::Get32LE(cmd[0].value, 0), 76u);
  EXPECT_EQ(fakescp::GetUS(fakescp::Parse(seen.command), 0, 0x0100), 0x0020);
  auto idf = Elements(seen.identifier);
  EXPECT_EQ(Tags(idf), (std::vector<uint32_t>{0x00080020, 0x00080030, 0x00080050, 0x00080052, 0x00080061, 0x00080080,
                                              0x00080090, 0x00081030, 0x00100010, 0x00100020, 0x00100030, 0x00100040,
                                              0x00104000, 0x0020000D}));
  EXPECT_EQ(Text(idf[0].value), "20150312-20150312 ");
  EXPECT_EQ(Text(idf[3].value), "STUDY ");
  EXPECT_EQ(Text(idf[8].value), "S*");
  EXPECT_TRUE(idf[9].value.empty());
}

TEST(StudySearchFake, FinalFailureGivesOneRowAndEndsTheLoop) {
  for (uint16_t failure : {uint16_t(0xA700), uint16_t(0xC000)}) {
    LogCapture log;
    Seen seen;
    FakeScp scp(FindScript(seen, [failure](Connection& c, uint16_t id) {
      SendFind(c, id, 0xFF00, kStudyRootFind, StudyMatch("Smith^Ann", "1"));
      SendFind(c, id, failure, kStudyRootFind);
      SendFind(c, id, 0xFF00, kStudyRootFind, StudyMatch("Never^Read", "9"));  // after the end
    }));
    std::vector<StudyInfo> rows;
    int hooks = 0;
    int n = SearchStudies(
        Day(), {"SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), 5}, [&](const StudyInfo& s) { rows.push_back(s); },
        [&] { ++hooks; });
    scp.Join();
    ASSERT_EQ(n, 2) << failure;
    EXPECT_EQ(rows[0].PatientName, "Smith^Ann");
    EXPECT_EQ(rows[1].PatientName, "");  // the failure's (absent) identifier
    EXPECT_EQ(rows[1].StudyInstanceUID, "");
    EXPECT_EQ(hooks, 2);
    EXPECT_TRUE(log.Has("ERROR, SearchStudies, C-FIND status == " + std::to_string(failure)));
    EXPECT_TRUE(seen.released) << failure;
  }
}

TEST(StudySearchFake, ResponseThatNeverComesEndsAtTheTimeOutWithTheRowsSoFar) {
  Seen seen;
  FakeScp scp(FindScript(seen, [](Connection& c, uint16_t id) {
    SendFind(c, id, 0xFF00, kStudyRootFind, StudyMatch("Smith^Ann", "1"));
    SendFind(c, id, 0xFF00, kStudyRootFind, StudyMatch("Jones^Bob", "2"));
    // then silence
  }));
  std::vector<std::string> ids;
  int n = SearchStudies(
      Day(), {"SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), 1},
      [&](const StudyInfo& s) { ids.push_back(s.PatientID); }, nullptr);
  scp.Join();
  EXPECT_EQ(n, 2);
  EXPECT_EQ(ids, (std::vector<std::string>{"1", "2"}));
}

TEST(StudySearchFake, UnreachableOrRefusingPeerLogsTheCalledTitleAndGivesNoRows) {
  {
    LogCapture log;
    int rows = 0;
    int n = SearchStudies(
        Day(), {"SCRIVARA", "MYPACS", "127.0.0.1", std::to_string(testsupport::FreePort()), 2},
        [&](const StudyInfo&) { ++rows; }, nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(rows, 0);
    EXPECT_TRUE(log.Has("ERROR, couldn't connect to MYPACS"));
  }
  {
    LogCapture log;
    FakeScp scp([](Connection& c) {
      fakescp::ReceivedPdu rq;
      if (c.ReadPdu(rq)) c.Send(fakescp::AssociateRJ());
    });
    int rows = 0;
    int n = SearchWorklist(
        Day(), {"SCRIVARA", "MYWL", "127.0.0.1", scp.PortText(), 2}, [&](const TWorklistItem&) { ++rows; }, nullptr);
    scp.Join();
    EXPECT_EQ(n, 0);
    EXPECT_EQ(rows, 0);
    EXPECT_TRUE(log.Has("ERROR, couldn't connect to MYWL"));
  }
}

Bytes WorklistMatch(const std::string& name, const std::string& step) {
  Bytes item = fakescp::Encode({fakescp::Text(0x0008, 0x0060, "CT"), fakescp::Text(0x0040, 0x0009, step)});
  Bytes itemEl;
  fakescp::Put16LE(itemEl, 0xFFFE);
  fakescp::Put16LE(itemEl, 0xE000);
  fakescp::Put32LE(itemEl, uint32_t(item.size()));
  fakescp::Append(itemEl, item);
  Bytes b = fakescp::Encode({fakescp::Text(0x0010, 0x0010, name)});
  fakescp::Append(b, fakescp::Encode({{0x0040, 0x0100, itemEl}}));
  return b;
}

TEST(WorklistSearchFake, ThreePendingAndSuccessGiveThreeRows) {
  Seen seen;
  FakeScp scp(FindScript(seen, [](Connection& c, uint16_t id) {
    SendFind(c, id, 0xFF00, kWorklistFind, WorklistMatch("A^A", "S1"));
    SendFind(c, id, 0xFF01, kWorklistFind, WorklistMatch("B^B", "S2"));
    SendFind(c, id, 0xFF00, kWorklistFind, WorklistMatch("C^C", "S3"));
    SendFind(c, id, 0x0000, kWorklistFind);
  }));
  std::vector<std::string> events;
  QueryFields f = Day();
  f.ModalityIndex = 2;
  int n = SearchWorklist(
      f, {"SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), 5},
      [&](const TWorklistItem& w) {
        events.push_back(w.PatientName + " " + w.ScheduledProcedureStepID + " " + w.Modality);
      },
      [&] { events.push_back("events"); });
  scp.Join();
  EXPECT_EQ(n, 3);
  EXPECT_EQ(events, (std::vector<std::string>{"A^A S1 CT", "events", "B^B S2 CT", "events", "C^C S3 CT", "events"}));
  EXPECT_TRUE(seen.released);

  auto cmd = Elements(seen.command);
  ASSERT_FALSE(cmd.empty());
  EXPECT_EQ(fakescp::Get32LE(cmd[0].value, 0), 70u);
  auto idf = Elements(seen.identifier);
  EXPECT_EQ(Tags(idf), (std::vector<uint32_t>{0x00080050, 0x00080090, 0x00100010, 0x00100020, 0x00100030, 0x00100040,
                                              0x0020000D, 0x00321060, 0x00400100, 0x00401001, 0x00401003}));
  // The sequence: one item of defined length holding the step keys in tag order.
  auto items = Elements(idf[8].value);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].tag, 0xFFFEE000u);
  auto step = Elements(items[0].value);
  EXPECT_EQ(Tags(step),
            (std::vector<uint32_t>{0x00080060, 0x00321070, 0x00400001, 0x00400002, 0x00400003, 0x00400006, 0x00400007,
                                   0x00400009, 0x00400010, 0x00400011, 0x00400012, 0x00400020}));
  EXPECT_EQ(Text(step[0].value), "CT");
  EXPECT_EQ(Text(step[3].value), "20150312");
}

TEST(WorklistSearchFake, FailureAtOnceGivesOneEmptyRowAndNoFurtherReading) {
  for (uint16_t failure : {uint16_t(0xC000), uint16_t(0xA700)}) {
    LogCapture log;
    Seen seen;
    FakeScp scp(FindScript(seen, [failure](Connection& c, uint16_t id) {
      SendFind(c, id, failure, kWorklistFind);
      SendFind(c, id, 0xFF00, kWorklistFind, WorklistMatch("Never^Read", "S9"));
    }));
    std::vector<TWorklistItem> rows;
    int n = SearchWorklist(
        Day(), {"SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), 5},
        [&](const TWorklistItem& w) { rows.push_back(w); }, nullptr);
    scp.Join();
    ASSERT_EQ(n, 1);
    EXPECT_EQ(rows[0].PatientName, "");
    EXPECT_EQ(rows[0].ScheduledProcedureStepID, "");
    EXPECT_TRUE(log.Has("ERROR, SearchWorklist, C-FIND status == " + std::to_string(failure)));
    EXPECT_TRUE(seen.released) << failure;
  }
}

TEST(WorklistSearchFake, ResponseThatNeverComesEndsAtTheTimeOut) {
  LogCapture log(2);  // debug logging lists the messages
  Seen seen;
  FakeScp scp(FindScript(
      seen, [](Connection& c, uint16_t id) { SendFind(c, id, 0xFF00, kWorklistFind, WorklistMatch("A^A", "S1")); }));
  int n = SearchWorklist(Day(), {"SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), 1}, nullptr, nullptr);
  scp.Join();
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(log.Has("SCRIVARA >> FAKESCP"));
}

TEST(FindList, WriteAndReadAtTheSeriesLevel) {
  {
    LogCapture log;
    FindList none;
    EXPECT_FALSE(WriteFindRQ(nullptr, none, kStudyRootFind, "STUDY"));
    FindList wrong{SeriesInfo{}};
    EXPECT_FALSE(WriteFindRQ(nullptr, wrong, kStudyRootFind, "STUDY"));
    EXPECT_EQ(wrong.size(), 1u);  // left for the caller
    EXPECT_EQ(log.Problems().size(), 2u);
  }
  Seen seen;
  FakeScp scp(FindScript(seen, [](Connection& c, uint16_t id) {
    SendFind(c, id, 0xFF00, kStudyRootFind,
             fakescp::Encode({fakescp::Text(0x0008, 0x0060, "MR"), fakescp::UI(0x0020, 0x000E, "1.2.9")}));
    SendFind(c, id, 0x0000, kStudyRootFind);
  }));
  PDU_Service pdu;
  ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kStudyRootFind, 5));
  SeriesInfo q;
  q.StudyInstanceUID = "1.2.3";
  FindList records{q};
  ASSERT_TRUE(WriteFindRQ(&pdu, records, kStudyRootFind, "SERIES"));
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(ReadFindRSP(&pdu, records, "SERIES"), 0xFF00);
  ASSERT_EQ(records.size(), 1u);
  ASSERT_TRUE(std::holds_alternative<SeriesInfo>(records[0]));
  EXPECT_EQ(std::get<SeriesInfo>(records[0]).Modality, "MR");
  EXPECT_EQ(std::get<SeriesInfo>(records[0]).SeriesInstanceUID, "1.2.9");
  EXPECT_EQ(ReadFindRSP(&pdu, records, "SERIES"), 0);
  EXPECT_EQ(records.size(), 1u);  // success adds no record
  pdu.Close();
  scp.Join();
  auto idf = Elements(seen.identifier);
  ASSERT_GE(idf.size(), 3u);
  EXPECT_EQ(Text(idf[2].value), "SERIES");
}

}  // namespace
