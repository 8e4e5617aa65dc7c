#pragma once
// Text of a Word 97-2003 binary document (.doc), read from its piece table.
#include <string>
#include <string_view>
#include <vector>

// Appends one line per piece of the document's piece table, in table order, as UTF-8 (8-bit pieces
// are cp1252, 16-bit pieces UTF-16LE), as a reader sees the text: paragraph marks stay carriage
// returns; table cells are separated by kCellSeparator and each row ends its paragraph; fields show
// their result, not their code; the anchors of pictures, objects and notes are dropped; line, page
// and column breaks are paragraph breaks. The caller empties the list first.
// Returns false, with one log line, when the document cannot be read: not a compound file, no
// "WordDocument" or "1Table" stream (a document whose table stream is 0Table is not read), a
// File Information Block too short to hold the Clx location, or a Clx that is not a piece table.
// Nothing is then added. A piece whose characters run past the end of the main stream contributes
// what is there; a piece table cut short contributes the pieces it holds in full.
bool ReadWordText(const std::string& path, std::vector<std::string>& lines);

// The report text the editor sends after importing those lines unedited, as the command-line tool
// builds it: UTF-8, each line a paragraph and each paragraph mark inside a line (CR, LF or CR LF) a
// paragraph break, breaks written CR LF; the paragraph marks that end a line add none of their own
// (so a document reads the same whichever way its text is cut into pieces).
std::string ReportTextFromLines(const std::vector<std::string>& utf8Lines);
// A text file's bytes as UTF-8: by their byte order mark (UTF-8, UTF-16 little or big endian; the
// mark dropped), else as UTF-8 when they are valid UTF-8, else as cp1252.
std::string TextFileToUtf8(std::string_view bytes);

// What a report file holds, by its content whatever its name says: a Word 97-2003 document (a
// compound file), RTF, or text.
enum class ReportFormat { Word, Rtf, Text };
ReportFormat ReportFormatOf(std::string_view firstBytes);

#include "convert/rtf.h"

// A report file read by its content: a Word document's text (ReadWordText, ReportTextFromLines),
// an RTF document (its styled text, and its plain text), or a text file (TextFileToUtf8, its line
// ends as they stand).
struct ReportFile {
  ReportFormat format = ReportFormat::Text;
  StyledText rich;   // RTF only
  std::string text;  // UTF-8
};
// False, with the reason in why (details logged), when the file cannot be read or is larger than
// kMaxRtfBytes (a Word document is read from the file, whatever its size).
bool ReadReportFile(const std::string& path, ReportFile& out, std::string& why);
