// Scanning through SANE's test backend only: SANE_CONFIG_DIR points at a folder of the test's own
// (dll.conf holding "test", test.conf with the page and options), never at the system's.
#include "convert/scanner.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tests/support/files.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace {

constexpr const char kSaneTestBackend[] = "/usr/lib/x86_64-linux-gnu/sane/libsane-test.so.1";

// A SANE configuration with the test backend alone (A4 pages). The backend keeps its options while
// it is loaded, so every scan sets all the options it depends on.
class Scanner : public ::testing::Test {
 protected:
  void SetUp() override {
    // The test backend stays loaded when SANE lets it go, so that the leak checker can name what it
    // keeps (scripts/lsan.supp).
    static void* const kKeep = ::dlopen(kSaneTestBackend, RTLD_NOW | RTLD_NODELETE);
    (void)kKeep;
    dir_ = testsupport::MakeTempDir("sane");
    testsupport::WriteAll(dir_ + "/dll.conf", "test\n");
    testsupport::WriteAll(dir_ + "/test.conf", "number_of_devices 2\nbr_x 210\nbr_y 297\n");
    ::setenv("SANE_CONFIG_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("SANE_CONFIG_DIR");
    testsupport::RemoveTree(dir_);
  }
  // Settings with the test backend's options: the picture, the depth and the frame layout.
  static ScanSettings With(bool colour, const std::string& picture, int depth = 8, bool threePass = false,
                           bool hand = false, const std::string& status = "Default") {
    ScanSettings s{colour, 50, false, {}};
    s.options = {{"test-picture", picture}, {"depth", std::to_string(depth)},
                 {"three-pass", threePass ? "yes" : "no"}, {"hand-scanner", hand ? "yes" : "no"},
                 {"read-return-value", status}};
    return s;
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
  SaneSession sane;
  ASSERT_TRUE(sane.Ready());
  const std::vector<ScannerDevice> devices = sane.Devices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].name, "test:0");
  EXPECT_EQ(devices[0].Entry(), "test:0;Noname frontend-tester;virtual device");
  // What the scan dialog offers: the device's own mode and source strings, common resolutions
  // within its range.
  const std::vector<ScannerOption> options = sane.Options("test:0");
  ASSERT_EQ(options.size(), 3u);
  EXPECT_EQ(options[0].name, "mode");
  EXPECT_NE(std::find(options[0].choices.begin(), options[0].choices.end(), "Color"), options[0].choices.end());
  EXPECT_EQ(options[1].name, "resolution");
  EXPECT_EQ(options[1].choices.front(), "75");
  EXPECT_EQ(options[1].choices.back(), "1200");
  EXPECT_EQ(options[2].name, "source");
  EXPECT_EQ(std::count_if(options[2].choices.begin(), options[2].choices.end(), IsFeederSource), 1);
  EXPECT_TRUE(sane.Options("test:9").empty());
  Bitmap page;
  std::string message;
  std::vector<int> percents;
  ASSERT_EQ(sane.ScanPage("test:0", With(true, "Color pattern"), [&](int p) { percents.push_back(p); return true; },
                          page, message),
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

TEST_F(Scanner, EveryDepthAndFrameLayoutMakesAPage) {
  const Bitmap grey8 = Scan(With(false, "Grid", 8));
  EXPECT_EQ(Scan(With(false, "Grid", 16)).pixels, grey8.pixels);  // the high byte of each sample
  const Bitmap grey1 = Scan(With(false, "Grid", 1));
  EXPECT_EQ(grey1.width, grey8.width);
  EXPECT_EQ(grey1.height, grey8.height);
  const Bitmap onePass = Scan(With(true, "Color pattern"));
  EXPECT_EQ(Scan(With(true, "Color pattern", 8, true)).pixels, onePass.pixels);
  // A hand scanner does not say its length (lines = -1): the page is what it sends.
  const Bitmap hand = Scan(With(true, "Color pattern", 8, false, true));
  EXPECT_GT(hand.height, 0);
  EXPECT_GT(hand.width, 0);
}

TEST_F(Scanner, StatusesCancelAndTheFeeder) {
  {
    LogCapture log;
    SaneSession sane;
    Bitmap page;
    std::string message;
    EXPECT_EQ(sane.ScanPage("test:0", With(false, "Grid", 8, false, false, "SANE_STATUS_JAMMED"), {}, page, message),
              ScanResult::Failed);
    EXPECT_EQ(message, "ERROR, acquiring image: 00000006 Document feeder jammed");
    EXPECT_TRUE(page.Empty());
    EXPECT_EQ(log.Messages(), std::vector<std::string>{message});
  }
  {
    SaneSession sane;
    Bitmap page;
    std::string message;
    EXPECT_EQ(sane.ScanPage("test:0", With(false, "Grid"), [](int) { return false; }, page, message),
              ScanResult::Cancelled);
    EXPECT_TRUE(page.Empty());
    EXPECT_EQ(sane.ScanPage("test:9", With(false, "Grid"), {}, page, message), ScanResult::Failed);  // no such device
    EXPECT_EQ(message.rfind("ERROR, acquiring image: ", 0), 0u);
  }
  // One run of the feeder takes every sheet: the test backend's holds ten.
  SaneSession sane;
  int sheets = 0;
  std::string message;
  ScanSettings feeder = With(false, "Grid");
  feeder.feeder = true;
  EXPECT_EQ(sane.ScanSheets("test:0", feeder, {}, [&sheets](Bitmap&& page) { sheets += !page.Empty(); }, message),
            ScanResult::Page)
      << message;
  EXPECT_EQ(sheets, 10);
}

}  // namespace
