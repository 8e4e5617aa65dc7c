#pragma once
// Conversions between the program's 8-bit text (Windows code page 1252) and Unicode.
#include <string>
#include <string_view>

// cp1252 -> UTF-8. The five codes cp1252 leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to
// the C1 controls of the same value, as Windows does.
std::string Cp1252ToUtf8(std::string_view text);
// UTF-8 -> cp1252. A character cp1252 cannot hold becomes one '?', and so does each byte of a
// malformed UTF-8 sequence.
std::string Utf8ToCp1252(std::string_view text);
// UTF-16 (host order code units) -> UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
