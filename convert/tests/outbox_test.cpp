// The outbox: private like the rest of the patient data, and only accepted objects leave it.
#include "convert/outbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "convert/batch.h"
#include "core/config.h"
#include "core/dcmobj.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace {

unsigned Mode(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 0777) : 01000u;
}

TEST(Outbox, KeepsObjectsPrivatelyAndLetsOnlyAcceptedOnesGo) {
  const std::string dir = testsupport::MakeTempDir("outbox");
  ExeFolder = dir + "/";
  ::mkdir((dir + "/temp").c_str(), 0700);
  ::mkdir((dir + "/outbox").c_str(), 0755);  // made open by someone else
  std::vector<std::string> files;
  for (const char* name : {"a.dcm", "b.dcm"}) {
    DcmObj obj;
    obj.AddText(0x0010, 0x0010, "Doe^Jane");
    files.push_back(dir + "/temp/" + name);
    ASSERT_TRUE(SaveObjectFile(obj, files.back(), "test"));
    EXPECT_EQ(Mode(files.back()), 0600u);
  }
  LogCapture log;
  EXPECT_TRUE(MoveToOutbox(files).empty());
  EXPECT_EQ(Mode(dir + "/outbox"), 0700u);
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"WARNING, folder " + dir +
                                                     "/outbox was open to other users (mode 0755), now 0700"});
  EXPECT_EQ(OutboxFiles(), (std::vector<std::string>{dir + "/outbox/a.dcm", dir + "/outbox/b.dcm"}));
  EXPECT_EQ(Mode(dir + "/outbox/a.dcm"), 0600u);

  std::vector<BatchObject> sent = OutboxBatch();
  ASSERT_EQ(sent.size(), 2u);
  sent[0].state = BatchObject::State::Accepted;
  sent[1].state = BatchObject::State::Refused;
  sent[1].status = 0xA700;
  EXPECT_EQ(ResultDetails(sent), "a.dcm: accepted\nb.dcm: refused, status A700H\n");
  ClearAccepted(sent);
  EXPECT_EQ(OutboxFiles(), std::vector<std::string>{dir + "/outbox/b.dcm"});
  // A name already in the outbox gets a number.
  const std::string again = dir + "/temp/b.dcm";
  DcmObj obj;
  ASSERT_TRUE(SaveObjectFile(obj, again, "test"));
  EXPECT_TRUE(MoveToOutbox({again}).empty());
  EXPECT_EQ(OutboxFiles(), (std::vector<std::string>{dir + "/outbox/b-2.dcm", dir + "/outbox/b.dcm"}));
  ExeFolder.clear();
  testsupport::RemoveTree(dir);
}

}  // namespace
