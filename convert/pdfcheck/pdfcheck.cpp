// Whether a PDF reader can open a file and show each of its pages, as a module of its own: the
// PDF library and its own (NSS, fontconfig, freetype, ...) are loaded only once a PDF is checked,
// not at every start of the programs.
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <memory>

#include "convert/pdfcheck/pdfcheck.h"

extern "C" int scrivara_pdf_check(const char* path, int* page, int* pages) {
  // The library's complaints about a damaged file would go to the terminal; the caller says it.
  static const bool quiet = (poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr), true);
  (void)quiet;
  *page = *pages = 0;
  const std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path));
  if (!doc) return kPdfNotOpened;
  if (doc->is_locked()) return kPdfLocked;
  *pages = doc->pages();
  if (*pages < 1) return kPdfNoPage;
  for (int i = 0; i < *pages; ++i) {
    if (!std::unique_ptr<poppler::page>(doc->create_page(i))) {
      *page = i + 1;
      return kPdfPageNotShown;
    }
  }
  return kPdfOpens;
}
