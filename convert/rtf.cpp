#include "convert/rtf.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/charset.h"
#include "core/cp1252.h"
#include "core/log.h"

bool TextRun::SameLook(const TextRun& o) const {
  return font == o.font && halfPoints == o.halfPoints && bold == o.bold && italic == o.italic &&
         underline == o.underline && coloured == o.coloured && rgb == o.rgb;
}

void StyledText::Append(TextRun run) {
  if (paragraphs.empty()) paragraphs.emplace_back();
  std::deque<TextRun>& runs = paragraphs.back().runs;
  if (!runs.empty() && runs.back().SameLook(run))
    runs.back().text += run.text;
  else
    runs.push_back(std::move(run));
}

std::string StyledText::PlainText() const {
  std::string out;
  for (size_t p = 0; p < paragraphs.size(); ++p) {
    if (p) out += "\r\n";
    for (const TextRun& r : paragraphs[p].runs)
      for (char c : r.text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  return out;
}

bool LooksLikeRtf(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\r' || bytes[i] == '\n' || bytes[i] == '\t')) ++i;
  return bytes.substr(i, 5) == "{\\rtf";
}

namespace {

// The code page of a font's \fcharset.
int CodePageOfCharset(int charset) {
  switch (charset) {
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return 0;  // the document's code page
  }
}

// The destinations whose text is not part of the document.
bool SkippedDestination(const std::string& word) {
  static const char* const kSkipped[] = {
      "pict",      "stylesheet", "info",        "header",     "headerl",    "headerr",   "headerf",
      "footer",    "footerl",    "footerr",     "footerf",    "footnote",   "object",    "nonshppict",
      "shppict",   "themedata",  "colorschememapping",        "latentstyles", "datastore", "xmlnstbl",
      "listtable", "listoverridetable",         "rsidtbl",    "generator",  "fldinst",   "pntext",
      "pntxta",    "pntxtb",     "filetbl",     "revtbl",     "bkmkstart",  "bkmkend",   "template",
      "mmathPr",   "xe",         "tc",          "private",    "userprops",  "docvar",
      "nonesttables"};  // the plain rendering of nested tables, for readers that do not read them
  for (const char* s : kSkipped)
    if (word == s) return true;
  return false;
}

// NestedRow: a nested table's row properties, where only the row's end counts.
enum class Dest { Text, FontTable, ColourTable, Skip, NestedRow };

struct State {
  Dest dest = Dest::Text;
  int font = -1;  // index into the font table; -1: the default
  int halfPoints = 24;
  bool bold = false, italic = false, underline = false;
  int colour = 0;  // index into the colour table; 0: automatic
  int uc = 1;      // characters to skip after \uN
  Alignment alignment = Alignment::Left;
};

struct Font {
  int codePage = 0;
  std::string name;   // as read from the font table
  FontName shared;    // the name the runs share, made at its first run
};

constexpr size_t kMaxDepth = 512;

class Reader {
 public:
  Reader(std::string_view in, std::string what) : in_(in), what_(std::move(what)) {}

  void Run(StyledText& out) {
    out_ = &out;
    while (pos_ < in_.size() && !done_) Step();
    if (!done_) WriteLog("WARNING, ReadRtf, the document ends before its last group closes: " + what_);
    FlushBytes();
    if (!current_.runs.empty()) out_->paragraphs.push_back(std::move(current_));
  }

 private:
  State& S() { return stack_.back(); }

  void Step() {
    const char c = in_[pos_];
    if (c == '{') {
      ++pos_;
      FlushBytes();
      if (stack_.size() >= kMaxDepth || skipDepth_ > 0) {
        ++skipDepth_;  // too deep: the group's text is dropped, the rest read on
        return;
      }
      stack_.push_back(stack_.empty() ? State() : S());
      groupStart_ = true;
      return;
    }
    if (c == '}') {
      ++pos_;
      FlushBytes();
      if (skipDepth_ > 0) {
        --skipDepth_;
        return;
      }
      if (!stack_.empty()) stack_.pop_back();
      if (stack_.empty()) done_ = true;  // the document's last brace
      skip_ = 0;
      return;
    }
    const bool first = groupStart_;
    groupStart_ = false;
    if (c == '\\') {
      ControlWord(first);
      return;
    }
    ++pos_;
    if (c == '\r' || c == '\n') return;
    if (skipDepth_ > 0 || stack_.empty()) return;
    if (skip_ > 0) {
      --skip_;
      return;
    }
    if (static_cast<unsigned char>(c) >= 0x80) {  // raw 8-bit text: the code page's bytes
      bytes_ += c;
      return;
    }
    Char(c == '\t' ? std::string("\t") : std::string(1, c));
  }

  void ControlWord(bool groupStart) {
    ++pos_;  // the backslash
    if (pos_ >= in_.size()) return;
    const char c = in_[pos_];
    if (!std::isalpha(static_cast<unsigned char>(c))) {
      ++pos_;
      Symbol(c, groupStart);
      return;
    }
    std::string word;
    while (pos_ < in_.size() && std::isalpha(static_cast<unsigned char>(in_[pos_])) && word.size() < 32) word += in_[pos_++];
    while (pos_ < in_.size() && std::isalpha(static_cast<unsigned char>(in_[pos_]))) ++pos_;  // overlong: cut
    bool hasParam = false;
    long param = 0;
    bool negative = false;
    if (pos_ < in_.size() && in_[pos_] == '-') {
      negative = true;
      ++pos_;
    }
    int digits = 0;
    while (pos_ < in_.size() && std::isdigit(static_cast<unsigned char>(in_[pos_]))) {
      if (digits++ < 10) param = param * 10 + (in_[pos_] - '0');
      hasParam = true;
      ++pos_;
    }
    if (negative) param = -param;
    if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
    if (skipDepth_ > 0 || stack_.empty()) return;
    if (word == "bin") {  // binary data: skipped whole
      const size_t n = hasParam && param > 0 ? static_cast<size_t>(param) : 0;
      pos_ += std::min(n, in_.size() - pos_);
      return;
    }
    if (word != "u" && skip_ > 0) {
      --skip_;
      return;
    }
    Word(word, hasParam, param, groupStart);
  }

  void Symbol(char c, bool groupStart) {
    if (skipDepth_ > 0 || stack_.empty()) return;
    switch (c) {
      case '*':
        if (groupStart) S().dest = Dest::Skip;
        return;
      case '\'': {
        if (pos_ + 2 > in_.size()) {
          pos_ = in_.size();
          return;
        }
        const std::string hex(in_.substr(pos_, 2));
        pos_ += 2;
        char* end = nullptr;
        const long v = std::strtol(hex.c_str(), &end, 16);
        if (end != hex.c_str() + 2) return;
        if (skip_ > 0) {
          --skip_;
          return;
        }
        bytes_ += static_cast<char>(v);
        return;
      }
      case '~': Char("\xC2\xA0"); return;
      case '_': Char("\xE2\x80\x91"); return;
      case '-': return;  // optional hyphen
      case '\r':
      case '\n': EndParagraph(); return;
      default:
        if (c == '\\' || c == '{' || c == '}') Char(std::string(1, c));
        return;
    }
  }

  void Word(const std::string& w, bool hasParam, long p, bool groupStart) {
    State& s = S();
    const bool on = !hasParam || p != 0;
    if (groupStart && (w == "fonttbl")) { s.dest = Dest::FontTable; return; }
    if (groupStart && (w == "colortbl")) { s.dest = Dest::ColourTable; return; }
    if (SkippedDestination(w)) { s.dest = Dest::Skip; return; }
    if (w == "nesttableprops" && stack_.size() >= 2 && stack_[stack_.size() - 2].dest == Dest::Text) {
      s.dest = Dest::NestedRow;
      return;
    }
    if (s.dest == Dest::NestedRow) {
      if (w == "nestrow") EndRow();
      return;
    }
    if (s.dest == Dest::FontTable) { FontWord(w, p); return; }
    if (s.dest == Dest::ColourTable) { ColourWord(w, p); return; }
    if (s.dest == Dest::Skip) return;
    if (w == "ansicpg" && hasParam) { codePage_ = static_cast<int>(p); return; }
    if (w == "deff" && hasParam) { defaultFont_ = static_cast<int>(p); return; }
    if (w == "uc" && hasParam) { s.uc = p < 0 ? 0 : static_cast<int>(std::min<long>(p, 10)); return; }
    if (w == "u" && hasParam) { Unicode(p); return; }
    FlushBytes();
    if (w == "par" || w == "page" || w == "sect") EndParagraph();
    else if (w == "cell" || w == "nestcell") {
      // A cell ends: the next cell's text comes after a separator, an empty cell still takes its place.
      if (cellPending_) {
        cellPending_ = false;
        Emit(kCellSeparator);
      }
      cellPending_ = true;
    } else if (w == "row" || w == "nestrow") {
      EndRow();
    }
    else if (w == "line") Char("\n");
    else if (w == "tab") Char("\t");
    else if (w == "pard") s.alignment = Alignment::Left;
    else if (w == "ql") s.alignment = Alignment::Left;
    else if (w == "qr") s.alignment = Alignment::Right;
    else if (w == "qc") s.alignment = Alignment::Center;
    else if (w == "qj") s.alignment = Alignment::Justify;
    else if (w == "plain") { const State keep = s; s = State(); s.dest = keep.dest; s.uc = keep.uc; s.alignment = keep.alignment; }
    else if (w == "b") s.bold = on;
    else if (w == "i") s.italic = on;
    else if (w == "ul") s.underline = on;
    else if (w == "ulnone") s.underline = false;
    else if (w == "fs" && hasParam) s.halfPoints = static_cast<int>(std::clamp<long>(p, 2, 3276));
    else if (w == "f" && hasParam) s.font = static_cast<int>(p);
    else if (w == "cf" && hasParam) s.colour = static_cast<int>(p);
    else if (w == "emdash") Char("\xE2\x80\x94");
    else if (w == "endash") Char("\xE2\x80\x93");
    else if (w == "bullet") Char("\xE2\x80\xA2");
    else if (w == "lquote") Char("\xE2\x80\x98");
    else if (w == "rquote") Char("\xE2\x80\x99");
    else if (w == "ldblquote") Char("\xE2\x80\x9C");
    else if (w == "rdblquote") Char("\xE2\x80\x9D");
  }

  void FontWord(const std::string& w, long p) {
    if (w == "f") {
      // A font named again replaces the earlier entry.
      Font& font = fonts_[static_cast<int>(p)];
      font = Font{};
      tableFont_ = &font;
    } else if (w == "fcharset" && tableFont_) {
      tableFont_->codePage = CodePageOfCharset(static_cast<int>(p));
    }
  }

  void ColourWord(const std::string& w, long p) {
    const uint32_t v = static_cast<uint32_t>(std::clamp<long>(p, 0, 255));
    if (w == "red") colour_ = (colour_ & 0x00FFFF) | v << 16;
    if (w == "green") colour_ = (colour_ & 0xFF00FF) | v << 8;
    if (w == "blue") colour_ = (colour_ & 0xFFFF00) | v;
    if (w == "red" || w == "green" || w == "blue") colourSet_ = true;
  }

  void Unicode(long p) {
    FlushBytes();
    uint32_t u = static_cast<uint32_t>(p < 0 ? p + 65536 : p) & 0xFFFF;
    skip_ = S().uc;
    if (u >= 0xD800 && u <= 0xDBFF) {
      high_ = u;
      return;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) {
      u = high_ ? 0x10000 + ((high_ - 0xD800) << 10) + (u - 0xDC00) : 0xFFFD;
    }
    high_ = 0;
    std::u16string units;
    if (u >= 0x10000) {
      units = {static_cast<char16_t>(0xD800 + ((u - 0x10000) >> 10)), static_cast<char16_t>(0xDC00 + ((u - 0x10000) & 0x3FF))};
    } else {
      units = {static_cast<char16_t>(u)};
    }
    Char(Utf16ToUtf8(units));
  }

  // Text in the current destination.
  void Char(const std::string& utf8) {
    State& s = S();
    if (s.dest == Dest::Skip || s.dest == Dest::NestedRow) return;
    if (s.dest == Dest::ColourTable) {
      if (utf8 == ";") {
        colours_.push_back(colourSet_ ? colour_ : kAuto);
        colour_ = 0;
        colourSet_ = false;
      }
      return;
    }
    if (s.dest == Dest::FontTable) {
      if (!tableFont_) return;
      if (utf8 == ";") return;
      if (tableFont_->name.size() < 256) tableFont_->name += utf8;
      return;
    }
    FlushBytes();
    Emit(utf8);
  }

  // Bytes of \'hh (and raw 8-bit text) wait until the text around them ends, so that a two-byte
  // character of an Asian code page is read whole.
  void FlushBytes() {
    if (bytes_.empty() || stack_.empty()) {
      bytes_.clear();
      return;
    }
    std::string b;
    b.swap(bytes_);
    State& s = S();
    if (s.dest == Dest::FontTable) {
      if (tableFont_ && tableFont_->name.size() < 256) tableFont_->name += DecodeCodePage(b, 1252);
      return;
    }
    if (s.dest != Dest::Text) return;
    Emit(DecodeCodePage(b, CodePage()));
  }

  Font* FontOf(int index) {
    const auto it = fonts_.find(index);
    return it == fonts_.end() ? nullptr : &it->second;
  }

  int CodePage() {
    const Font* font = FontOf(S().font >= 0 ? S().font : defaultFont_);
    return font && font->codePage ? font->codePage : codePage_;
  }

  void Emit(const std::string& utf8) {
    if (cellPending_) {
      cellPending_ = false;
      Emit(kCellSeparator);
    }
    const State& s = S();
    TextRun run;
    run.text = utf8;
    // The document's default font is the model's "" (the editor's own default).
    const int f = s.font >= 0 ? s.font : defaultFont_;
    if (Font* font = f != defaultFont_ ? FontOf(f) : nullptr) {
      if (font->shared.empty() && !font->name.empty()) {
        std::string name = font->name;
        while (!name.empty() && name.back() == ' ') name.pop_back();
        font->shared = FontName(std::move(name));
      }
      run.font = font->shared;
    }
    run.halfPoints = s.halfPoints;
    run.bold = s.bold;
    run.italic = s.italic;
    run.underline = s.underline;
    if (s.colour > 0 && size_t(s.colour) < colours_.size() && colours_[size_t(s.colour)] != kAuto) {
      run.coloured = true;
      run.rgb = colours_[size_t(s.colour)];
    }
    current_.alignment = s.alignment;
    if (!current_.runs.empty() && current_.runs.back().SameLook(run))
      current_.runs.back().text += run.text;
    else
      current_.runs.push_back(std::move(run));
  }

  // A table row ends: its paragraph ends (in the text, whatever group the mark stands in).
  void EndRow() {
    cellPending_ = false;
    FlushBytes();
    if (stack_.empty()) return;
    out_->paragraphs.push_back(std::move(current_));
    current_ = Paragraph();
  }

  void EndParagraph() {
    FlushBytes();
    if (stack_.empty() || S().dest != Dest::Text) return;
    current_.alignment = S().alignment;
    out_->paragraphs.push_back(std::move(current_));
    current_ = Paragraph();
  }

  static constexpr uint32_t kAuto = 0xFFFFFFFFu;
  bool cellPending_ = false;  // a table cell ended; its separator comes before the next text
  std::string_view in_;
  std::string what_;
  size_t pos_ = 0;
  bool done_ = false;
  bool groupStart_ = false;
  size_t skipDepth_ = 0;
  int skip_ = 0;
  uint32_t high_ = 0;
  std::vector<State> stack_;
  std::unordered_map<int, Font> fonts_;  // by number (\fN)
  Font* tableFont_ = nullptr;             // the entry the font table is naming
  std::vector<uint32_t> colours_;
  uint32_t colour_ = 0;
  bool colourSet_ = false;
  int codePage_ = 1252;
  int defaultFont_ = 0;
  std::string bytes_;
  Paragraph current_;
  StyledText* out_ = nullptr;
};

}  // namespace

bool ReadRtf(std::string_view bytes, StyledText& out, const std::string& what) {
  out = StyledText();
  if (bytes.size() > kMaxRtfBytes) {
    WriteLog("ERROR, ReadRtf, the document is larger than " + std::to_string(kMaxRtfBytes >> 20) + " MB: " + what);
    return false;
  }
  if (!LooksLikeRtf(bytes)) {
    WriteLog("ERROR, ReadRtf, not an RTF document: " + what);
    return false;
  }
  Reader(bytes, what).Run(out);
  return true;
}

namespace {

void WriteEscaped(std::string& out, const std::string& utf8) {
  for (char32_t c : Utf8ToUtf32(utf8)) {
    if (c == '\\' || c == '{' || c == '}') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\line ";
    } else if (c == '\t') {
      out += "\\tab ";
    } else if (c >= 0x20 && c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      continue;  // control characters have no place in the text
    } else {
      const std::string cp = Utf8ToCp1252(Utf32ToUtf8(std::u32string(1, c)));
      char hex[16];
      if (cp != "?") {
        std::snprintf(hex, sizeof hex, "\\'%02x", static_cast<unsigned char>(cp[0]));
        out += hex;
      } else if (c >= 0x10000) {
        const char32_t v = c - 0x10000;
        std::snprintf(hex, sizeof hex, "\\u%d?", static_cast<int>(0xD800 + (v >> 10)) - 65536);
        out += hex;
        std::snprintf(hex, sizeof hex, "\\u%d?", static_cast<int>(0xDC00 + (v & 0x3FF)) - 65536);
        out += hex;
      } else {
        std::snprintf(hex, sizeof hex, "\\u%d?", c > 0x7FFF ? static_cast<int>(c) - 65536 : static_cast<int>(c));
        out += hex;
      }
    }
  }
}

// The position of v in a table made in order of first use (a number per font or colour).
template <class T>
class Table {
 public:
  size_t IndexOf(const T& v) {
    const auto [it, added] = index_.emplace(v, list_.size());
    if (added) list_.push_back(v);
    return it->second;
  }
  const std::vector<T>& list() const { return list_; }

 private:
  std::unordered_map<T, size_t> index_;
  std::vector<T> list_;
};

}  // namespace

std::string WriteRtf(const StyledText& text) {
  // \f0 is the document's default font (the model's ""); named fonts follow from \f1.
  Table<std::string> fontTable;
  Table<uint32_t> colourTable;
  for (const Paragraph& p : text.paragraphs)
    for (const TextRun& r : p.runs) {
      if (!r.font.empty()) fontTable.IndexOf(r.font.str());
      if (r.coloured) colourTable.IndexOf(r.rgb);
    }
  const std::vector<std::string>& fonts = fontTable.list();
  const std::vector<uint32_t>& colours = colourTable.list();
  std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl{\\f0\\fnil\\fcharset0 Liberation Serif;}";
  for (size_t i = 0; i < fonts.size(); ++i) {
    out += "{\\f" + std::to_string(i + 1) + "\\fnil\\fcharset0 ";
    WriteEscaped(out, fonts[i]);
    out += ";}";
  }
  out += "}\n{\\colortbl;";
  for (uint32_t c : colours)
    out += "\\red" + std::to_string(c >> 16 & 0xFF) + "\\green" + std::to_string(c >> 8 & 0xFF) + "\\blue" +
           std::to_string(c & 0xFF) + ";";
  out += "}\n";
  static const char* const kAlign[] = {"\\ql", "\\qr", "\\qc", "\\qj"};
  for (const Paragraph& p : text.paragraphs) {
    out += "\\pard";
    out += kAlign[static_cast<int>(p.alignment)];
    for (const TextRun& r : p.runs) {
      const size_t f = r.font.empty() ? 0 : fontTable.IndexOf(r.font.str()) + 1;
      const size_t cf = r.coloured ? colourTable.IndexOf(r.rgb) + 1 : 0;
      out += "\\plain\\f" + std::to_string(f) + "\\fs" + std::to_string(r.halfPoints) + (r.bold ? "\\b" : "") +
             (r.italic ? "\\i" : "") + (r.underline ? "\\ul" : "") + "\\cf" + std::to_string(cf) + " ";
      WriteEscaped(out, r.text);
    }
    out += "\\par\n";
  }
  out += "}\n";
  return out;
}
