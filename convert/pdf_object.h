#pragma once
// Encapsulated PDF Storage objects.
#include <cstdint>
#include <string>

#include "convert/batch.h"
#include "core/dcmobj.h"
#include "query/studyinfo.h"

inline constexpr const char kEncapsulatedPdfStorage[] = "1.2.840.10008.5.1.4.1.1.104.1";

// Appends the header of a document object, (0008,0005) to (0020,0013) in ascending tag order: the
// study's patient and study elements, batch.SOPClassUID and batch.SOPInstanceUID, Modality "OT",
// Conversion Type "WSD", batch.SeriesUID and SeriesNumber, and instanceNumber.
void AddDocumentHeader(DcmObj& obj, const StudyInfo& study, const ConversionBatch& batch, int32_t instanceNumber);

// Builds, in obj (emptied first), the object for the PDF file at pdfPath: takes the next instance
// number from counter, sets batch.SOPClassUID and batch.SOPInstanceUID (BaseUID + ".1." + number),
// adds the header, the Document Title (the file name without its folder), the Encapsulated
// Document (the file's bytes, one 0x00 appended when their number is odd) and the MIME type, in
// Explicit VR Little Endian. A missing, unreadable or empty file, or one that is not a PDF (no
// "%PDF-" in its first 1024 bytes), fails with one log line before any number is taken.
bool MakeEncapsulatedPdf(const std::string& pdfPath, const StudyInfo& study, ConversionBatch& batch, int32_t& counter,
                         DcmObj& obj);

// MakeEncapsulatedPdf, then saves the object as a DICOM file named by BatchFileName (written
// under a temporary name and renamed when complete) and appends its path to batch.TempFiles.
// Returns the path, or "" on failure (logged).
std::string BuildEncapsulatedPdf(const std::string& pdfPath, const StudyInfo& study, ConversionBatch& batch,
                                 int32_t& counter);

// Whether a PDF reader can show the document, by opening it with poppler (in the PDF check module,
// opened on first use; its absence is said as the warning): "" when it opens and
// every page can be read, else the warning, e.g. "it needs a password to open" or "a PDF reader
// cannot open it (damaged or cut short)". A document protected only against changes opens.
std::string PdfReadProblem(const std::string& pdfPath);
