#pragma once
// A reader of INI files with the semantics of the classic profile-string call: "[Section]" headers
// and "Key=Value" lines, section and key names compared without regard to case, values trimmed of
// blanks and of one pair of enclosing quotes, and the default when the file, the section or the
// key is missing. Lines starting with ";" are comments. The first matching key counts.
#include <string>
#include <vector>

class IniFile {
 public:
  // Loads the file; false (and an empty file) when it cannot be read or is not a plausible INI
  // file (over 1 MiB). Text is taken as cp1252, except a file in UTF-8 (with a byte-order mark,
  // or well-formed UTF-8 holding non-ASCII characters), which is converted to cp1252.
  bool Load(const std::string& path);
  // The same with the text kept as it is in the file (file names in the file system's own bytes).
  bool LoadBytes(const std::string& path);
  // The value of key in section, or def.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;

 private:
  bool load(const std::string& path, bool toCp1252);
  struct Entry {
    std::string section, key, value;
  };
  std::vector<Entry> entries_;
};

// One value from the file at path, or def.
std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key,
                          const std::string& def);
