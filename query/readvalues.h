#pragma once
// Shared walks over response identifiers (internal to the query clients).
#include <functional>
#include <string>

class DcmObj;
class DcmTag;

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
