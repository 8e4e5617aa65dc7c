#include "convert/scanned_pages.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "codec/convert.h"
#include "codec/jpeg.h"
#include "convert/bmpfile.h"
#include "convert/image_import.h"
#include "convert/page_jpeg.h"
#include "convert/scan_object.h"
#include "core/config.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "core/transfer_syntax.h"

namespace {

// A loaded page as a bitmap, pixel for pixel (first frame).
bool PageBitmap(const TImages& image, Bitmap& page) {
  const int samples = image.colour ? 3 : 1;
  const size_t bytes = static_cast<size_t>(image.rows) * static_cast<size_t>(image.columns) * samples;
  if (image.rows < 1 || image.columns < 1 || image.bitsAllocated != 8 || image.data.size() < bytes) return false;
  page.Resize(image.columns, image.rows);
  const uint8_t* src = image.data.data();
  for (int y = 0; y < image.rows; ++y) {
    uint8_t* row = page.Row(y);
    for (int x = 0; x < image.columns; ++x, src += samples) {
      const uint8_t r = src[0], g = src[samples > 1 ? 1 : 0], b = src[samples > 1 ? 2 : 0];
      row[3 * x] = image.inverted ? 255 - b : b;
      row[3 * x + 1] = image.inverted ? 255 - g : g;
      row[3 * x + 2] = image.inverted ? 255 - r : r;
    }
  }
  return true;
}

}  // namespace

std::string ScanHandOverPath() {
  const std::string folder = !ExeFolder.empty() && ConfigFolder() == ExeFolder ? ExeFolder : WorkFolder();
  return folder + "test.bmp";
}

bool HandOverPage(Bitmap& page) {
  const std::string path = ScanHandOverPath();
  Bitmap read;
  if (!SaveBmpFile(path, page) || !LoadBmpFile(path, read)) return false;  // logged
  page = std::move(read);
  return true;
}

PreviewPlace PreviewRect(int width, int height) {
  PreviewPlace p;
  if (width <= 0 || height <= 0) return p;
  if (width > height) {
    const int h = static_cast<int>(static_cast<int64_t>(height) * kPreviewWidth / width);
    p = {0, (kPreviewHeight - h) / 2, kPreviewWidth, (kPreviewHeight + h) / 2};
  } else {
    const int w = static_cast<int>(static_cast<int64_t>(width) * kPreviewHeight / height);
    p = {(kPreviewWidth - w) / 2, 0, (kPreviewWidth + w) / 2, kPreviewHeight};
  }
  return p;
}

std::string BuildPageFromBitmap(const Bitmap& page, const StudyInfo& study, ConversionBatch& batch, int32_t& counter) {
  std::vector<uint8_t> jpeg;
  if (!EncodePageJpeg(page, jpeg)) return "";  // logged
  return BuildScannedPageObject(jpeg, page.width, page.height, study, batch, counter);
}

bool AddBatchPage(Bitmap& page, bool scanned, const StudyInfo& study, ConversionBatch& batch, int32_t& counter,
                  BatchPage& out, std::string& why, const std::vector<uint8_t>* jpeg) {
  if (scanned && !HandOverPage(page)) {
    why = "The scanned page could not be handed over through " + ScanHandOverPath() + ". See the log file.";
    return false;
  }
  out.path = jpeg ? BuildScannedPageObject(*jpeg, page.width, page.height, study, batch, counter)
               : BuildPageFromBitmap(page, study, batch, counter);
  if (out.path.empty()) {
    why = "The page could not be made an image object. See the log file.";
    return false;
  }
  RenderPageThumbnail(out.path, out.thumbnail, out.label);
  return true;
}

namespace {

// The object converted to explicit VR little endian (in place) and loaded for display.
bool LoadImage(DcmObj& obj, TImages& image) {
  if (!ConvertTransferSyntax(obj, kTsExplicitLE)) return false;
  image = TImages();
  image.Load(obj);
  return image.rows > 0 && image.columns > 0 && !image.data.empty();
}

}  // namespace

bool LoadPageImage(const std::string& path, TImages& image) {
  DcmObj obj;
  return obj.Read(path) && LoadImage(obj, image);
}

