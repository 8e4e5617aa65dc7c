// The study and worklist searches against real servers: DCMTK dcmqrscp and wlmscpfs, Orthanc.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "core/audit.h"
#include "core/dcmobj.h"
#include "net/batch_store.h"
#include "net/dimse.h"
#include "net/pdu_service.h"
#include "query/studyquery.h"
#include "query/tests/query_test_support.h"
#include "query/worklistquery.h"
#include "tests/support/tls_certificates.h"

namespace {

using namespace querytest;

struct Found {
  std::vector<StudyInfo> rows;
  int hooks = 0;
  const StudyInfo* ById(const std::string& id) const {
    for (const auto& r : rows)
      if (r.PatientID == id) return &r;
    return nullptr;
  }
};

// The TLS settings of the searches below (off unless a test turns them on).
TlsSettings g_tls;

AssociationTarget Target(const std::string& aet, int port) {
  return AssociationTarget{"SCRIVARA", aet, "127.0.0.1", std::to_string(port), 10, false, g_tls};
}

Found Search(const QueryFields& f, const std::string& aet, int port) {
  Found out;
  int n = SearchStudies(
      f, Target(aet, port), [&](const StudyInfo& s) { out.rows.push_back(s); },
      [&] { ++out.hooks; });
  EXPECT_EQ(n, int(out.rows.size()));
  EXPECT_EQ(out.hooks, n);
  return out;
}

QueryFields Day(const std::string& d) {
  QueryFields f;
  f.StudyDate = d;
  return f;
}

std::map<std::string, TWorklistItem> SearchWL(const QueryFields& f, const std::string& aet, int port,
                                              int* rows = nullptr) {
  std::map<std::string, TWorklistItem> out;
  int hooks = 0, n = 0;
  n = SearchWorklist(
      f, Target(aet, port),
      [&](const TWorklistItem& w) { out[w.PatientID] = w; }, [&] { ++hooks; });
  EXPECT_EQ(hooks, n);
  if (rows) *rows = n;
  return out;
}

void CheckWorklist(const std::string& aet, int port) {
  int n = 0;
  auto day = SearchWL(Day("20150312"), aet, port, &n);
  EXPECT_EQ(n, 3);
  ASSERT_EQ(day.size(), 3u);
  const TWorklistItem& d = day["WL1"];
  EXPECT_EQ(d.PatientName, "D\xFCrer^Albrecht");
  EXPECT_EQ(d.PatientBirthDate, "19700203");
  EXPECT_EQ(d.PatientSex, "M");
  EXPECT_EQ(d.AccessionNumber, "WACC1");
  EXPECT_EQ(d.StudyInstanceUID, "1.2.826.0.1.3680043.9.7002.1");
  EXPECT_EQ(d.RequestedProcedureDescription, "CT Thorax \xE0 jeun");
  EXPECT_EQ(d.Modality, "CT");
  EXPECT_EQ(d.ScheduledProcedureStepStartDate, "20150312");
  EXPECT_EQ(d.ScheduledProcedureStepStartTime, "0900");
  EXPECT_EQ(d.ScheduledProcedureStepID, "SPS1");
  EXPECT_EQ(d.ScheduledProcedureStepDescription, "Thorax native");
  EXPECT_EQ(d.ScheduledStationName, "STATION1");
  EXPECT_EQ(d.RequestedProcedureID, "RP-WL1");
  EXPECT_EQ(d.RequestedProcedurePriority, "HIGH");
  EXPECT_EQ(day["WL2"].PatientBirthDate, "");
  EXPECT_EQ(day["WL2"].PatientName, "Nobirth^Nina");

  QueryFields mr = Day("20150312");
  mr.ModalityIndex = 3;  // MR
  auto onlyMr = SearchWL(mr, aet, port);
  ASSERT_EQ(onlyMr.size(), 1u);
  EXPECT_EQ(onlyMr.begin()->first, "WL2");

  QueryFields exact = Day("20150312");
  exact.PatientName = "SMITH^JOHN";
  auto smith = SearchWL(exact, aet, port);
  ASSERT_EQ(smith.size(), 1u);
  EXPECT_EQ(smith.begin()->first, "WL3");
  exact.PatientName = "SMITH";  // no wildcard is added
  EXPECT_EQ(SearchWL(exact, aet, port).size(), 0u);

  auto later = SearchWL(Day("20150313"), aet, port);
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(later.begin()->first, "WL4");
}

void CheckStudies(const std::string& aet, int port, bool modalities) {
  Found day = Search(Day("20150312"), aet, port);
  ASSERT_EQ(day.rows.size(), 2u);
  const StudyInfo* a = day.ById("PID1");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->PatientName, "M\xFCller^Hans");
  EXPECT_EQ(a->PatientBirthDate, "19600101");
  EXPECT_EQ(a->PatientSex, "M");
  EXPECT_EQ(a->StudyDate, "20150312");
  EXPECT_EQ(a->StudyTime, "101500");
  EXPECT_EQ(a->AccessionNumber, "ACC1");
  EXPECT_EQ(a->StudyDescription, "Thorax \xE9t\xE9");
  EXPECT_EQ(a->StudyInstanceUID, "1.2.826.0.1.3680043.9.7001.1");
  if (modalities) {
    EXPECT_EQ(a->ModalitiesInStudy, "CT");
  }
  ASSERT_NE(day.ById("PID2"), nullptr);
  EXPECT_EQ(day.ById("PID2")->PatientName, "Adams^Zoe");

  QueryFields byId = Day("20150312");
  byId.PatientID = "PID2";
  Found two = Search(byId, aet, port);
  ASSERT_EQ(two.rows.size(), 1u);
  EXPECT_EQ(two.rows[0].AccessionNumber, "ACC2");

