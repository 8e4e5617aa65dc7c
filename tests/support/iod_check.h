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
// The meta group's Implementation Version Name ends in a NUL byte, as the file writer makes it; the
// summary line about invalid values is dropped only when that is the one value it can mean.
inline std::vector<std::string> IodErrors(const std::string& file, const std::vector<std::string>& expected) {
  std::string out;
  testsupport::Run({Program("dciodvfy"), file}, &out);
  std::vector<std::string> errors;
  bool otherInvalidValue = false;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Error", 0) != 0) continue;
    if (line.find("Value invalid for this VR - (0x0002,0x0013)") != std::string::npos) continue;
    if (line.find("Value invalid for this VR") != std::string::npos) otherInvalidValue = true;
    bool known = line.find("Dicom dataset contains invalid data values") != std::string::npos;
    for (const auto& e : expected) known = known || line.find(e) != std::string::npos;
    if (!known) errors.push_back(line);
  }
  if (otherInvalidValue) errors.push_back("Error - Dicom dataset contains invalid data values");
  return errors;
}

// Attributes the objects leave out on purpose, as dciodvfy names them.
inline const std::vector<std::string> kPdfLeftOut = {"<Manufacturer>", "<ContentDate>", "<AcquisitionDateTime>",
                                                     "<BurnedInAnnotation>", "<ConceptNameCodeSequence>"};
// The SR also carries the coding scheme UID "9999.5" of its concept names, which is no valid UID root.
inline const std::vector<std::string> kSRLeftOut = {"<ReferringPhysicianName>",
                                                    "<ReferencedPerformedProcedureStepSequence>",
                                                    "<PerformedProcedureCodeSequence>", "\"9999.5\" in (0x0008,0x010c)"};
// The page's Image Type holds the one value "DERIVED".
inline const std::vector<std::string> kUSPageLeftOut = {
    "<Laterality>", "<Manufacturer>", "<PatientOrientation>",
    "Value Multiplicity 1 (2-n Required by Dictionary) Element=<ImageType>",
    "Bad attribute Value Multiplicity Type 3 Optional Element=<ImageType>",
    "Bad attribute Value Multiplicity Type 2 Required Element=<ImageType>"};

}  // namespace iodcheck
