// Scanning through SANE's test backend only: SANE_CONFIG_DIR points at a folder of the test's own
// (dll.conf holding "test", test.conf with the page and options), never at the system's.
#include "convert/scanner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/files.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace {

// A SANE configuration with the test backend alone; each case writes its own test.conf.
class Scanner : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeTempDir("sane");
    testsupport::WriteAll(dir_ + "/dll.conf", "test\n");
    ::setenv("SANE_CONFIG_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("SANE_CONFIG_DIR");
    testsupport::RemoveTree(dir_);
  }
  // A4 at the given options; the test backend reads this when SANE starts.
  void Configure(const std::string& options) {
    testsupport::WriteAll(dir_ + "/test.conf", "number_of_devices 2\nbr_x 210\nbr_y 297\n" + options);
  }
  Bitmap Scan(const ScanSettings& settings, ScanResult expected = ScanResult::Page) {
    SaneSession sane;
    Bitmap page;
    std::string message;
    EXPECT_EQ(sane.ScanPage("test:0", settings, {}, page, message), expected) << message;
    return page;
  }
  std::string dir_;
};

TEST_F(Scanner, DevicesAndAColourPage) {
  Configure("test-picture \"Color pattern\"\n");
  SaneSession sane;
  ASSERT_TRUE(sane.Ready());
  const std::vector<ScannerDevice> devices = sane.Devices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].name, "test:0");
  EXPECT_EQ(devices[0].Entry(), "test:0;Noname frontend-tester;virtual device");
  Bitmap page;
  std::string message;
  std::vector<int> percents;
  ASSERT_EQ(sane.ScanPage("test:0", {true, 50, false}, [&](int p) { percents.push_back(p); return true; }, page, message),
            ScanResult::Page);
  // A4 at 50 dpi; the nearest resolution the range allows.
  EXPECT_NEAR(page.width, 413, 2);
  EXPECT_NEAR(page.height, 585, 2);
  bool coloured = false;
  for (int y = 0; y < page.height && !coloured; y += 7)
    for (int x = 0; x < page.width; x += 7) {
      const uint8_t* px = page.Row(y) + 3 * x;
      coloured = coloured || px[0] != px[1] || px[1] != px[2];
    }
  EXPECT_TRUE(coloured);
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 100);
}

TEST_F(Scanner, EveryDepthAndFrameLayoutMakesTheSamePage) {
  Configure("test-picture \"Grid\"\ndepth 8\n");
  const Bitmap grey8 = Scan({false, 50, false});
  Configure("test-picture \"Grid\"\ndepth 16\n");
  EXPECT_EQ(Scan({false, 50, false}).pixels, grey8.pixels);
  Configure("test-picture \"Grid\"\ndepth 1\n");
  EXPECT_EQ(Scan({false, 50, false}).pixels, grey8.pixels);  // the grid is black and white
  Configure("test-picture \"Color pattern\"\n");
  const Bitmap onePass = Scan({true, 50, false});
  Configure("test-picture \"Color pattern\"\nthree-pass true\n");
  EXPECT_EQ(Scan({true, 50, false}).pixels, onePass.pixels);
  // A hand scanner does not say its length (lines = -1): the page is what it sends.
  Configure("test-picture \"Color pattern\"\nhand-scanner true\n");
  const Bitmap hand = Scan({true, 50, false});
  EXPECT_GT(hand.height, 0);
  EXPECT_GT(hand.width, 0);
}

TEST_F(Scanner, StatusesCancelAndTheFeeder) {
  Configure("read-status-code \"SANE_STATUS_JAMMED\"\n");
  {
    LogCapture log;
    SaneSession sane;
    Bitmap page;
    std::string message;
    EXPECT_EQ(sane.ScanPage("test:0", {}, {}, page, message), ScanResult::Failed);
    EXPECT_EQ(message, "ERROR, acquiring image: 00000006 Document feeder jammed");
    EXPECT_TRUE(page.Empty());
    EXPECT_EQ(log.Messages(), std::vector<std::string>{message});
  }
  Configure("");
  {
    SaneSession sane;
    Bitmap page;
    std::string message;
    EXPECT_EQ(sane.ScanPage("test:0", {}, [](int) { return false; }, page, message), ScanResult::Cancelled);
    EXPECT_TRUE(page.Empty());
    EXPECT_EQ(sane.ScanPage("test:9", {}, {}, page, message), ScanResult::Failed);  // no such device
    EXPECT_EQ(message.rfind("ERROR, acquiring image: ", 0), 0u);
  }
  // One run of the feeder takes every sheet: the test backend's holds ten.
  Configure("");
  SaneSession sane;
  int sheets = 0;
  std::string message;
  EXPECT_EQ(sane.ScanSheets("test:0", {false, 50, true}, {}, [&sheets](Bitmap&& page) { sheets += !page.Empty(); },
                            message),
            ScanResult::Page)
      << message;
  EXPECT_EQ(sheets, 10);
}

}  // namespace
