// The batch model of the conversion forms, without a window: the life cycle of its pages through a
// send to the scripted peer, turn and delete with their UID rules, and what closing keeps.
#include "convert/batch_model.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <string>

#include "convert/outbox.h"
#include "convert/scanned_pages.h"
#include "core/config.h"
#include "core/dcmobj.h"
#include "tests/support/fake_scp.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace {

constexpr char kJpegBaseline[] = "1.2.840.10008.1.2.4.50";

std::string Uid(const std::string& path) {
  DcmObj o;
  return o.Read(path) ? o.GetString(0x0008, 0x0018) : "";
}

bool Exists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

// Answers each C-STORE of one association with the next status of `statuses`.
fakescp::FakeScp::Script Answering(std::vector<uint16_t> statuses) {
  return [statuses](fakescp::Connection& c) {
    fakescp::AcceptAssociation(c, kJpegBaseline);
    for (uint16_t status : statuses) {
      fakescp::Message command, dataSet;
      if (!c.ReadMessage(command) || !c.ReadMessage(dataSet)) return;
      const auto cmd = fakescp::Parse(command.data);
      c.Send(fakescp::PData({{command.context, 0x03,
                              fakescp::StoreRSP(fakescp::MessageID(command.data), status,
                                                fakescp::GetText(cmd, 0, 0x0002), fakescp::GetText(cmd, 0, 0x1000))}}));
    }
    fakescp::ServeRelease(c);
  };
}

// A batch in a folder of the test's own, with its program folders there.
class BatchModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeTempDir("batch_model");
    ExeFolder = dir_ + "/";
    ::mkdir((dir_ + "/temp").c_str(), 0700);
    study_.PatientID = "MODEL1";
    study_.PatientName = "Model^Mia";
  }
  void TearDown() override {
    ExeFolder.clear();
    testsupport::RemoveTree(dir_);
  }
  // Blank pages of width x height added to the model as "Page 1", "Page 2", ...
  void AddPages(int n, int width, int height) {
    for (int i = 0; i < n; ++i) {
      Bitmap page(width, height);
      BatchObject o;
      o.path = BuildPageFromBitmap(page, study_, model_.Batch(), counter_);
      ASSERT_FALSE(o.path.empty());
      o.document = "Page " + std::to_string(model_.Size() + 1);
      model_.Add(o);
    }
  }
  std::string dir_;
  StudyInfo study_;
  int32_t counter_ = 7;
  BatchModel model_;
};

TEST_F(BatchModelTest, PagesThroughSendTurnDeleteAndClose) {
  StudyInfo& study = study_;
  int32_t& counter = counter_;
  BatchModel& model = model_;
  ASSERT_TRUE(model.Start(study, dir_ + "/temp", counter, false));
  EXPECT_EQ(counter, 0);  // a new batch numbers from 1
  EXPECT_EQ(study.StudyInstanceUID, model.Batch().BaseUID);
  AddPages(3, 64, 48);
  ASSERT_EQ(model.Size(), 3u);
  const std::string base = model.Batch().BaseUID;
  EXPECT_EQ(Uid(model.Items()[0].path), base + ".1.1");

  // The send works on a copy; each result lands in the model by index and file.
  fakescp::FakeScp scp(Answering({0x0000, 0xA700, 0x0000}));
  AssociationTarget target{"SCRIVARA", "FAKE", "127.0.0.1", scp.PortText(), 5, false};
  std::vector<BatchObject> sent = model.ToSend();
  SendBatch(sent, target, [&model](size_t index, const BatchObject& o) { model.SetResult(index, o); });
  EXPECT_EQ(ResultDetails(model.Items()), "Page 1: accepted (JPEG BaseLine Lossy)\nPage 2: refused, status A700H (JPEG BaseLine Lossy)\n"
            "Page 3: accepted (JPEG BaseLine Lossy)\n");
  EXPECT_EQ(model.Unaccepted(), 1u);

  // A page never accepted keeps its identity when turned; an accepted one becomes a new object.
  const std::string refused = model.Items()[1].path;
  ASSERT_TRUE(model.Turn(1, true, study, counter));
  EXPECT_EQ(model.Items()[1].path, refused);
  EXPECT_EQ(Uid(refused), base + ".1.2");
  const std::string held = model.Items()[0].path;
  LogCapture log;
  Bitmap turned;
  ASSERT_TRUE(model.Turn(0, false, study, counter, &turned));
  EXPECT_EQ(turned.width, 48);
  const std::string remade = model.Items()[0].path;
  EXPECT_EQ(Uid(remade), base + ".1.4");
  EXPECT_FALSE(Exists(held));
  EXPECT_EQ(model.Items()[0].state, BatchObject::State::NotSent);
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"INFO, RotateScannedPage, the PACS holds " + base +
                                                     ".1.1 as it was; the turned page is the new object " + base +
                                                     ".1.4"});
  EXPECT_EQ(model.Unaccepted(), 2u);

  // Delete: the file goes, the others keep their numbers.
  const std::string third = model.Items()[2].path;
  ASSERT_TRUE(model.Remove(2));
  EXPECT_FALSE(Exists(third));
  EXPECT_FALSE(model.Remove(5));

  // Closing with the outbox: the two unaccepted pages move there; nothing else is left.
  const BatchModel::Closed closed = model.Close(true);
  EXPECT_EQ(closed.kept, 2u);
  EXPECT_TRUE(closed.stayed.empty());
  EXPECT_EQ(OutboxFiles().size(), 2u);
  EXPECT_FALSE(Exists(remade));
  EXPECT_FALSE(Exists(refused));
  EXPECT_EQ(model.Size(), 0u);
}

// A result for an item that is no longer where the send found it is dropped, and closing without
// the outbox deletes every file of the batch.
TEST_F(BatchModelTest, LateResultsAndClosingWithoutTheOutbox) {
  BatchModel& model = model_;
  counter_ = 0;
  ASSERT_TRUE(model.Start(study_, dir_, counter_, true));
  AddPages(2, 16, 16);
  const std::vector<std::string> files = {model.Items()[0].path, model.Items()[1].path};
  BatchObject late = model.Items()[0];
  late.state = BatchObject::State::Accepted;
  model.Remove(0);
  model.SetResult(0, late);  // index 0 is the second page now
  EXPECT_EQ(model.Items()[0].state, BatchObject::State::NotSent);
  EXPECT_EQ(model.Close(false).kept, 0u);
  EXPECT_FALSE(Exists(files[1]));
  EXPECT_TRUE(OutboxFiles().empty());
  StudyInfo nobody;
  EXPECT_FALSE(model.Start(nobody, dir_, counter_, false));  // no Patient ID, no UIDs
}

}  // namespace
