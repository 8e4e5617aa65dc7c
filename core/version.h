#pragma once
// The program's version record. The build embeds it in each executable (scrivara_embed_version in
// core/CMakeLists.txt): a key followed by a 52-byte fixed file information block whose file version
// is the project version (3.1.0.0), little endian.
#include <cstdint>
#include <string>

// "major.minor.release" from the version record in the file at path, or "" when the file cannot be
// read or holds no record.
std::string GetVersionText(const std::string& path);

// Layout of the embedded record, shared by the generator and the reader.
struct VersionRecord {
  char key[16];           // "VS_VERSION_INFO" and a NUL
  uint32_t signature;     // 0xFEEF04BD
  uint32_t strucVersion;  // 0x00010000
  uint32_t fileVersionMS;  // major << 16 | minor
  uint32_t fileVersionLS;  // release << 16 | build
  uint32_t productVersionMS;
  uint32_t productVersionLS;
  uint32_t fileFlagsMask;
  uint32_t fileFlags;
  uint32_t fileOS;
  uint32_t fileType;
  uint32_t fileSubtype;
  uint32_t fileDateMS;
  uint32_t fileDateLS;
};
static_assert(sizeof(VersionRecord) == 16 + 52, "the fixed file information block is 52 bytes");
inline constexpr uint32_t kVersionSignature = 0xFEEF04BD;
