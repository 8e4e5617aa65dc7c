#pragma once
// Rich text for the report editor: a small styled-text model, and RTF read and written the way
// LibreOffice, WordPad and Word exchange it. No Qt here; the editor adapts the model to its widget.
#include <cstdint>
#include <deque>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// A font family name, shared by the runs that use it: a document has a few fonts and may have a
// great many runs. Reads and compares as the name.
class FontName {
 public:
  FontName() = default;
  FontName(std::string name)  // NOLINT: a name is a font name
      : name_(name.empty() ? nullptr : std::make_shared<const std::string>(std::move(name))) {}
  FontName(const char* name) : FontName(std::string(name)) {}  // NOLINT
  const std::string& str() const { return name_ ? *name_ : Empty(); }
  operator const std::string&() const { return str(); }  // NOLINT
  bool empty() const { return !name_; }
  bool operator==(const FontName& o) const { return name_ == o.name_ || str() == o.str(); }
  friend std::ostream& operator<<(std::ostream& os, const FontName& f) { return os << f.str(); }

 private:
  static const std::string& Empty() {
    static const std::string none;
    return none;
  }
  std::shared_ptr<const std::string> name_;
};

// One run of characters with one look. Text is UTF-8; a line break inside a paragraph is "\n",
// a tab "\t".
struct TextRun {
  std::string text;
  FontName font;           // family name; "" for the document's default
  int halfPoints = 24;     // size in half points (12 pt)
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool coloured = false;   // false: the automatic colour
  uint32_t rgb = 0;        // 0xRRGGBB when coloured

  // Same look (everything but the text).
  bool SameLook(const TextRun& o) const;
  bool operator==(const TextRun& o) const = default;
};

enum class Alignment { Left, Right, Center, Justify };

struct Paragraph {
  Alignment alignment = Alignment::Left;
  // A deque: a paragraph of a great many runs grows in steps, never by copying itself whole.
  std::deque<TextRun> runs;
  bool operator==(const Paragraph& o) const = default;
};

struct StyledText {
  std::vector<Paragraph> paragraphs;
  bool operator==(const StyledText& o) const = default;

  // The plain text: paragraphs and line breaks as CR LF, as the report sends it.
  std::string PlainText() const;
  // Appends a run to the last paragraph (a new paragraph when there is none), merging it into the
  // run before when the look is the same.
  void Append(TextRun run);
};

// What stands between the cells of a table row in the text (a report's text allows no TAB); each
// row is a paragraph of its own.
inline constexpr char kCellSeparator[] = " | ";

// The largest RTF document the editor opens: 64 MB (a long report with pictures is a few MB).
inline constexpr size_t kMaxRtfBytes = 64u << 20;

// Reads an RTF document, in time and memory linear in its size. False (with one log line, `what`
// naming the file) when the bytes do not start an RTF document or are more than kMaxRtfBytes;
// otherwise true with what could be read: a damaged or cut document gives
// its text up to the damage, and unknown control words and destinations are skipped without losing
// the text around them. Never allocates more than the input's size allows.
bool ReadRtf(std::string_view bytes, StyledText& out, const std::string& what);

// The document as RTF: \ansi\ansicpg1252, a font and a colour table, \'hh for code page 1252 and
// \uN? beyond it, paragraphs with their alignment, runs with their look. ASCII only, no byte-order
// mark.
std::string WriteRtf(const StyledText& text);

// True when the bytes start like an RTF document ("{\rtf", spaces before it allowed).
bool LooksLikeRtf(std::string_view bytes);
