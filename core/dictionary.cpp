#include "core/dictionary.h"

#include <algorithm>
#include <string_view>

#include "core/transfer_syntax.h"

// DataDictionary and DataDictionarySize are generated at build time (core/data/gen_dictionary.cpp)
// into dictionary_table.cpp, sorted by (group, element) with every tag once. A binary search over
// that order therefore finds the same entry as walking the table from the start.
const DictEntry* FindDictEntry(uint16_t group, uint16_t element) {
  const uint32_t key = (uint32_t(group) << 16) | element;
  const DictEntry* end = DataDictionary + DataDictionarySize;
  const DictEntry* it = std::lower_bound(DataDictionary, end, key, [](const DictEntry& e, uint32_t k) {
    return ((uint32_t(e.group) << 16) | e.element) < k;
  });
  if (it == end || it->group != group || it->element != element) return nullptr;
  return it;
}

// Names as the dump shows them; the odd blanks ("JPEG BaseLine Lossy ", "StateStorage") are kept.
const UIDName UIDNameTable[] = {
    {kTsImplicitLE, "Little Endian Implicit VR"},
    {kTsExplicitLE, "Little Endian Explicit VR"},
    {kTsExplicitBE, "Big Endian Explicit VR"},
    {kTsDeflatedLE, "Deflated Little Endian Explicit VR"},
    {kTsRLE, "RLE LossLess"},
    {kTsJpegLossless, "JPEG LossLess"},
    {kTsJpegBaseline, "JPEG BaseLine Lossy "},
    {kTsJpegExtended, "JPEG Extended Lossy"},
    {kTsJ2KLossless, "JPEG 2000 LossLess"},
    {kTsJ2K, "JPEG 2000 Lossy"},
    {"1.2.840.10008.1.1", "Verification"},
    {"1.2.840.10008.5.1.4.31", "Worklist"},
    {"1.2.840.10008.3.1.2.3.3", "MPPS"},
    {"1.2.840.10008.5.1.4.1.2.2.1", "C-FIND"},
    {"1.2.840.10008.5.1.4.1.2.2.2", "C-MOVE"},
    {"1.2.840.10008.5.1.1.1", "Basic Film Session SOP Class"},
    {"1.2.840.10008.5.1.1.2", "Basic Film Box SOP Class"},
    {"1.2.840.10008.5.1.1.4", "Basic Grayscale Image Box SOP Class"},
    {"1.2.840.10008.5.1.1.4.1", "Basic Color Image Box SOP Class"},
    {"1.2.840.10008.5.1.1.9", "Basic Grayscale Print Management Meta SOP Class"},
    {"1.2.840.10008.5.1.1.14", "Print Job SOP Class"},
    {"1.2.840.10008.5.1.1.15", "Basic Annotation Box SOP Class"},
    {"1.2.840.10008.5.1.1.16", "Printer SOP Class"},
    {"1.2.840.10008.5.1.1.17", "Printer SOP Instance"},
    {"1.2.840.10008.5.1.1.18", "Basic Color Print Management Meta SOP Class"},
    {"1.2.840.10008.5.1.1.23", "Presentation LUT SOP Class"},
    {"1.2.840.10008.5.1.4.1.1.9.1.3", "Ambulatory ECG Waveform Storage"},
    {"1.2.840.10008.5.1.4.1.1.88.11", "Basic Text SR"},
    {"1.2.840.10008.5.1.4.1.1.9.4.1", "Basic Voice Audio Waveform Storage"},
    {"1.2.840.10008.5.1.4.1.1.11.4", "Blending Softcopy Presentation State Storage"},
    {"1.2.840.10008.5.1.4.1.1.9.3.1", "Cardiac Electrophysiology Waveform Storage"},
    {"1.2.840.10008.5.1.4.1.1.88.65", "Chest CAD SR"},
    {"1.2.840.10008.5.1.4.1.1.11.2", "Color Softcopy Presentation State Storage"},
    {"1.2.840.10008.5.1.4.1.1.88.33", "Comprehensive SR"},
    {"1.2.840.10008.5.1.4.1.1.104.1", "Encapsulated PDF Storage"},
    {"1.2.840.10008.5.1.4.1.1.88.22", "Enhanced SR"},
    {"1.2.840.10008.5.1.4.1.1.9.1.2", "General ECG Waveform Storage"},
    {"1.2.840.10008.5.1.4.1.1.11.1", "Grayscale Softcopy Presentation State Storage"},
    {"1.2.840.10008.5.1.4.1.1.9.2.1", "Hemodynamic Waveform Storage"},
    {"1.2.840.10008.5.1.4.1.1.88.59", "Key Object Selection Document"},
    {"1.2.840.10008.5.1.4.1.1.88.50", "Mammography CAD SR"},
    {"1.2.840.10008.5.1.4.1.1.4.2", "MR Spectroscopy Storage"},
    {"1.2.840.10008.5.1.4.1.1.129", "PET Curve Storage"},
    {"1.2.840.10008.5.1.4.1.1.88.40", "Procedure Log Storage"},
    {"1.2.840.10008.5.1.4.1.1.11.3", "Pseudo Color Softcopy Presentation StateStorage"},
    {"1.2.840.10008.5.1.4.1.1.66", "Raw Data Storage"},
    {"1.2.840.10008.5.1.4.1.1.67", "Real World Value Mapping Storage"},
    {"1.2.840.10008.5.1.4.1.1.481.4", "RT Beams Treatment Record Storage"},
    {"1.2.840.10008.5.1.4.1.1.481.6", "RT Brachy Treatment Record Storage"},
    {"1.2.840.10008.5.1.4.1.1.481.2", "RT Dose Storage"},
    {"1.2.840.10008.5.1.4.1.1.481.5", "RT Plan Storage"},
    {"1.2.840.10008.5.1.4.1.1.481.3", "RT Structure Set Storage"},
    {"1.2.840.10008.5.1.4.1.1.481.7", "RT Treatment Summary Record Storage"},
    {"1.2.840.10008.5.1.4.1.1.66.2", "Spatial Fiducials Storage"},
    {"1.2.840.10008.5.1.4.1.1.66.1", "Spatial Registration Storage"},
    {"1.2.840.10008.5.1.4.1.1.9", "Standalone Curve Storage"},
    {"1.2.840.10008.5.1.4.1.1.10", "Standalone Modality LUT Storage"},
    {"1.2.840.10008.5.1.4.1.1.8", "Standalone Overlay Storage"},
    {"1.2.840.10008.5.1.4.1.1.11", "Standalone VOI LUT Storage"},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.3", "Stereometric Relationship Storage"},
    {"1.2.840.10008.5.1.1.27", "Stored Print Storage"},
    {"1.2.840.10008.5.1.4.1.1.9.1.1", "Twelve Lead ECG Waveform Storage"},
    {"1.2.840.10008.5.1.4.1.1.88.67", "XRay Radiation Dose SR"},
    {"1.2.840.10008.5.1.4.1.1.1", "CR Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.2", "CT Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.1.2", "Digital Mammography X-ray Image Storage - For Presentation"},
    {"1.2.840.10008.5.1.4.1.1.1.2.1", "Digital Mammography X-ray Image Storage - For Processing"},
    {"1.2.840.10008.5.1.4.1.1.1.3", "Digital IntraOral X-ray Image Storage - For Presentation"},
    {"1.2.840.10008.5.1.4.1.1.1.3.1", "Digital IntraOral X-ray Image Storage - For Processing"},
    {"1.2.840.10008.5.1.4.1.1.1.1", "Digital X-ray Image Storage - For Presentation"},
    {"1.2.840.10008.5.1.4.1.1.1.1.1", "Digital X-ray Image Storage - For Processing"},
    {"1.2.840.10008.5.1.4.1.1.2.1", "Enhanced CT Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.4.1", "Enhanced MR Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.12.1.1", "Enhanced XA Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.12.2.1", "XRF Image Storage"},
    {"1.2.840.10008.5.1.1.30", "Hardcopy Color Image StorageSOP Class (Retired)"},
    {"1.2.840.10008.5.1.1.29", "Hardcopy Grayscale Image Storage SOP Class (Retired)"},
    {"1.2.840.10008.5.1.4.1.1.4", "MR Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.7.2", "Multi-frame Grayscale Byte Secondary Capture Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.7.3", "Multi-frame Grayscale Word Secondary Capture Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.7.1", "Multi-frame Single Bit Secondary Capture Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.7.4", "Multi-frame True Color Byte Secondary Capture Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.20", "Nuclear Medicine Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.1", "Ophthalmic Photography 8 bit Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.2", "Ophthalmic Photography 16 bit Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.128", "Positron Emission Tomography (PET) Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.5", "Nuclear Medicine Image Storage (Retired)"},
    {"1.2.840.10008.5.1.4.1.1.6", "Ultrasound Image Storage (Retired)"},
    {"1.2.840.10008.5.1.4.1.1.3", "Ultrasound Multi-frame Image Storage (Retired)"},
    {"1.2.840.10008.5.1.4.1.1.77.1", "VL Image Storage (Retired)"},
    {"1.2.840.10008.5.1.4.1.1.77.2", "VL Multi-frame Image Storage (Retired)"},
    {"1.2.840.10008.5.1.4.1.1.12.3", "X Ray Angiographic BiPlane Image Storage (Retired)"},
    {"1.2.840.10008.5.1.4.1.1.481.1", "RT Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.7", "Secondary Capture Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.6.1", "Ultrasound Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.3.1", "Ultrasound Multi-frame Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.77.1.1.1", "Video Endoscopic Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.77.1.2.1", "Video Microscopic Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.77.1.4.1", "Video Photographic Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.77.1.1", "VL Video Endoscopic Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.77.1.2", "VL Video Microscopic Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.77.1.4", "VL Video Photographic Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.12.1", "X-Ray Angiographic Image Storage"},
    {"1.2.840.10008.5.1.4.1.1.12.2", "X-Ray Radiofluoroscopic Image Storage"},
};
const size_t UIDNameTableSize = sizeof(UIDNameTable) / sizeof(UIDNameTable[0]);

