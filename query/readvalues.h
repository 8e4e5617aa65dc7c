#pragma once
// Shared walks over response identifiers (internal to the query clients).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/dcmobj.h"

// How a query key is used: sent with the record's text and read back (Match), sent empty and read
// (Return), sent with the query level's text (Level), only read from responses (Read), or sent when
// the record's text is not empty and read (Optional).
enum class KeyUse : uint8_t { Match, Return, Level, Read, Optional };

// One text key of a query record: the element and the record's field holding its text.
template <class Record>
struct TextKey {
  uint16_t group;
  uint16_t element;
  std::string Record::*text;  // nullptr for a Level key
  KeyUse use = KeyUse::Match;
};

// Adds the element of each key that is sent, in table order (ascending tags).
template <class Record, size_t N>
void AddKeys(const TextKey<Record> (&keys)[N], const Record& record, DcmObj& identifier,
             const std::string& level = std::string()) {
  for (const auto& k : keys) {
    if (k.use == KeyUse::Read || (k.use == KeyUse::Optional && (record.*(k.text)).empty())) continue;
    const std::string& text = k.use == KeyUse::Match || k.use == KeyUse::Optional ? record.*(k.text)
                              : k.use == KeyUse::Level                           ? level
                                                                                 : std::string();
    identifier.Add(DcmTag(k.group, k.element, text));
  }
}

// Copies the element's text into the field of the first key with its tag that is read; false when
// there is none.
template <class Record, size_t N>
bool ReadKey(const TextKey<Record> (&keys)[N], const DcmTag& t, Record& record) {
  for (const auto& k : keys) {
    if (k.use != KeyUse::Level && t.Is(k.group, k.element)) {
      record.*(k.text) = t.GetString();
      return true;
    }
  }
  return false;
}

// Calls `visit` for each element of the identifier's own level that has a defined, non-empty
// length: nested sequence objects are skipped, and so is everything from a sequence of undefined
// length up to its sequence delimitation item.
void ForEachOwnElement(const DcmObj& identifier, const std::function<void(const DcmTag&)>& visit);

// Calls `visit` for every element with a defined, non-empty length, the elements of sequence
// items included (nested objects are walked recursively), in stream order.
void ForEachElement(const DcmObj& identifier, const std::function<void(const DcmTag&)>& visit);

// The value bytes as received (no trimming).
std::string RawText(const DcmTag& tag);
// True when the element's VR letters are `vr`.
bool IsVR(const DcmTag& tag, const char* vr);

// Logs a final C-FIND status other than success.
void LogFindStatus(const char* operation, int status);
