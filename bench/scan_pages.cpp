// Pages arriving at the acquisition form, for bench/run:
//   scan_pages RAW WIDTH HEIGHT N FOLDER
// takes the raw RGB page N times, one after another, as the form takes each scanned page: through
// the hand-over file, made an object of the batch, its thumbnail rendered from the saved object,
// the preview and the numbered thumbnail drawn. Prints the time of the Nth page as
// "elapsed_us N" on stderr; the batch's files are left in FOLDER/temp.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "convert/batch.h"
#include "convert/forms/page_images.h"
#include "convert/scanned_pages.h"
#include "core/config.h"
#include "core/fileutil.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: scan_pages RAW WIDTH HEIGHT N FOLDER\n");
    return 2;
  }
  const int width = std::atoi(argv[2]), height = std::atoi(argv[3]), pages = std::atoi(argv[4]);
  std::string raw;
  if (width <= 0 || height <= 0 || pages <= 0 || !ReadWholeFile(argv[1], raw, "scan_pages") ||
      raw.size() < size_t(width) * size_t(height) * 3)
    return 1;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ExeFolder = std::string(argv[5]) + "/";
  ForceDirectories(TempFolder());
  Bitmap scanned(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const char* rgb = raw.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
      scanned.SetPixel(x, y, RGBColor{uint8_t(rgb[0]), uint8_t(rgb[1]), uint8_t(rgb[2])});
    }
  StudyInfo study;
  study.PatientID = "BENCH";
  study.PatientName = "Bench^Mark";
  ConversionBatch batch;
  if (!StartConversionBatch(study, TempFolder(), batch)) return 1;
  qint64 last = 0;
  for (int i = 0; i < pages; ++i) {
    Bitmap page = scanned;  // what the scanner hands over
    QElapsedTimer clock;
    clock.start();
    BatchPage made;
    std::string why;
    if (!AddBatchPage(page, true, study, batch, InstanceCounter, made, why)) {
      std::fprintf(stderr, "%s\n", why.c_str());
      return 1;
    }
    const QImage preview = PreviewImage(page), thumbnail = ThumbnailImage(made.thumbnail, made.label);
    if (preview.isNull() || thumbnail.isNull()) return 1;
    last = clock.nsecsElapsed() / 1000;
  }
  std::fprintf(stderr, "elapsed_us %lld\n", static_cast<long long>(last));
  return 0;
}