const size_t KnownTransferSyntaxCount = kTransferSyntaxCount;

// The image storage rows of the UID name table in table order, then two classes it does not name.
const char* const ImageSOPClasses[] = {
    "1.2.840.10008.5.1.4.1.1.1",
    "1.2.840.10008.5.1.4.1.1.2",
    "1.2.840.10008.5.1.4.1.1.1.2",
    "1.2.840.10008.5.1.4.1.1.1.2.1",
    "1.2.840.10008.5.1.4.1.1.1.3",
    "1.2.840.10008.5.1.4.1.1.1.3.1",
    "1.2.840.10008.5.1.4.1.1.1.1",
    "1.2.840.10008.5.1.4.1.1.1.1.1",
    "1.2.840.10008.5.1.4.1.1.2.1",
    "1.2.840.10008.5.1.4.1.1.4.1",
    "1.2.840.10008.5.1.4.1.1.12.1.1",
    "1.2.840.10008.5.1.4.1.1.12.2.1",
    "1.2.840.10008.5.1.1.30",
    "1.2.840.10008.5.1.1.29",
    "1.2.840.10008.5.1.4.1.1.4",
    "1.2.840.10008.5.1.4.1.1.7.2",
    "1.2.840.10008.5.1.4.1.1.7.3",
    "1.2.840.10008.5.1.4.1.1.7.1",
    "1.2.840.10008.5.1.4.1.1.7.4",
    "1.2.840.10008.5.1.4.1.1.20",
    "1.2.840.10008.5.1.4.1.1.77.1.5.1",
    "1.2.840.10008.5.1.4.1.1.77.1.5.2",
    "1.2.840.10008.5.1.4.1.1.128",
    "1.2.840.10008.5.1.4.1.1.5",
    "1.2.840.10008.5.1.4.1.1.6",
    "1.2.840.10008.5.1.4.1.1.3",
    "1.2.840.10008.5.1.4.1.1.77.1",
    "1.2.840.10008.5.1.4.1.1.77.2",
    "1.2.840.10008.5.1.4.1.1.12.3",
    "1.2.840.10008.5.1.4.1.1.481.1",
    "1.2.840.10008.5.1.4.1.1.7",
    "1.2.840.10008.5.1.4.1.1.6.1",
    "1.2.840.10008.5.1.4.1.1.3.1",
    "1.2.840.10008.5.1.4.1.1.77.1.1.1",
    "1.2.840.10008.5.1.4.1.1.77.1.2.1",
    "1.2.840.10008.5.1.4.1.1.77.1.4.1",
    "1.2.840.10008.5.1.4.1.1.77.1.1",
    "1.2.840.10008.5.1.4.1.1.77.1.2",
    "1.2.840.10008.5.1.4.1.1.77.1.4",
    "1.2.840.10008.5.1.4.1.1.12.1",
    "1.2.840.10008.5.1.4.1.1.12.2",
    "1.2.840.10008.5.1.4.1.1.13.1.2",
    "1.2.392.200036.9125.1.1.2",
};
const size_t ImageSOPClassCount = sizeof(ImageSOPClasses) / sizeof(ImageSOPClasses[0]);

// UIDs compare exactly over the whole text: trailing padding does not match.
std::string GetUIDName(const std::string& uid) {
  for (const UIDName& row : UIDNameTable)
    if (uid == row.uid) return row.name;
  return "";
}

bool IsKnownTransferSyntax(const std::string& uid) { return FindTransferSyntax(uid) != nullptr; }

bool IsImageSOPClass(const std::string& uid) {
  return std::any_of(std::begin(ImageSOPClasses), std::end(ImageSOPClasses),
                     [&](const char* sop) { return uid == sop; });
}
