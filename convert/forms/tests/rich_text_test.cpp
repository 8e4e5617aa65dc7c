// The editor's document and the styled-text model: what goes in comes out, RTF included.
#include "convert/forms/rich_text.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

namespace {

// Fonts need the window system's application object (offscreen here).
class QtApp : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "rich_text_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QGuiApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QGuiApplication> app_;
};
const auto* const kApp = ::testing::AddGlobalTestEnvironment(new QtApp);

TEST(RichText, TheModelGoesThroughTheDocumentUnchanged) {
  StyledText text;
  TextRun a;
  a.text = "First line\nsecond line, caf\xC3\xA9";
  TextRun b;
  b.text = " bold red";
  b.bold = true;
  b.coloured = true;
  b.rgb = 0xCC0000;
  b.halfPoints = 32;
  b.font = "DejaVu Sans Mono";
  text.Append(a);
  text.Append(b);
  text.paragraphs.emplace_back();
  text.paragraphs.back().alignment = Alignment::Center;
  TextRun c;
  c.text = "centred \xE2\x82\xAC";
  c.italic = c.underline = true;
  text.Append(c);
  QTextDocument doc;
  ToDocument(text, doc);
  EXPECT_EQ(doc.toPlainText().toStdString(), "First line\nsecond line, caf\xC3\xA9 bold red\ncentred \xE2\x82\xAC");
  EXPECT_EQ(FromDocument(doc), text);
  // Through RTF as the editor saves and opens it.
  StyledText back;
  ASSERT_TRUE(ReadRtf(WriteRtf(FromDocument(doc)), back, "saved"));
  QTextDocument reopened;
  ToDocument(back, reopened);
  EXPECT_EQ(FromDocument(reopened), text);
  QTextDocument empty;
  EXPECT_TRUE(FromDocument(empty).paragraphs.empty());
}

}  // namespace
