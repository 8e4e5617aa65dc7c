// The report editor's file work on a long report, for bench/run:
//   editor_rtf generate FILE      writes a 300-page RTF report (paragraphs with bold, italic and
//                                 code-page characters)
//   editor_rtf open FILE          reads it into an editor document (ReadRtf, ToDocument)
//   editor_rtf save FILE OUT      reads it, then saves the document again (FromDocument, WriteRtf)
//   editor_rtf hostile FILE       writes a 3 MB hostile report: 5000 fonts with long names, then
//                                 runs that change font at every character
//   editor_rtf read FILE          reads it into the model only (ReadRtf)
// open and save print the time of their part as "elapsed_us N" on stderr.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTextDocument>
#include <cstdio>
#include <string>

#include "convert/forms/rich_text.h"
#include "convert/rtf.h"
#include "core/fileutil.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "generate") {
    StyledText report;
    for (int page = 0; page < 300; ++page)
      for (int p = 0; p < 8; ++p) {
        report.paragraphs.emplace_back();
        TextRun lead;
        lead.bold = true;
        lead.text = "Finding " + std::to_string(page * 8 + p + 1) + ": ";
        report.Append(lead);
        TextRun body;
        for (int s = 0; s < 6; ++s)
          body.text += "The caf\xC3\xA9 lesion measures 5 mm \xE2\x80\x93 unchanged since the prior examination. ";
        report.Append(body);
        TextRun note;
        note.italic = true;
        note.text = "Impression: stable.";
        report.Append(note);
      }
    return WriteWholeFile(argv[2], WriteRtf(report), "editor_rtf") ? 0 : 1;
  }
  if (mode == "hostile") {
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl";
    constexpr int kFonts = 5000;
    for (int f = 0; f < kFonts; ++f) {
      rtf += "{\\f" + std::to_string(f) + "\\fnil\\fcharset0 ";
      for (int r = 0; r < 20; ++r) rtf += "Font" + std::to_string(f) + " ";
      rtf += ";}";
    }
    rtf += "}\n";
    uint32_t x = 7;
    while (rtf.size() < (3u << 20)) rtf += "\\f" + std::to_string(1 + (x = x * 1103515245u + 12345u) % (kFonts - 1)) + " x";
    rtf += "}";
    return WriteWholeFile(argv[2], rtf, "editor_rtf") ? 0 : 1;
  }
  if (mode == "read") {
    std::string bytes;
    if (!ReadWholeFile(argv[2], bytes, "editor_rtf")) return 1;
    QElapsedTimer clock;
    clock.start();
    StyledText text;
    if (!ReadRtf(bytes, text, argv[2])) return 1;
    std::fprintf(stderr, "elapsed_us %lld\n", static_cast<long long>(clock.nsecsElapsed() / 1000));
    return 0;
  }
  if ((mode != "open" && mode != "save") || (mode == "save" && argc != 4)) {
    std::fprintf(stderr, "usage: editor_rtf generate|hostile|open|read FILE | editor_rtf save FILE OUT\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  std::string bytes;
  if (!ReadWholeFile(argv[2], bytes, "editor_rtf")) return 1;
  QTextDocument document;
  QElapsedTimer clock;
  clock.start();
  StyledText text;
  if (!ReadRtf(bytes, text, argv[2])) return 1;
  ToDocument(text, document);
  if (mode == "save") {
    clock.restart();
    if (!WriteWholeFile(argv[3], WriteRtf(FromDocument(document)), "editor_rtf")) return 1;
  }
  std::fprintf(stderr, "elapsed_us %lld\n", static_cast<long long>(clock.nsecsElapsed() / 1000));
  return 0;
}
