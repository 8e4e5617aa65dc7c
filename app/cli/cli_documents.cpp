#include "app/cli/cli_documents.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "codec/jpeg.h"
#include "convert/batch.h"
#include "convert/image_import.h"
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
  ClearLoggedError();
  if (!StartConversionBatch(study, WorkFolder(), batch)) {
    rc = Fail(Because("cannot start the batch"));
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
  if (a.NeedsUsage() || a.pos.size() != 2)
    return Usage(a,
                 "usage: scrivara-cli sr --patient-name N --patient-id I [study keys] IN OUT.dcm\n"
                 "  builds a Basic Text SR report from IN, a .txt, .rtf or .doc file read by its content: a Word\n"
                 "  97-2003 document or an RTF document (their text; table cells separated by \" | \", each row a\n"
                 "  line; fields show their result), or text (by its byte order mark: UTF-8, UTF-16; else UTF-8\n"
                 "  when it is valid UTF-8, cp1252 otherwise). Tabs become spaces\n");
  const std::string& in = a.pos[0];
  const std::string ext = LowerExtension(in);
  if (ext != ".doc" && ext != ".rtf" && ext != ".txt") return Fail("the report must be a .txt, .rtf or .doc file: " + in);
  ReportFile file;
  std::string why;
  if (!ReadReportFile(in, file, why)) return Fail("cannot read " + in + ": " + why);
  const std::string report = file.format == ReportFormat::Text ? ReportTextFromLines({file.text}) : file.text;
  if (OnlyBlank(report)) return Fail("the report in " + in + " is empty");
  StudyInfo study;
  ConversionBatch batch;
  int rc = 0;
  if (!StartRun(a, study, batch, rc)) return rc;
  DcmSRObj sr;
  BuildTextReport(sr, report, study, batch, InstanceCounter);
  if (!SaveObjectFile(sr, a.pos[1], "scrivara-cli sr")) return Fail(Because("cannot write " + a.pos[1]));
  return 0;
}

int CmdImg(const Args& a) {
  if (a.NeedsUsage() || a.pos.size() < 2)
    return Usage(a,
                 "usage: scrivara-cli img --patient-name N --patient-id I [study keys] IN... OUT\n"
                 "  builds JPEG baseline page images from image files, read by their content: JPEG (8-bit;\n"
                 "  grey, colour, CMYK; baseline, progressive, arithmetic), PNG, TIFF (every page) and BMP\n"
                 "  (1, 4, 8, 24, 32 bits). Transparency is laid over white, the EXIF orientation applied; a\n"
                 "  baseline YCbCr JPEG sampled 2x2 or 2x1 goes in as it stands (turned losslessly where it can\n"
                 "  be), less its metadata (EXIF, XMP, comments); any other page is encoded as a page JPEG.\n"
                 "  Pages over an A3 sheet at 600 dpi (7016 x 9921) are refused. One page: OUT is the object\n"
                 "  file (unless it is a folder); several: OUT is a folder (made if missing) holding one object\n"
                 "  per page, pageNNNN.dcm, in one series, numbered in order. The SOP class follows --modality\n"
                 "  (CR, CT, MR, DX, ES, OT; anything else Ultrasound)\n");
  const std::vector<std::string> inputs(a.pos.begin(), a.pos.end() - 1);
  const std::string& target = a.pos.back();
  // Every page's JPEG first (the pixels are not kept), so that a file that cannot be read stops the
  // run before anything is written.
  std::vector<ImportedPage> pages;
  std::vector<ImportProblem> problems;
  for (const std::string& in : inputs)
    ImportImageFile(in, [&pages](ImportedPage&& p) {
      p.page = Bitmap();
      pages.push_back(std::move(p));
    }, problems);
  if (!problems.empty()) {
    for (size_t i = 0; i + 1 < problems.size(); ++i)
      std::fprintf(stderr, "scrivara-cli: cannot take %s: %s\n", problems[i].what.c_str(), problems[i].why.c_str());
    return Fail("cannot take " + problems.back().what + ": " + problems.back().why);
  }
  std::error_code ec;
  const bool folder = pages.size() > 1 || std::filesystem::is_directory(target, ec);
  if (folder && !std::filesystem::is_directory(target, ec) && !PrivateFolder(target, nullptr))
    return Fail("cannot make the folder " + target);
  StudyInfo study;
  ConversionBatch batch;
  int rc = 0;
  if (!StartRun(a, study, batch, rc)) return rc;
  for (size_t i = 0; i < pages.size(); ++i) {
    const ImportedPage& p = pages[i];
    JpegStreamInfo info;
    ReadJpegStreamInfo(p.jpeg.data(), p.jpeg.size(), info);
    DcmObj obj;
    if (!MakeScannedPageObject(p.jpeg, info.width, info.height, study, batch, InstanceCounter, obj))
      return Fail(Because("cannot build the page image object of " + p.name));
    char name[32];
    std::snprintf(name, sizeof name, "page%04zu.dcm", i + 1);
    const std::string out = folder ? (std::filesystem::path(target) / name).string() : target;
    if (!SaveObjectFile(obj, out, "scrivara-cli img")) return Fail(Because("cannot write " + out));
  }
  return 0;
}

}  // namespace cli
