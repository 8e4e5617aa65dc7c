#pragma once
// Scanned page image objects: one page as a single-frame JPEG baseline image object.
#include <cstdint>
#include <string>
#include <vector>

#include "convert/batch.h"
#include "core/dcmobj.h"
#include "query/studyinfo.h"


// The image storage class for the study's Modality (exact comparison): "CR" CR Image Storage,
// "CT" and "ES" CT Image Storage, "MR" MR Image Storage, "DX" X-Ray Angiographic Image Storage,
// "OT" Video Endoscopic Image Storage, anything else (empty included) Ultrasound Image Storage.
std::string ScannedPageSOPClass(const std::string& modality);

// Appends the image header, (0008,0008) to (0028,0103), for a page of columns x rows pixels: the
// study's patient and study elements, the two UIDs given, batch.SeriesUID and SeriesNumber,
// instanceNumber, and for colour Samples per Pixel 3, "YBR_FULL_422" and Planar Configuration 0;
// without colour Samples per Pixel 1 and "MONOCHROME2" and no Planar Configuration.
void AddScannedImageHeader(DcmObj& obj, const StudyInfo& study, const std::string& sopClassUID,
                           const std::string& sopInstanceUID, uint16_t columns, uint16_t rows, bool colour,
                           const ConversionBatch& batch, int32_t instanceNumber);

// Builds, in obj (emptied first), the object for one page: takes the next instance number from
// counter, chooses batch.SOPClassUID from the study's Modality, sets batch.SOPInstanceUID = BaseUID +
// ".1." + number, adds the colour header and the encapsulated Pixel Data (undefined length, an empty
// offset table item, the page JPEG as one fragment padded with one 0x00 to even length, the sequence
// delimiter), transfer syntax JPEG Baseline, explicit VR. A stream that is not a baseline 8-bit
// three-component JPEG of width x height pixels fails with one log line before any number is taken.
bool MakeScannedPageObject(const std::vector<uint8_t>& jpeg, int width, int height, const StudyInfo& study,
                           ConversionBatch& batch, int32_t& counter, DcmObj& obj);

// MakeScannedPageObject for a page that already has its object (a page turned): the same checks,
// the given UIDs and Instance Number; nothing is taken from the counter and the batch is unchanged.
bool RemakeScannedPageObject(const std::vector<uint8_t>& jpeg, int width, int height, const StudyInfo& study,
                             const ConversionBatch& batch, const std::string& sopClassUID,
                             const std::string& sopInstanceUID, int32_t instanceNumber, DcmObj& obj);

// MakeScannedPageObject, then saves it as a DICOM file named by BatchFileName (written under a
// temporary name and renamed when complete) and appends the path to batch.TempFiles. Returns the
// path, or "" on failure (logged).
std::string BuildScannedPageObject(const std::vector<uint8_t>& jpeg, int width, int height, const StudyInfo& study,
                                   ConversionBatch& batch, int32_t& counter);
