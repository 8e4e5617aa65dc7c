#pragma once
// The interface of the PDF check module (scrivara-pdfcheck.so), opened when first needed.

// The file name of the module: beside the programs in a build tree, in lib/scrivara/modules/
// beside bin/ when installed.
inline constexpr char kPdfCheckModule[] = "scrivara-pdfcheck.so";

// What scrivara_pdf_check found.
enum PdfCheck : int {
  kPdfOpens = 0,         // every page can be shown
  kPdfNotOpened = 1,     // damaged or cut short
  kPdfLocked = 2,        // it needs a password to open
  kPdfNoPage = 3,        // no page can be shown
  kPdfPageNotShown = 4,  // *page of *pages cannot be shown
};

// path: the PDF file; sets *pages (0 when unknown) and, for kPdfPageNotShown, *page (from 1).
extern "C" int scrivara_pdf_check(const char* path, int* page, int* pages);
