// The sending road and the study search over DICOMweb against Orthanc's DICOMweb plugin: basic
// authentication wrong and right, names in any character set, and a server that stops mid-batch,
// whose unsent objects stay for the outbox.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "convert/outbox.h"
#include "convert/sending.h"
#include "core/config.h"
#include "core/dcmobj.h"
#include "query/studyquery.h"
#include "query/tests/query_test_support.h"
#include "tests/support/orthanc.h"
#include "tests/support/small_image.h"

namespace {

// An object of a patient with a Greek name, in UTF-8.
std::string GreekObject(const std::string& dir) {
  DcmObj obj = testsupport::SmallImage("1.2.826.0.1.3680043.9.7003.1.1", 2);
  obj.SetText(0x0008, 0x0005, "ISO_IR 192");
  obj.SetText(0x0008, 0x0020, "20150312");
  obj.SetText(0x0008, 0x0060, "OT");
  obj.SetText(0x0010, 0x0010, "Παπαδόπουλος^Γιώργος");
  obj.SetText(0x0010, 0x0020, "GR1");
  obj.SetText(0x0020, 0x000D, "1.2.826.0.1.3680043.9.7003.1");
  obj.SetText(0x0020, 0x000E, "1.2.826.0.1.3680043.9.7003.1.2");
  const std::string path = dir + "/greek.dcm";
  EXPECT_TRUE(obj.Write(path));
  return path;
}

std::vector<BatchObject> Batch(const std::vector<std::string>& files) {
  std::vector<BatchObject> batch;
  for (const std::string& f : files) {
    batch.emplace_back();
    batch.back().path = f;
    batch.back().document = f.substr(f.rfind('/') + 1);
  }
  return batch;
}

TEST(DicomWebOrthanc, SendSearchAuthenticationAndAStopMidBatch) {
  testsupport::Orthanc o;
  o.UseDicomWeb("scrivara", "s3cret");
  o.encoding = "Utf8";  // else it answers in Latin-1, which has no Greek
  ASSERT_TRUE(o.Start());
  std::vector<std::string> files = querytest::MakeStudyFiles(o.dir.path);
  files.push_back(GreekObject(o.dir.path));
  AssociationTarget target;
  target.timeoutSeconds = 10;
  target.web.enabled = true;
  target.web.url = o.WebUrl();
  target.web.auth = DicomWebSettings::Auth::Basic;
  target.web.user = "scrivara";
  target.web.password = "wrong";

  // A wrong password: nothing goes, each object says why; the search says it too.
  std::vector<BatchObject> batch = Batch(files);
  EXPECT_FALSE(SendBatch(batch, target, {}));
  for (const BatchObject& b : batch) EXPECT_EQ(StateText(b), "not stored (HTTP 401 Unauthorized)");
  QueryFields day;
  day.StudyDate = "20150312";
  SearchOutcome end;
  EXPECT_EQ(SearchStudies(day, target, {}, {}, &end), 0);
  EXPECT_EQ(end.problem, "HTTP 401 Unauthorized");

  // The right one: all stored as they are, and found again with their names in UTF-8.
  target.web.password = "s3cret";
  batch = Batch(files);
  EXPECT_TRUE(SendBatch(batch, target, {}));
  EXPECT_EQ(ResultDetails(batch), "study1.dcm: accepted (Little Endian Explicit VR)\n"
                                  "study2.dcm: accepted (Little Endian Explicit VR)\n"
                                  "study3.dcm: accepted (Little Endian Explicit VR)\n"
                                  "greek.dcm: accepted (Little Endian Explicit VR)\n");
  std::map<std::string, StudyInfo> found;
  int hooks = 0;
  EXPECT_EQ(SearchStudies(day, target, [&](const StudyInfo& s) { found[s.PatientID] = s; }, [&] { ++hooks; }, &end), 3);
  EXPECT_EQ(end.status, 0) << end.problem;
  EXPECT_EQ(hooks, 3);
  EXPECT_EQ(found["GR1"].PatientName, "Παπαδόπουλος^Γιώργος");
  EXPECT_EQ(found["PID1"].PatientName, "Müller^Hans");
  EXPECT_EQ(found["PID1"].StudyDescription, "Thorax été");
  EXPECT_EQ(found["PID1"].AccessionNumber, "ACC1");
  EXPECT_EQ(found["PID1"].StudyTime, "101500");
  EXPECT_EQ(found["PID1"].ModalitiesInStudy, "CT");
  QueryFields mr = day;
  mr.ModalityIndex = 3;  // MR
  found.clear();
  EXPECT_EQ(SearchStudies(mr, target, [&](const StudyInfo& s) { found[s.PatientID] = s; }, {}), 1);
  EXPECT_EQ(found.count("PID2"), 1u);

  // One object a request; the server stops after the first: the rest are not stored and go to
  // the outbox.
  const std::string home = testsupport::MakeTempDir("dicomweb_outbox");
  ExeFolder = home + "/";
  ::mkdir((home + "/outbox").c_str(), 0700);
  target.web.instancesPerRequest = 1;
  batch = Batch(files);
  EXPECT_FALSE(SendBatch(batch, target, [&](size_t index, const BatchObject&) {
    if (index == 0) o.process.Stop(0);
  }));
  EXPECT_EQ(batch[0].state, BatchObject::State::Accepted);
  std::vector<std::string> unsent;
  for (size_t i = 1; i < batch.size(); ++i) {
    EXPECT_EQ(batch[i].state, BatchObject::State::Refused);
    EXPECT_NE(StateText(batch[i]).find("not stored (127.0.0.1:" + std::to_string(o.httpPort)), std::string::npos)
        << StateText(batch[i]);
    unsent.push_back(batch[i].path);
  }
  EXPECT_TRUE(MoveToOutbox(unsent).empty());
  EXPECT_EQ(OutboxFiles().size(), 3u);
  ExeFolder.clear();
  testsupport::RemoveTree(home);
}

}  // namespace
