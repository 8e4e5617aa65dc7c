#include "convert/word_conv.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "core/cp1252.h"
#include "core/log.h"

namespace {

// File Information Block: offset and size of the Clx inside the table stream.
constexpr size_t kFcClxOffset = 418;
constexpr size_t kLcbClxOffset = 422;
constexpr uint32_t kCompressedBit = 0x40000000;

struct GObjectUnref {
  void operator()(void* p) const {
    if (p) g_object_unref(p);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Reads up to count bytes at offset; fewer when the stream ends first.
std::string ReadAt(GsfInput* in, uint64_t offset, uint64_t count) {
  const auto size = static_cast<uint64_t>(gsf_input_size(in));
  if (offset >= size || count == 0) return {};
  if (count > size - offset) count = size - offset;
  if (gsf_input_seek(in, static_cast<gsf_off_t>(offset), G_SEEK_SET)) return {};
  std::string out(count, '\0');
  if (!gsf_input_read(in, count, reinterpret_cast<guint8*>(out.data()))) return {};
  return out;
}

void Fail(const std::string& path, const std::string& why) {
  WriteLog("ERROR, ReadWordText, " + why + ": " + path);
}

}  // namespace

bool ReadWordText(const std::string& path, std::vector<std::string>& lines) {
  static const bool initialised = [] {
    gsf_init();
    // The compound file reader reports damaged files through glib's log as well; the one
    // ERROR line below says it.
    for (const char* domain : {"libgsf", "libgsf:msole"})
      g_log_set_handler(domain, GLogLevelFlags(G_LOG_LEVEL_MASK), [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    return true;
  }();
  (void)initialised;

  GError* err = nullptr;
  GPtr<GsfInput> file(gsf_input_stdio_new(path.c_str(), &err));
  if (!file) {
    Fail(path, std::string("cannot open file (") + (err ? err->message : "unknown error") + ")");
    if (err) g_error_free(err);
    return false;
  }
  GPtr<GsfInfile> storage(gsf_infile_msole_new(file.get(), &err));
  if (!storage) {
    Fail(path, std::string("not a compound file (") + (err ? err->message : "unknown error") + ")");
    if (err) g_error_free(err);
    return false;
  }
  GPtr<GsfInput> main(gsf_infile_child_by_name(storage.get(), "WordDocument"));
  if (!main) {
    Fail(path, "no WordDocument stream");
    return false;
  }
  GPtr<GsfInput> table(gsf_infile_child_by_name(storage.get(), "1Table"));
  if (!table) {
    Fail(path, "no 1Table stream");
    return false;
  }

  const std::string fib = ReadAt(main.get(), 0, kLcbClxOffset + 4);
  if (fib.size() < kLcbClxOffset + 4) {
    Fail(path, "File Information Block too short");
    return false;
  }
  const auto* f = reinterpret_cast<const uint8_t*>(fib.data());
  const uint32_t fcClx = Le32(f + kFcClxOffset);
  const uint32_t lcbClx = Le32(f + kLcbClxOffset);

  // Only the bytes actually read are used from here on.
  const std::string clxText = ReadAt(table.get(), fcClx, lcbClx);
  const auto* clx = reinterpret_cast<const uint8_t*>(clxText.data());
  const size_t held = clxText.size();
  if (held < 5 || clx[0] != 2) {
    Fail(path, held == 0 ? "Clx outside the table stream" : "Clx is not a piece table");
    return false;
  }
  const uint32_t lcb = Le32(clx + 1);
  const uint8_t* plc = clx + 5;
  const size_t plcHeld = held - 5;
  if (lcb > plcHeld)
    WriteLog("WARNING, ReadWordText, piece table longer than the Clx that holds it: " + path);
  const uint64_t n = lcb >= 4 ? (uint64_t(lcb) - 4) / 12 : 0;

  // Pieces of a real document do not overlap, so together they never hold more bytes than the main
  // stream; a piece table that claims more (pieces pointing at the same text) is cut off there.
  const auto mainSize = static_cast<uint64_t>(gsf_input_size(main.get()));
  uint64_t budget = mainSize;
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t cpEnd = (i + 2) * 4;                 // CP[i] and CP[i+1]
    const uint64_t pcdEnd = (n + 1) * 4 + i * 8 + 6;    // FcCompressed of descriptor i
    if (cpEnd > plcHeld || pcdEnd > plcHeld || cpEnd > lcb || pcdEnd > lcb) break;
    const uint32_t cp0 = Le32(plc + i * 4);
    const uint32_t cp1 = Le32(plc + (i + 1) * 4);
    const uint32_t fc = Le32(plc + (n + 1) * 4 + i * 8 + 2);
    const uint64_t count = cp1 >= cp0 ? cp1 - cp0 : 0;
    if (cp1 < cp0) WriteLog("WARNING, ReadWordText, piece " + std::to_string(i) + " has a negative length: " + path);
    const bool eightBit = fc & kCompressedBit;
    const uint64_t offset = eightBit ? (fc & ~kCompressedBit) / 2 : fc;
    const uint64_t want = eightBit ? count : count * 2;
    const uint64_t there = offset < mainSize ? std::min(want, mainSize - offset) : 0;
    if (there > budget) {
      WriteLog("WARNING, ReadWordText, pieces hold more text than the document: " + path);
      break;
    }
    budget -= there;
    const std::string bytes = ReadAt(main.get(), offset, there);
    if (eightBit) {
      lines.push_back(Cp1252ToUtf8(bytes));
    } else {
      std::u16string chars(bytes.size() / 2, u'\0');
      for (size_t k = 0; k < chars.size(); ++k)
        chars[k] = static_cast<char16_t>(uint8_t(bytes[2 * k]) | uint8_t(bytes[2 * k + 1]) << 8);
      lines.push_back(Utf16ToUtf8(chars));
    }
  }
  return true;
}

std::string ReportTextFromLines(const std::vector<std::string>& utf8Lines) {
  std::string text;
  for (size_t i = 0; i < utf8Lines.size(); ++i) {
    std::string_view line = utf8Lines[i];
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (i > 0) text += "\r\n";
    for (size_t k = 0; k < line.size(); ++k) {
      if (line[k] == '\r' || line[k] == '\n') {
        if (line[k] == '\r' && k + 1 < line.size() && line[k + 1] == '\n') ++k;
        text += "\r\n";
      } else {
        text += line[k];
      }
    }
  }
  return text;
}

std::string ReportTextFromTextFile(const std::string& bytes) {
  std::string_view v = bytes;
  if (v.substr(0, 3) == "\xEF\xBB\xBF") v.remove_prefix(3);
  const std::string utf8 = IsValidUtf8(v) ? std::string(v) : Cp1252ToUtf8(v);
  return ReportTextFromLines({utf8});
}
