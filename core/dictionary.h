#pragma once
// Static DICOM knowledge: the data dictionary (tag -> VR and name) and the UID tables.
#include <cstddef>
#include <cstdint>
#include <string>

struct DictEntry {
  uint16_t group;
  uint16_t element;
  char vr[4];        // two VR letters and two NUL bytes; all NUL only in the terminator
  const char* name;  // cp1252
};

// The whole dictionary in tag order, followed by one all-zero terminating entry.
extern const DictEntry DataDictionary[];
// Number of entries before the terminator.
extern const size_t DataDictionarySize;

// The entry of exactly (group, element), or nullptr when the dictionary does not list it.
// No masking of repeating groups and no private tags: (6002,3000) and (0009,1001) are not found.
// A binary search over the sorted table (O(log n)), the same result as a first-match walk.
const DictEntry* FindDictEntry(uint16_t group, uint16_t element);

// The UID name table, in table order (no duplicate UIDs).
struct UIDName {
  const char* uid;
  const char* name;
};
extern const UIDName UIDNameTable[];
extern const size_t UIDNameTableSize;
// The eleven transfer syntaxes and the image SOP classes, in list order.
extern const size_t KnownTransferSyntaxCount;
extern const char* const ImageSOPClasses[];
extern const size_t ImageSOPClassCount;

// The name of a known UID (trailing blanks as in the table), or "" for an unknown one.
std::string GetUIDName(const std::string& uid);
// One of the eleven transfer syntaxes the program handles.
bool IsKnownTransferSyntax(const std::string& uid);
// One of the image storage SOP classes whose pixel data may be converted before sending.
bool IsImageSOPClass(const std::string& uid);
