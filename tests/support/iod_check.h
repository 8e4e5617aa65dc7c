#pragma once
// dciodvfy (dicom3tools) run over an object file, with the errors the document objects cause on
// purpose filtered out: shared by the builder tests and the command-line tool's end-to-end tests.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/peer.h"

namespace iodcheck {

inline std::string Program(const std::string& name) {
  const std::string p = testsupport::FindProgram(name);
  EXPECT_FALSE(p.empty()) << name << " is not installed (scripts/install-deps --test)";
  return p;
}

// dciodvfy's error lines, less those naming what the objects leave out or hold on purpose.
inline std::vector<std::string> IodErrors(const std::string& file, const std::vector<std::string>& expected) {
  std::string out;
  testsupport::Run({Program("dciodvfy"), file}, &out);
  std::vector<std::string> errors;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Error", 0) != 0) continue;
    bool known = false;
    for (const auto& e : expected) known = known || line.find(e) != std::string::npos;
    if (!known) errors.push_back(line);
  }
  return errors;
}

// The PDF and the report carry everything their classes ask for; a page image lacks only what the
// geometry of its class asks for (none for the Ultrasound class the test pages use).
inline const std::vector<std::string> kPdfLeftOut = {};
inline const std::vector<std::string> kSRLeftOut = {};
inline const std::vector<std::string> kUSPageLeftOut = {};

}  // namespace iodcheck
