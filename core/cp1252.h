#pragma once
// Conversions between the program's 8-bit text (Windows code page 1252) and Unicode, for the
// window edge and for files written by other programs.
#include <string>
#include <string_view>

// cp1252 -> UTF-8. The five codes cp1252 leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to
// the C1 controls of the same value, as Windows does, so every byte survives a round trip.
std::string Cp1252ToUtf8(std::string_view text);
// UTF-8 -> cp1252. Characters cp1252 cannot hold, and malformed UTF-8 sequences, become '?'.
std::string Utf8ToCp1252(std::string_view text);
// cp1252 -> UTF-16 (host order code units), same mapping as Cp1252ToUtf8.
std::u16string Cp1252ToUtf16(std::string_view text);
// UTF-16 -> cp1252; characters cp1252 cannot hold (and unpaired surrogates) become '?'.
std::string Utf16ToCp1252(std::u16string_view text);
// UTF-16 -> UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// UTF-8 -> code points; a malformed sequence becomes U+FFFD.
std::u32string Utf8ToUtf32(std::string_view text);
// Code points -> UTF-8; a surrogate or a value beyond U+10FFFF becomes U+FFFD.
std::string Utf32ToUtf8(std::u32string_view text);
// True when text is well-formed UTF-8 (shortest forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view text);