bool RenderPageThumbnail(const std::string& path, Bitmap& thumbnail, std::string& label) {
  MakeFilledBitmap(thumbnail, kThumbnailSide, kThumbnailSide, RGBColor{});
  label.clear();
  TImages image;
  if (!LoadPageImage(path, image)) return false;
  DCMPresentation view(&image);
  view.windowWidth = 255;
  view.windowCenter = 127;
  view.scale = static_cast<float>(std::max(image.columns, image.rows)) / kThumbnailSide;
  view.Render(thumbnail, 0, 0, 0, 0, 0);
  label = std::to_string(image.instanceNumber);
  if (image.frames >= 2) label.append("/").append(std::to_string(image.frames));
  return true;
}

bool RotateScannedPage(std::string& path, bool clockwise, const StudyInfo& study, ConversionBatch& batch,
                       Bitmap* turnedPage, int32_t* renumber) {
  DcmObj old;
  TImages image;
  Bitmap page;
  const bool read = old.Read(path);
  // The identity first: loading converts the object in place.
  const std::string held = old.GetString(0x0008, 0x0018);
  std::string sopInstance = held;
  const std::string sopClass = old.GetString(0x0008, 0x0016);
  int32_t number = static_cast<int32_t>(std::strtol(old.GetString(0x0020, 0x0013).c_str(), nullptr, 10));
  // The page's JPEG turned as it stands where every block of it turns whole; else the page is
  // decoded, turned and encoded again.
  std::vector<uint8_t> jpeg;
  if (read && old.transferSyntax == kTsJpegBaseline) {
    const size_t pixel = old.IndexOf(0x7FE0, 0x0010);
    const DcmTag* fragment = pixel == DcmObj::npos ? nullptr : old.GetTag(pixel + 2);
    std::vector<uint8_t> coded;
    if (fragment && fragment->Is(0xFFFE, 0xE000) && fragment->data()) {
      coded.assign(fragment->data(), fragment->data() + fragment->size());
      while (coded.size() > 2 && coded.back() == 0 && coded[coded.size() - 2] != 0xFF) coded.pop_back();  // padding
    }
    JpegStreamInfo info;
    std::string why;
    const bool turned =
        !coded.empty() && TurnJpegLosslessly(coded, clockwise ? JpegTurn::Quarter : JpegTurn::ThreeQuarters, jpeg) &&
        ReadJpegStreamInfo(jpeg.data(), jpeg.size(), info) && FitsPageLabel(info) &&
        DecodeJpegToBitmap(jpeg, info, page, why);
    if (!turned) jpeg.clear();
  }
  if (jpeg.empty()) {
    if (!read || !LoadImage(old, image) || !PageBitmap(image, page)) {
      WriteLog("ERROR, RotateScannedPage, cannot read the page: " + path);
      return false;
    }
    page = RotatedQuarter(page, clockwise);
  }
  std::string target = path;
  int32_t counter = renumber ? *renumber : 0;
  if (renumber) {  // another object now: a number and a UID of its own, under its own name
    number = NextInstanceNumber(batch.BaseUID, counter);
    sopInstance = batch.BaseUID + ".1." + std::to_string(number);
    target = batch.TempFolder + sopInstance + ".dcm";
  }
  DcmObj turned;
  const bool saved = (!jpeg.empty() || EncodePageJpeg(page, jpeg)) &&
                     RemakeScannedPageObject(jpeg, page.width, page.height, study, batch, sopClass, sopInstance,
                                             number, turned) &&
                     SaveObjectFile(turned, target, "RotateScannedPage", !renumber);  // each logs its failure
  if (!saved) return false;
  if (renumber) {
    *renumber = counter;
    WriteLog("INFO, RotateScannedPage, the PACS holds " + held +
             " as it was; the turned page is the new object " + sopInstance);
    std::remove(path.c_str());
    std::replace(batch.TempFiles.begin(), batch.TempFiles.end(), path, target);
    path = target;
  }
  if (turnedPage) *turnedPage = std::move(page);
  return true;
}
