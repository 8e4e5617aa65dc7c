#include "convert/pdf_object.h"

#include <algorithm>
#include <memory>
#include <string_view>

#include "convert/pdfcheck/pdfcheck.h"
#include "core/charset.h"
#include "core/fileutil.h"
#include "core/lazylib.h"
#include "core/log.h"

void AddDocumentHeader(DcmObj& obj, const StudyInfo& study, const ConversionBatch& batch, int32_t instanceNumber) {
  AddCharacterSet(obj, study, kLatin1Set);
  obj.AddText(0x0008, 0x0012, NowDA());
  obj.AddText(0x0008, 0x0013, NowTM());
  obj.AddText(0x0008, 0x0016, batch.SOPClassUID);
  obj.AddText(0x0008, 0x0018, batch.SOPInstanceUID);
  obj.AddText(0x0008, 0x0020, study.StudyDate);
  obj.AddText(0x0008, 0x0030, study.StudyTime);
  obj.AddText(0x0008, 0x0033, NowTM());
  AddStudySeriesElements(obj, study, batch, "OT", instanceNumber);
}

bool MakeEncapsulatedPdf(const std::string& pdfPath, const StudyInfo& study, ConversionBatch& batch, int32_t& counter,
                         DcmObj& obj) {
  ByteBuffer pdf;  // read straight into the buffer the element keeps
  if (!ReadWholeFile(pdfPath, pdf, "BuildEncapsulatedPdf")) return false;
  if (pdf.empty()) {
    WriteLog("ERROR, BuildEncapsulatedPdf, empty file: " + pdfPath);
    return false;
  }
  if (std::string_view(reinterpret_cast<const char*>(pdf.data()), std::min<size_t>(pdf.size(), 1024)).find("%PDF-") ==
      std::string_view::npos) {
    WriteLog("ERROR, BuildEncapsulatedPdf, not a PDF file: " + pdfPath);
    return false;
  }
  if (pdf.size() >= 0xFFFFFFFEu) {
    WriteLog("ERROR, BuildEncapsulatedPdf, file too large for one element: " + pdfPath);
    return false;
  }
  if (pdf.size() % 2) pdf.push_back(0);

  const int32_t number = NextInstanceNumber(batch.BaseUID, counter);
  obj.Clear();
  batch.SOPClassUID = kEncapsulatedPdfStorage;
  batch.SOPInstanceUID = batch.BaseUID + ".1." + std::to_string(number);
  AddDocumentHeader(obj, study, batch, number);
  obj.transferSyntax = kTsExplicitLE;
  obj.explicitVR = true;
  obj.bigEndian = false;
  // What the object's modules ask for beyond the header: the document's dates, an empty Manufacturer
  // and Concept Name, and Burned In Annotation "YES", since a report names its patient.
  const std::string today = NowDA();
  obj.SetText(0x0008, 0x0023, today);
  obj.SetText(0x0008, 0x002A, today + NowTM());
  obj.SetText(0x0008, 0x0070, "");
  obj.SetText(0x0028, 0x0301, "YES");
  obj.InsertSequence(0x0040, 0xA043, std::make_unique<DcmObj>());
  obj.AddText(0x0042, 0x0010, FileNamePart(pdfPath));
  obj.Add(DcmTag(0x0042, 0x0011, std::move(pdf), "OB"));
  obj.AddText(0x0042, 0x0012, "application/pdf");
  return true;
}

std::string PdfReadProblem(const std::string& pdfPath) {
  static LazyLibrary module(ProgramModule(kPdfCheckModule));
  static decltype(&scrivara_pdf_check) check = nullptr;
  static const bool bound = module.Bind(check, "scrivara_pdf_check");
  if (!bound) return "the PDF check cannot run: " + module.Problem();
  int page = 0, pages = 0;
  switch (check(pdfPath.c_str(), &page, &pages)) {
    case kPdfOpens: return "";
    case kPdfLocked: return "it needs a password to open";
    case kPdfNoPage: return "a PDF reader shows no page of it (damaged or cut short)";
    case kPdfPageNotShown:
      return "a PDF reader cannot show page " + std::to_string(page) + " of " + std::to_string(pages) +
             " (damaged or cut short)";
    default: return "a PDF reader cannot open it (damaged or cut short)";
  }
}
