#include "convert/word_conv.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>

#include "convert/rtf.h"
#include "core/cp1252.h"
#include "core/fileutil.h"
#include "core/lazylib.h"
#include "core/log.h"

namespace {

// File Information Block: offset and size of the Clx inside the table stream.
constexpr size_t kFcClxOffset = 418;
constexpr size_t kLcbClxOffset = 422;
constexpr uint32_t kCompressedBit = 0x40000000;

// libgsf's functions (and GLib's, through it), from the library opened on first use: most runs of
// the command line read no Word file and should not pay for loading it and GLib.
struct GsfApi {
  decltype(&::gsf_init) init = nullptr;
  decltype(&::gsf_input_stdio_new) input_stdio_new = nullptr;
  decltype(&::gsf_infile_msole_new) infile_msole_new = nullptr;
  decltype(&::gsf_infile_child_by_name) infile_child_by_name = nullptr;
  decltype(&::gsf_input_size) input_size = nullptr;
  decltype(&::gsf_input_seek) input_seek = nullptr;
  decltype(&::gsf_input_read) input_read = nullptr;
  decltype(&::g_object_unref) object_unref = nullptr;
  decltype(&::g_error_free) error_free = nullptr;
  decltype(&::g_log_set_handler) log_set_handler = nullptr;
};

// The table, or null with why when the library cannot be loaded.
const GsfApi* Gsf(std::string* why = nullptr) {
  static LazyLibrary library("libgsf-1.so.114");
  static GsfApi api;
  static const bool bound = [] {
    const bool all = library.Bind(api.init, "gsf_init") && library.Bind(api.input_stdio_new, "gsf_input_stdio_new") &&
                     library.Bind(api.infile_msole_new, "gsf_infile_msole_new") &&
                     library.Bind(api.infile_child_by_name, "gsf_infile_child_by_name") &&
                     library.Bind(api.input_size, "gsf_input_size") && library.Bind(api.input_seek, "gsf_input_seek") &&
                     library.Bind(api.input_read, "gsf_input_read") && library.Bind(api.object_unref, "g_object_unref") &&
                     library.Bind(api.error_free, "g_error_free") &&
                     library.Bind(api.log_set_handler, "g_log_set_handler");
    if (all) {
      api.init();
      // The compound file reader reports damaged files through glib's log as well; the one
      // ERROR line of ReadWordText says it.
      for (const char* domain : {"libgsf", "libgsf:msole"})
        api.log_set_handler(domain, GLogLevelFlags(G_LOG_LEVEL_MASK),
                            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    }
    return all;
  }();
  if (!bound && why) *why = "the Word file library: " + library.Problem();
  return bound ? &api : nullptr;
}

struct GObjectUnref {
  void operator()(void* p) const {
    if (p) Gsf()->object_unref(p);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Reads up to count bytes at offset; fewer when the stream ends first.
std::string ReadAt(GsfInput* in, uint64_t offset, uint64_t count) {
  const GsfApi& gsf = *Gsf();
  const auto size = static_cast<uint64_t>(gsf.input_size(in));
  if (offset >= size || count == 0) return {};
  if (count > size - offset) count = size - offset;
  if (gsf.input_seek(in, static_cast<gsf_off_t>(offset), G_SEEK_SET)) return {};
  std::string out(count, '\0');
  if (!gsf.input_read(in, count, reinterpret_cast<guint8*>(out.data()))) return {};
  return out;
}

void Fail(const std::string& path, const std::string& why) {
  WriteLog("ERROR, ReadWordText, " + why + ": " + path);
}

// Word's marks in the text as a reader of the document sees them, across the pieces: a cell mark
// (7) ends a cell, and the second of two ends its row (when the row has as many cells as the one
// before it), so cells are separated and each row is a paragraph; a field (19, code, 20, result,
// 21) shows its result only; the anchors of pictures, drawn objects, note references and the
// optional hyphen are dropped; line, page and column breaks become paragraph breaks and the
// non-breaking hyphen a hyphen.
void ReadableWordText(std::vector<std::string>& lines, size_t first) {
  constexpr size_t kMaxFieldDepth = 64;  // deeper fields count, but are all code
  std::vector<bool> inCode;              // per open field: its code still runs
  size_t codes = 0, deeper = 0;          // open fields in their code; fields beyond the depth
  bool cellEnded = false;
  size_t cells = 0, columns = 0;  // cells of this row so far; cells of the row before
  for (size_t i = first; i < lines.size(); ++i) {
    std::string& line = lines[i];
    std::string out;
    out.reserve(line.size());
    for (const char ch : line) {
      const auto c = static_cast<unsigned char>(ch);
      if (c == 0x13) {
        if (inCode.size() < kMaxFieldDepth) inCode.push_back(true), ++codes;
        else ++deeper;
        continue;
      }
      if (c == 0x14 || c == 0x15) {
        if (deeper > 0) {
          deeper -= c == 0x15;
        } else if (!inCode.empty()) {
          if (inCode.back()) --codes;
          if (c == 0x14) inCode.back() = false;
          else inCode.pop_back();
        }
        continue;
      }
      if (codes > 0 || deeper > 0) continue;  // a field's code
      if (c == 0x07) {
        // The mark after a cell mark ends the row, unless the row has fewer cells than the one
        // before it: then it ends an empty cell.
        if (cellEnded && cells >= columns) {
          out += '\r';
          columns = cells;
          cells = 0;
          cellEnded = false;
        } else {
          if (cellEnded) out += kCellSeparator;
          ++cells;
          cellEnded = true;
        }
        continue;
      }
      if (cellEnded) {
        out += kCellSeparator;
        cellEnded = false;
      }
      if (c == '\r' && cells == 0) columns = 0;  // a paragraph between rows: the table may end here
      if (c == 0x0B || c == 0x0C || c == 0x0E) out += '\r';
      else if (c == 0x1E) out += '-';
      else if (c >= 0x20 || c == '\r' || c == '\n' || c == '\t') out += ch;
    }
    line = std::move(out);
  }
}

}  // namespace

bool ReadWordText(const std::string& path, std::vector<std::string>& lines) {
  std::string missing;
  const GsfApi* gsf = Gsf(&missing);
  if (!gsf) {
    Fail(path, missing);
    return false;
  }
  GError* err = nullptr;
  GPtr<GsfInput> file(gsf->input_stdio_new(path.c_str(), &err));
  if (!file) {
    Fail(path, std::string("cannot open file (") + (err ? err->message : "unknown error") + ")");
    if (err) gsf->error_free(err);
    return false;
  }
  GPtr<GsfInfile> storage(gsf->infile_msole_new(file.get(), &err));
  if (!storage) {
    Fail(path, std::string("not a compound file (") + (err ? err->message : "unknown error") + ")");
    if (err) gsf->error_free(err);
    return false;
  }
  GPtr<GsfInput> main(gsf->infile_child_by_name(storage.get(), "WordDocument"));
  if (!main) {
    Fail(path, "no WordDocument stream");
    return false;
  }
  GPtr<GsfInput> table(gsf->infile_child_by_name(storage.get(), "1Table"));
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
  const auto mainSize = static_cast<uint64_t>(gsf->input_size(main.get()));
  uint64_t budget = mainSize;
  const size_t first = lines.size();
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
  ReadableWordText(lines, first);
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

std::string TextFileToUtf8(std::string_view v) {
  const bool le = v.substr(0, 2) == "\xFF\xFE", be = v.substr(0, 2) == "\xFE\xFF";
  if (le || be) {
    v.remove_prefix(2);
    std::u16string units(v.size() / 2, u'\0');
    for (size_t k = 0; k < units.size(); ++k) {
      const auto a = uint8_t(v[2 * k]), b = uint8_t(v[2 * k + 1]);
      units[k] = static_cast<char16_t>(le ? a | b << 8 : b | a << 8);
    }
    return Utf16ToUtf8(units);
  }
  if (v.substr(0, 3) == "\xEF\xBB\xBF") v.remove_prefix(3);
  return IsValidUtf8(v) ? std::string(v) : Cp1252ToUtf8(v);
}

ReportFormat ReportFormatOf(std::string_view bytes) {
  if (bytes.substr(0, 8) == std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) return ReportFormat::Word;
  if (LooksLikeRtf(bytes)) return ReportFormat::Rtf;
  return ReportFormat::Text;
}

bool ReadReportFile(const std::string& path, ReportFile& out, std::string& why) {
  char head[64] = {};
  std::ifstream in(path, std::ios::binary);
  if (in) in.read(head, sizeof head);
  if (!in && !in.eof()) {
    why = "it cannot be opened";
    WriteLog("ERROR, ReadReportFile, cannot read " + path);
    return false;
  }
  out = ReportFile();
  out.format = ReportFormatOf(std::string_view(head, size_t(in.gcount())));
  if (out.format == ReportFormat::Word) {
    std::vector<std::string> lines;
    if (!ReadWordText(path, lines)) {  // logged
      why = "the text of the Word document cannot be read";
      return false;
    }
    out.text = ReportTextFromLines(lines);
    return true;
  }
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) > kMaxRtfBytes && !ec) {
    why = "a report is at most " + std::to_string(kMaxRtfBytes >> 20) + " MB";
    WriteLog("ERROR, ReadReportFile, larger than " + std::to_string(kMaxRtfBytes >> 20) + " MB: " + path);
    return false;
  }
  std::string bytes;
  if (!ReadWholeFile(path, bytes, "ReadReportFile")) {
    why = "it cannot be read";
    return false;
  }
  if (out.format == ReportFormat::Rtf && ReadRtf(bytes, out.rich, path)) {
    out.text = out.rich.PlainText();
    return true;
  }
  out.format = ReportFormat::Text;
  out.text = TextFileToUtf8(bytes);
  return true;
}
