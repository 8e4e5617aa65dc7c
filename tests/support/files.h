#pragma once
// Test support: a whole file read or written in one call.
#include <cstdio>
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

// A PDF that readers open: one empty A4 page, its cross-reference table in order. `note` goes into
// a comment (to vary the bytes, or their number).
inline std::string MinimalPdf(const std::string& note = "") {
  std::string pdf = "%PDF-1.4\n%" + note + "\n";
  const char* objects[] = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                           "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>"};
  std::string xref = "xref\n0 4\n0000000000 65535 f \n";
  for (int i = 0; i < 3; ++i) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", pdf.size());
    xref += line;
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t at = pdf.size();
  return pdf + xref + "trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n" + std::to_string(at) + "\n%%EOF\n";
}

}  // namespace testsupport
