#pragma once
// Text of a Word 97-2003 binary document (.doc), read from its piece table.
#include <string>
#include <vector>

// Appends one line per piece of the document's piece table, in table order, as UTF-8 (8-bit pieces
// are cp1252, 16-bit pieces UTF-16LE). Word's control characters are kept as they are: paragraph
// marks stay carriage returns. The caller empties the list first.
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
// The report text of a .txt file's bytes: UTF-8 (an initial byte order mark dropped), or, when the
// bytes are not valid UTF-8, cp1252 as they are; then as ReportTextFromLines.
std::string ReportTextFromTextFile(const std::string& bytes);
