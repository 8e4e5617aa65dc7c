#pragma once
// Text in a data set's Specific Character Set (0008,0005) to and from UTF-8, through iconv.
//
// The declared value may be multi-valued ("ISO 2022 IR 6\ISO 2022 IR 100"): text is then read by
// its escape sequences, starting in the first value's set. No value (the default repertoire) is
// read as code page 1252, a superset of ASCII that unlabelled Western archives use in practice.
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char kLatin1Set[] = "ISO_IR 100";
inline constexpr const char kUtf8Set[] = "ISO_IR 192";

// The bytes as UTF-8. A byte sequence the set cannot hold becomes U+FFFD; an unknown defined term is
// read as Latin-1, with one WARNING line naming it.
std::string DecodeDicomText(std::string_view bytes, std::string_view specificCharacterSet);

// UTF-8 text in the declared set. False (out untouched) when the set cannot hold a character of it,
// when the text is not UTF-8, or when the set is one this program does not write (ISO 2022 code
// extensions, unknown terms). No value holds ASCII only.
bool EncodeDicomText(std::string_view utf8, std::string_view specificCharacterSet, std::string& out);

// The set a typed text is written in: no value when it is ASCII, "ISO_IR 100" when Latin-1 holds
// it, "ISO_IR 192" (UTF-8) otherwise.
std::string TypedCharacterSet(std::string_view utf8);

// Writes UTF-8 texts that belong together (the values of one object or one query) in the set
// TypedCharacterSet gives for all of them and `extra`; returns that set.
std::string EncodeTypedTexts(const std::vector<std::string*>& texts, std::string_view extra = {});

// Bytes in a Windows code page (1250-1258, 874, 932, 936, 949, 950; 0 and others as 1252) as
// UTF-8; a byte sequence the page cannot hold becomes U+FFFD.
std::string DecodeCodePage(std::string_view bytes, int codePage);

// Text from one iconv encoding to another; false (out untouched) when a character has no place in
// the target or the encodings are unknown.
bool ConvertText(std::string_view in, const char* from, const char* to, std::string& out);

// True when every byte is below 0x80.
bool IsAscii(std::string_view text);
