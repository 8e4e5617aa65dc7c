#pragma once
// The pages of a scanning batch: the hand-over file of a scan, a page bitmap made an object of the
// batch, the preview's place for a page, its thumbnail, and a page turned by a quarter.
#include <cstdint>
#include <string>
#include <vector>

#include "convert/batch.h"
#include "present/bitmap.h"
#include "present/images.h"
#include "query/studyinfo.h"

// Where a scanned page is handed over as a 24-bit BMP: ExeFolder + "test.bmp" while the program's
// files are kept beside it, else the temporary folder's "test.bmp" (an installed program cannot
// write beside itself). Each scan overwrites it.
std::string ScanHandOverPath();

// The page passed through the hand-over file: written as a 24-bit BMP and read back into `page`.
// False (logged) when either fails; `page` is then unchanged.
bool HandOverPage(Bitmap& page);

// The 640 x 480 preview.
inline constexpr int kPreviewWidth = 640;
inline constexpr int kPreviewHeight = 480;

struct PreviewPlace {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
};
// Where a page of width x height is drawn in the preview: a page wider than high takes the full
// width and is centred vertically, any other the full height and is centred horizontally (integer
// divisions rounding toward zero).
PreviewPlace PreviewRect(int width, int height);

// The page as an object of the batch: the page JPEG, then BuildScannedPageObject. Returns the
// object's path, or "" on failure (logged).
std::string BuildPageFromBitmap(const Bitmap& page, const StudyInfo& study, ConversionBatch& batch, int32_t& counter);

// A page object read, converted to explicit VR little endian and loaded for display. False when
// the file cannot be read or converted, or holds no image.
bool LoadPageImage(const std::string& path, TImages& image);

// The thumbnail side and strip height.
inline constexpr int kThumbnailSide = 96;

// The page's 96 x 96 thumbnail: black, the page rendered at window 255/127 and scaled by the larger
// of its columns and rows / 96. `label` is its Instance Number (+ "/" + frames when it has two or
// more). False, with the thumbnail black and no label, when the page cannot be loaded.
bool RenderPageThumbnail(const std::string& path, Bitmap& thumbnail, std::string& label);

// A page as the form shows it once it is an object of the batch.
struct BatchPage {
  std::string path;   // its object file
  Bitmap thumbnail;   // RenderPageThumbnail of the saved object (black when it cannot be read back)
  std::string label;  // its Instance Number
};

// What happens to each page that arrives, from the scanner or from an image file: a scanned page
// passes through the hand-over file, then the page becomes an object of the batch and its thumbnail
// is rendered from the saved file. A page that comes with its page JPEG (from an image file) goes
// in with that JPEG (of the page only its size is read), else the page is encoded. False, with the operator's message in `why` (details
// logged), when the page cannot be handed over or saved.
bool AddBatchPage(Bitmap& page, bool scanned, const StudyInfo& study, ConversionBatch& batch, int32_t& counter,
                  BatchPage& out, std::string& why, const std::vector<uint8_t>* jpeg = nullptr);

// Turns the page of the object file `path` by a quarter and rebuilds its object in place, with the
// same SOP Class and Instance UIDs, Instance Number and series (the page's JPEG turned losslessly
// where every block of it turns whole, else decoded, turned and encoded again); `turnedPage`, when given, receives the turned page. With `renumber` (the batch's instance
// counter) the turned page becomes a new object instead: the next Instance Number, its own SOP
// Instance UID and file (path then names it; the old file is removed), with one INFO line. False
// (logged) when the file cannot be read or written; the file is then as it was.
bool RotateScannedPage(std::string& path, bool clockwise, const StudyInfo& study, ConversionBatch& batch,
                       Bitmap* turnedPage = nullptr, int32_t* renumber = nullptr);
