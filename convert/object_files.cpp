// Saving built objects as DICOM files: each is private to its owner from its first byte, written
// under a temporary name and named when complete on the disk; a batch's objects are named by their
// SOP Instance UIDs, so that no two objects ever share a file.
#include <sys/stat.h>

#include <cstdio>

#include "convert/batch.h"
#include "core/fileutil.h"
#include "convert/pdf_object.h"
#include "convert/scan_object.h"
#include "convert/srtext.h"
#include "core/dcmobj.h"
#include "core/log.h"

bool SaveObjectFile(DcmObj& obj, const std::string& path, std::string_view operation, bool replace) {
  if (obj.Write(path, replace)) return true;
  WriteLog("ERROR, " + std::string(operation) + ", cannot write file: " + path);
  return false;
}

std::string BuildEncapsulatedPdf(const std::string& pdfPath, const StudyInfo& study, ConversionBatch& batch,
                                 int32_t& counter) {
  DcmObj obj;
  if (!MakeEncapsulatedPdf(pdfPath, study, batch, counter, obj)) return "";
  const std::string path = BatchFileName(batch);
  if (!SaveObjectFile(obj, path, "BuildEncapsulatedPdf", false)) return "";
  batch.TempFiles.push_back(path);
  return path;
}

std::string BuildScannedPageObject(const std::vector<uint8_t>& jpeg, int width, int height, const StudyInfo& study,
                                   ConversionBatch& batch, int32_t& counter) {
  DcmObj obj;
  if (!MakeScannedPageObject(jpeg, width, height, study, batch, counter, obj)) return "";
  const std::string path = BatchFileName(batch);
  if (!SaveObjectFile(obj, path, "BuildScannedPageObject", false)) return "";
  batch.TempFiles.push_back(path);
  return path;
}

std::string BuildTextReportObject(const std::string& reportText, const StudyInfo& study, ConversionBatch& batch,
                                  int32_t& counter) {
  DcmSRObj sr;
  BuildTextReport(sr, reportText, study, batch, counter);
  const std::string path = BatchFileName(batch);
  if (!SaveObjectFile(sr, path, "BuildReport", false)) return "";
  batch.TempFiles.push_back(path);
  return path;
}
