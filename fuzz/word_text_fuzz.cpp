// ReadWordText on any bytes as a .doc file.
#include <glib.h>

#include <string>
#include <vector>

#include "convert/word_conv.h"
#include "fuzz/fuzz_support.h"

// libgsf loses a few directory entries of some damaged compound files inside gsf_infile_msole_new;
// its frames are only seen with the slow unwinder. A leak of ours still shows.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:gsf_infile_msole_new\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFile file(".doc");
  // libgsf also warns on glib's default log about damaged files; that only slows the run.
  static const guint quiet = (g_log_set_default_handler([](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr), 0);
  (void)quiet;
  fuzz::Quiet();
  std::vector<std::string> lines;
  ReadWordText(file.Write(data, size), lines);
  return 0;
}
