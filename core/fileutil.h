#pragma once
// Whole-file reading and writing: each file written goes to a temporary name beside its place and
// takes its name only when complete. The functions with an operation write one log line
// "ERROR, <operation>, <reason>: <path>" on failure and return false.
#include <cstdio>
#include <string>
#include <string_view>

#include "core/dcmobj.h"

// Reads the whole regular file at path into bytes. A missing file, a folder or another
// non-regular file, and a read error fail.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string_view operation);
// The same straight into an element's buffer (one spare byte of capacity for an even-length pad).
bool ReadWholeFile(const std::string& path, ByteBuffer& bytes, std::string_view operation);

// A temporary name beside path (same folder) for writing it in full before it takes its name.
std::string TemporaryNameFor(const std::string& path);
// Renames the complete file tmp to path, replacing path; on failure tmp is removed.
bool CommitTemporaryFile(const std::string& tmp, const std::string& path, std::string_view operation);
// Writes bytes to a temporary name beside path, then renames it to path. Nothing is left under
// either name when writing fails.
bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string_view operation);
// The same without logging: false with the reason in why. durable: the bytes reach the disk
// (fsync) before the file takes its name. A file that exists keeps its mode; a new one is 0600.
bool WriteFileReplacing(const std::string& path, std::string_view bytes, bool durable, std::string& why);

// Patient data stays with the user: the folders of logs, temporary objects and the outbox only
// their owner may enter, and the files in them only their owner may read.
// Makes the folder (0700; missing parents with the usual mode). A folder that exists with wider
// permissions is tightened to 0700 and `warning` (when given) says so, for the caller's one log line.
// False when the path cannot be a folder.
bool PrivateFolder(const std::string& path, std::string* warning);
// Opens a file for appending, creating it 0600 when new; nullptr when it cannot be opened.
FILE* OpenPrivateAppend(const std::string& path);
// Removes the regular files of the folder last changed more than maxAgeSeconds ago; returns how
// many were removed.
size_t RemoveFilesOlderThan(const std::string& folder, long maxAgeSeconds);

// The file name part of a path (after the last '/' or '\').
std::string FileNamePart(const std::string& path);
// The file name's extension in lower case, with its dot (".doc"); "" when it has none.
std::string LowerExtension(const std::string& path);
