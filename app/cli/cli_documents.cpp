#include "app/cli/cli_documents.h"

#include <cctype>
#include <vector>

#include "codec/jpeg.h"
#include "convert/batch.h"
#include "convert/bmpfile.h"
#include "convert/page_jpeg.h"
#include "convert/rtf.h"
#include "convert/scan_object.h"
#include "convert/srtext.h"
#include "convert/word_conv.h"
#include "core/config.h"
#include "core/fileutil.h"
#include "core/log.h"

namespace cli {

namespace {

// Starts the batch of this run and claims its instance number.
bool StartRun(const Args& a, StudyInfo& study, ConversionBatch& batch, int& rc) {
  std::string error;
  if (!StudyFromArgs(a, study, error)) {
    rc = Fail(error);
    return false;
  }
  if (!StartConversionBatch(study, WorkFolder(), batch)) {
    rc = Fail("cannot start the batch");
    return false;
  }
  return true;
}

bool OnlyBlank(const std::string& text) {
  for (unsigned char c : text)
    if (c > 0x20) return false;
  return true;
}

}  // namespace

int CmdSr(const Args& a) {
  if (a.help || a.pos.size() != 2)
    return Usage(a,
                 "usage: scrivara-cli sr --patient-name N --patient-id I [study keys] IN OUT.dcm\n"
                 "  builds a Basic Text SR report from IN: a .txt file (UTF-8, or cp1252 when it is not\n"
                 "  valid UTF-8), an .rtf file (its text) or a Word 97-2003 .doc file (the text of its pieces)\n");
  const std::string& in = a.pos[0];
  const std::string ext = LowerExtension(in);
  std::string report;
  if (ext == ".doc") {
    std::vector<std::string> lines;
    if (!ReadWordText(in, lines)) return Fail("cannot read the text of Word document " + in);
    report = ReportTextFromLines(lines);
  } else if (ext == ".rtf") {
    std::string bytes;
    StyledText doc;
    if (!ReadWholeFile(in, bytes, "scrivara-cli sr")) return Fail("cannot read " + in);
    if (!ReadRtf(bytes, doc, in)) return Fail(in + " is not an RTF document");
    report = doc.PlainText();
  } else if (ext == ".txt") {
    std::string bytes;
    if (!ReadWholeFile(in, bytes, "scrivara-cli sr")) return Fail("cannot read " + in);
    report = ReportTextFromTextFile(bytes);
  } else {
    return Fail("the report must be a .txt, .rtf or .doc file: " + in);
  }
  if (OnlyBlank(report)) return Fail("the report in " + in + " is empty");
  StudyInfo study;
  ConversionBatch batch;
  int rc = 0;
  if (!StartRun(a, study, batch, rc)) return rc;
  DcmSRObj sr;
  BuildTextReport(sr, report, study, batch, InstanceCounter);
  if (!SaveObjectFile(sr, a.pos[1], "scrivara-cli sr")) return Fail("cannot write " + a.pos[1]);
  return 0;
}

int CmdImg(const Args& a) {
  if (a.help || a.pos.size() != 2)
    return Usage(a,
                 "usage: scrivara-cli img --patient-name N --patient-id I [study keys] IN OUT.dcm\n"
                 "  builds a JPEG baseline page image from IN: a 24-bit .bmp file, or a .jpg file (a baseline\n"
                 "  YCbCr JPEG with 2x2 or 2x1 luminance sampling is taken as it stands, less its metadata (EXIF,\n"
                 "  XMP, comments); a grey, 4:4:4, RGB, progressive or lossless 8-bit one is re-encoded as a page;\n"
                 "  deeper ones, damaged ones and pages over 30000 pixels a side or 100 million pixels are\n"
                 "  refused); the SOP class\n"
                 "  follows --modality (CR, CT, MR, DX, ES, OT; anything else Ultrasound)\n");
  const std::string& in = a.pos[0];
  const std::string ext = LowerExtension(in);
  std::vector<uint8_t> jpeg;
  int width = 0, height = 0;
  if (ext == ".bmp") {
    Bitmap page;
    if (!LoadBmpFile(in, page)) return Fail("cannot read " + in + " as a 24-bit uncompressed BMP file");
    if (!EncodePageJpeg(page, jpeg)) return Fail("cannot encode " + in + " as a JPEG page");
    width = page.width;
    height = page.height;
  } else if (ext == ".jpg" || ext == ".jpeg") {
    std::string bytes, why;
    if (!ReadWholeFile(in, bytes, "scrivara-cli img")) return Fail("cannot read " + in);
    if (!PageJpegFromFile(std::vector<uint8_t>(bytes.begin(), bytes.end()), jpeg, width, height, why))
      return Fail("cannot take " + in + ": " + why);
  } else {
    return Fail("the page must be a .bmp or .jpg file: " + in);
  }
  StudyInfo study;
  ConversionBatch batch;
  int rc = 0;
  if (!StartRun(a, study, batch, rc)) return rc;
  DcmObj obj;
  if (!MakeScannedPageObject(jpeg, width, height, study, batch, InstanceCounter, obj))
    return Fail("cannot build the page image object of " + in);
  if (!SaveObjectFile(obj, a.pos[1], "scrivara-cli img")) return Fail("cannot write " + a.pos[1]);
  return 0;
}

}  // namespace cli
