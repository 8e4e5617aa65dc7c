#pragma once
// Test support: a whole file read or written in one call.
#include <fstream>
#include <sstream>
#include <string>

namespace testsupport {

// The file's bytes; "" when it cannot be read.
inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Replaces the file with the bytes.
inline void WriteAll(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
}

}  // namespace testsupport
