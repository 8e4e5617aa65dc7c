// Saving built objects as DICOM files: each is written under a temporary name and renamed when
// complete.
#include <sys/stat.h>

#include <cstdio>

#include "convert/batch.h"
#include "core/fileutil.h"
#include "convert/pdf_object.h"
#include "convert/scan_object.h"
#include "convert/srtext.h"
#include "core/dcmobj.h"
#include "core/log.h"

bool SaveObjectFile(DcmObj& obj, const std::string& path, std::string_view operation) {
  const std::string tmp = TemporaryNameFor(path);
  if (!obj.Write(tmp)) {
    std::remove(tmp.c_str());
    WriteLog("ERROR, " + std::string(operation) + ", cannot write file: " + path);
    return false;
  }
  ::chmod(tmp.c_str(), 0600);  // patient data: for its owner only
  return CommitTemporaryFile(tmp, path, operation);
}

std::string BuildEncapsulatedPdf(const std::string& pdfPath, const StudyInfo& study, ConversionBatch& batch,
                                 int32_t& counter) {
  DcmObj obj;
  if (!MakeEncapsulatedPdf(pdfPath, study, batch, counter, obj)) return "";
  const std::string path = BatchFileName(batch, study, counter);
  if (!SaveObjectFile(obj, path, "BuildEncapsulatedPdf")) return "";
  batch.TempFiles.push_back(path);
  return path;
}

std::string BuildScannedPageObject(const std::vector<uint8_t>& jpeg, int width, int height, const StudyInfo& study,
                                   ConversionBatch& batch, int32_t& counter) {
  DcmObj obj;
  if (!MakeScannedPageObject(jpeg, width, height, study, batch, counter, obj)) return "";
  const std::string path = BatchFileName(batch, study, counter);
  if (!SaveObjectFile(obj, path, "BuildScannedPageObject")) return "";
  batch.TempFiles.push_back(path);
  return path;
}

std::string BuildTextReportObject(const std::string& reportText, const StudyInfo& study, ConversionBatch& batch,
                                  int32_t& counter) {
  DcmSRObj sr;
  BuildTextReport(sr, reportText, study, batch, counter);
  const std::string path = BatchFileName(batch, study, counter);
  if (!SaveObjectFile(sr, path, "BuildReport")) return "";
  batch.TempFiles.push_back(path);
  return path;
}
