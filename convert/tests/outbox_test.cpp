// The outbox: private like the rest of the patient data, and only accepted objects leave it.
#include "convert/outbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "convert/batch.h"
#include "core/config.h"
#include "core/dcmobj.h"
#include "tests/support/fake_scp.h"
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

// Only a response that answers the request and says the object was stored lets it leave the
// outbox: no Status and another request's Message ID keep it; a warning (B000H: stored, with
// changes) lets it go, with its status in the details.
TEST(Outbox, OnlyAStoredAnswerLetsAnObjectGo) {
  const std::string dir = testsupport::MakeTempDir("outbox_answers");
  ExeFolder = dir + "/";
  ::mkdir((dir + "/outbox").c_str(), 0700);
  for (const char* name : {"a.dcm", "b.dcm", "c.dcm"}) {
    DcmObj obj;
    obj.transferSyntax = "1.2.840.10008.1.2.1";
    obj.AddText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.88.11");
    obj.AddText(0x0008, 0x0018, std::string("1.2.3.") + char('1' + (name[0] - 'a')));
    ASSERT_TRUE(SaveObjectFile(obj, dir + "/outbox/" + name, "test"));
  }
  fakescp::FakeScp scp([](fakescp::Connection& c) {
    fakescp::AcceptAssociation(c, "1.2.840.10008.1.2.1");
    for (int k = 0; k < 3; ++k) {  // no Status; another request's Message ID; a warning
      fakescp::Message command, dataSet;
      if (!c.ReadMessage(command) || !c.ReadMessage(dataSet)) return;
      std::vector<fakescp::Element> rsp = {fakescp::US(0, 0x0100, 0x8001)};
      if (k > 0) rsp.push_back(fakescp::US(0, 0x0120, k == 1 ? 999 : fakescp::MessageID(command.data)));
      rsp.push_back(fakescp::US(0, 0x0800, 0x0101));
      if (k > 0) rsp.push_back(fakescp::US(0, 0x0900, k == 1 ? 0 : 0xB000));
      c.Send(fakescp::PData({{command.context, 0x03, fakescp::Command(rsp)}}));
    }
    fakescp::ServeRelease(c);
  });
  std::vector<BatchObject> sent = OutboxBatch();
  AssociationTarget target;
  target.callingAE = "SCRIVARA";
  target.calledAE = "FAKESCP";
  target.host = "127.0.0.1";
  target.port = scp.PortText();
  target.timeoutSeconds = 5;
  LogCapture log;
  EXPECT_FALSE(SendBatch(sent, target, {}));
  scp.Join();
  ClearAccepted(sent);
  EXPECT_EQ(ResultDetails(sent),
            "a.dcm: refused: the response carries no status (Little Endian Explicit VR)\n"
            "b.dcm: refused: the response answers another request (Little Endian Explicit VR)\n"
            "c.dcm: accepted with a warning, status B000H (Little Endian Explicit VR)\n");
  EXPECT_EQ(OutboxFiles(), (std::vector<std::string>{dir + "/outbox/a.dcm", dir + "/outbox/b.dcm"}));
  ExeFolder.clear();
  testsupport::RemoveTree(dir);
}

}  // namespace