  QueryFields byName = Day("20150313");
  byName.PatientName = "Smi*";
  Found three = Search(byName, aet, port);
  ASSERT_EQ(three.rows.size(), 1u);
  EXPECT_EQ(three.rows[0].PatientID, "PID3");

  EXPECT_EQ(Search(Day("20150314"), aet, port).rows.size(), 0u);

  if (modalities) {
    QueryFields mr = Day("20150312");
    mr.ModalityIndex = 3;
    Found onlyMr = Search(mr, aet, port);
    ASSERT_EQ(onlyMr.rows.size(), 1u);
    EXPECT_EQ(onlyMr.rows[0].PatientID, "PID2");
  }
}

TEST(Dcmqrscp, StudySearchOverStoredObjects) {
  LogCapture log;
  Dcmqrscp qr;
  ASSERT_TRUE(qr.Start());
  ASSERT_TRUE(StoreOurselves(MakeStudyFiles(qr.dir.path), "QRSCP", qr.port));
  // dcmqrscp answers only the keys its index knows; Modalities in Study is not among them.
  CheckStudies("QRSCP", qr.port, false);
  EXPECT_TRUE(log.Problems().empty()) << log.Text();
}

TEST(Wlmscpfs, WorklistSearch) {
  LogCapture log;
  Wlmscpfs wl;
  std::string folder = wl.Folder("WLAE");
  int i = 0;
  for (const auto& e : Worklist()) ASSERT_TRUE(MakeDicom(WorklistDump(e), folder + "/e" + std::to_string(++i) + ".wl"));
  ASSERT_TRUE(wl.Start());
  CheckWorklist("WLAE", wl.port);
  EXPECT_TRUE(log.Problems().empty()) << log.Text();
  const std::string audited = audit::LastMessageForTesting();  // the search is in the audit trail
  EXPECT_NE(audited.find("csd-code=\"110112\""), std::string::npos) << audited;
  EXPECT_NE(audited.find("ParticipantObjectID=\"1.2.840.10008.5.1.4.31\""), std::string::npos) << audited;
}

// One Orthanc for the study search and the worklist search (its start and stop take seconds).
TEST(Orthanc, StudyAndWorklistSearch) {
  LogCapture log;
  Orthanc o;
  int i = 0;
  for (const auto& e : Worklist())
    ASSERT_TRUE(MakeDicom(WorklistDump(e), o.Worklists() + "/e" + std::to_string(++i) + ".wl"));
  Entry twoSteps{"Twostep^Tom",
                 "WL5",
                 "19660606",
                 "M",
                 "WACC5",
                 "1.2.826.0.1.3680043.9.7002.5",
                 "CT and MR",
                 {{"CT", "20150312", "1200", "SPS5A", "First step", "STATION1", "Room 1"},
                  {"MR", "20150312", "1300", "SPS5B", "Second step", "STATION2", "Room 2"}}};
  ASSERT_TRUE(MakeDicom(WorklistDump(twoSteps), o.Worklists() + "/e5.wl"));
  ASSERT_TRUE(o.Start());
  ASSERT_TRUE(StoreFiles(MakeStudyFiles(o.dir.path), "ORTHANC", o.port));

  CheckStudies("ORTHANC", o.port, true);

  int n = 0;
  auto day = SearchWL(Day("20150312"), "ORTHANC", o.port, &n);
  EXPECT_EQ(n, 4);  // one row for the entry with two steps
  const TWorklistItem& t = day["WL5"];
  EXPECT_EQ(t.PatientName, "Twostep^Tom");
  EXPECT_EQ(t.ScheduledProcedureStepID, "SPS5B");  // the last step's values
  EXPECT_EQ(t.Modality, "MR");
  EXPECT_EQ(t.ScheduledProcedureStepStartTime, "1300");
  EXPECT_EQ(t.ScheduledStationName, "STATION2");
  EXPECT_EQ(t.ScheduledProcedureStepLocation, "Room 2");
  std::remove((o.Worklists() + "/e5.wl").c_str());
  CheckWorklist("ORTHANC", o.port);
  EXPECT_TRUE(log.Problems().empty()) << log.Text();
}

}  // namespace

// Orthanc with its DICOM TLS settings: echo, both searches and a send over TLS, with a client
// certificate where it asks for one, and its refusal without one.
TEST(Orthanc, EchoSearchesAndStoreOverTls) {
  using testsupport::TlsCertificates;
  for (bool required : {true, false}) {
    SCOPED_TRACE(required ? "client certificate required" : "no client certificate");
    LogCapture log;
    Orthanc o;
    o.UseTls(required);
    int i = 0;
    for (const auto& e : Worklist())
      ASSERT_TRUE(MakeDicom(WorklistDump(e), o.Worklists() + "/e" + std::to_string(++i) + ".wl"));
    ASSERT_TRUE(o.Start());
    g_tls = TlsSettings{};
    g_tls.enabled = true;
    g_tls.caFile = TlsCertificates::Path("ca.pem");
    std::string why;
    if (required) {
      EXPECT_FALSE(EchoSCU(Target("ORTHANC", o.port), &why));
      EXPECT_NE(why.find("client certificate"), std::string::npos) << why;
      g_tls.certificateFile = TlsCertificates::Path("client.pem");
      g_tls.keyFile = TlsCertificates::Path("client.key");
    }
    EXPECT_TRUE(EchoSCU(Target("ORTHANC", o.port), &why)) << why;
    const std::vector<std::string> files = MakeStudyFiles(o.dir.path);
    EXPECT_EQ(::StoreFiles(files, Target("ORTHANC", o.port), nullptr), files.size());
    CheckStudies("ORTHANC", o.port, true);
    CheckWorklist("ORTHANC", o.port);
    g_tls = TlsSettings{};
  }
}
