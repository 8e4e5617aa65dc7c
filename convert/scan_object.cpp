#include "convert/scan_object.h"

#include "codec/jpeg.h"

#include <algorithm>

#include "core/log.h"

namespace {

void AddUS(DcmObj& obj, uint16_t g, uint16_t e, uint16_t value) {
  const uint8_t b[2] = {uint8_t(value & 0xFF), uint8_t(value >> 8)};
  obj.AddBytes(g, e, 2, b);
}

}  // namespace

std::string ScannedPageSOPClass(const std::string& modality) {
  if (modality == "CR") return "1.2.840.10008.5.1.4.1.1.1";
  if (modality == "CT" || modality == "ES") return "1.2.840.10008.5.1.4.1.1.2";
  if (modality == "MR") return "1.2.840.10008.5.1.4.1.1.4";
  if (modality == "DX") return "1.2.840.10008.5.1.4.1.1.12.1";
  if (modality == "OT") return "1.2.840.10008.5.1.4.1.1.77.1.1.1";
  return "1.2.840.10008.5.1.4.1.1.6.1";
}

void AddScannedImageHeader(DcmObj& obj, const StudyInfo& study, const std::string& sopClassUID,
                           const std::string& sopInstanceUID, uint16_t columns, uint16_t rows, bool colour,
                           const ConversionBatch& batch, int32_t instanceNumber) {
  AddCharacterSet(obj, study, "");
  obj.AddText(0x0008, 0x0008, "DERIVED\\SECONDARY");
  obj.AddText(0x0008, 0x0012, NowDA());
  obj.AddText(0x0008, 0x0013, NowTM());
  obj.AddText(0x0008, 0x0016, sopClassUID);
  obj.AddText(0x0008, 0x0018, sopInstanceUID);
  obj.AddText(0x0008, 0x0020, study.StudyDate);
  obj.AddText(0x0008, 0x0030, study.StudyTime);
  obj.AddText(0x0008, 0x0032, NowTM());
  obj.AddText(0x0008, 0x0033, NowTM());
  AddStudySeriesElements(obj, study, batch, study.ModalitiesInStudy, instanceNumber);
  // Known only to the operator, so empty: the equipment's maker, the side, the page's orientation.
  obj.SetText(0x0008, 0x0070, "");
  obj.SetText(0x0020, 0x0020, "");
  obj.SetText(0x0020, 0x0060, "");
  AddUS(obj, 0x0028, 0x0002, colour ? 3 : 1);
  obj.AddText(0x0028, 0x0004, colour ? "YBR_FULL_422" : "MONOCHROME2");
  if (colour) AddUS(obj, 0x0028, 0x0006, 0);
  AddUS(obj, 0x0028, 0x0010, rows);
  AddUS(obj, 0x0028, 0x0011, columns);
  AddUS(obj, 0x0028, 0x0100, 8);
  AddUS(obj, 0x0028, 0x0101, 8);
  AddUS(obj, 0x0028, 0x0102, 7);
  AddUS(obj, 0x0028, 0x0103, 0);
}

namespace {

// The page JPEG fits a page object of width x height; else one log line.
bool CheckPageJpeg(const std::vector<uint8_t>& jpeg, int width, int height) {
  JpegStreamInfo f;
  if (!ReadJpegStreamInfo(jpeg.data(), jpeg.size(), f)) {
    WriteLog("ERROR, BuildScannedPageObject, the page is not a JPEG stream");
    return false;
  }
  if (f.sofMarker != 0xC0 || f.precision != 8 || f.components != 3) {
    WriteLog("ERROR, BuildScannedPageObject, the page is not a baseline 8-bit three-component JPEG");
    return false;
  }
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF || f.width != width || f.height != height) {
    WriteLog("ERROR, BuildScannedPageObject, page size " + std::to_string(width) + " x " + std::to_string(height) +
             " does not match the JPEG frame " + std::to_string(f.width) + " x " + std::to_string(f.height));
    return false;
  }
  if (jpeg.size() >= 0xFFFFFFFEu) {
    WriteLog("ERROR, BuildScannedPageObject, the page JPEG is too large for one fragment");
    return false;
  }
  return true;
}

void FillPageObject(const std::vector<uint8_t>& jpeg, int width, int height, const StudyInfo& study,
                    const ConversionBatch& batch, const std::string& sopClassUID, const std::string& sopInstanceUID,
                    int32_t number, DcmObj& obj) {
  obj.Clear();
  AddScannedImageHeader(obj, study, sopClassUID, sopInstanceUID, uint16_t(width), uint16_t(height), true, batch,
                        number);
  obj.transferSyntax = kTsJpegBaseline;
  obj.explicitVR = true;
  obj.bigEndian = false;

  obj.Add(DcmTag(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
  obj.Add(DcmTag(0xFFFE, 0xE000, 0, nullptr, "DL"));
  ByteBuffer fragment(jpeg.size() + (jpeg.size() % 2));
  std::copy(jpeg.begin(), jpeg.end(), fragment.begin());
  if (jpeg.size() % 2) fragment.back() = 0x00;
  obj.Add(DcmTag(0xFFFE, 0xE000, std::move(fragment), "DL"));
  obj.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
}

}  // namespace

bool MakeScannedPageObject(const std::vector<uint8_t>& jpeg, int width, int height, const StudyInfo& study,
                           ConversionBatch& batch, int32_t& counter, DcmObj& obj) {
  if (!CheckPageJpeg(jpeg, width, height)) return false;
  const int32_t number = NextInstanceNumber(batch.BaseUID, counter);
  batch.SOPClassUID = ScannedPageSOPClass(study.ModalitiesInStudy);
  batch.SOPInstanceUID = batch.BaseUID + ".1." + std::to_string(number);
  FillPageObject(jpeg, width, height, study, batch, batch.SOPClassUID, batch.SOPInstanceUID, number, obj);
  return true;
}

bool RemakeScannedPageObject(const std::vector<uint8_t>& jpeg, int width, int height, const StudyInfo& study,
                             const ConversionBatch& batch, const std::string& sopClassUID,
                             const std::string& sopInstanceUID, int32_t instanceNumber, DcmObj& obj) {
  if (!CheckPageJpeg(jpeg, width, height)) return false;
  FillPageObject(jpeg, width, height, study, batch, sopClassUID, sopInstanceUID, instanceNumber, obj);
  return true;
}
