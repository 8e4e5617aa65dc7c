#include "core/dictionary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

struct Row {
  uint16_t group, element;
  const char* vr;
  const char* name;  // cp1252 bytes
};

std::string VR(const DictEntry* e) { return e ? std::string(e->vr, strnlen(e->vr, 4)) : "(none)"; }

void ExpectRow(const Row& r) {
  const DictEntry* e = FindDictEntry(r.group, r.element);
  ASSERT_NE(e, nullptr) << std::hex << r.group << "," << r.element;
  EXPECT_EQ(VR(e), r.vr) << std::hex << r.group << "," << r.element;
  EXPECT_STREQ(e->name, r.name) << std::hex << r.group << "," << r.element;
  EXPECT_EQ(e->vr[2], 0);
  EXPECT_EQ(e->vr[3], 0);
}

}  // namespace

// Elements the program creates without naming a VR: VR and name bytes exactly.
TEST(DataDictionary, ElementsTheProgramCreates) {
  const Row rows[] = {
      {0x0008, 0x0005, "CS", "Specific Character Set"},
      {0x0008, 0x0008, "CS", "Image Type"},
      {0x0008, 0x0012, "DA", "Instance Creation Date"},
      {0x0008, 0x0013, "TM", "Instance Creation Time"},
      {0x0008, 0x0016, "UI", "SOP Class UID"},
      {0x0008, 0x0018, "UI", "SOP Instance UID"},
      {0x0008, 0x0020, "DA", "Study Date"},
      {0x0008, 0x0030, "TM", "Study Time"},
      {0x0008, 0x0033, "TM", "Content Time"},
      {0x0008, 0x0050, "SH", "Accession Number"},
      {0x0008, 0x0060, "CS", "Modality"},
      {0x0008, 0x0064, "CS", "Conversion Type"},
      {0x0008, 0x0070, "LO", "Manufacturer"},
      {0x0008, 0x0080, "LO", "Institution Name"},
      {0x0008, 0x0090, "PN", "Referring Physician\x92s Name"},
      {0x0008, 0x0100, "SH", "Code Value"},
      {0x0008, 0x0102, "SH", "Coding Scheme Designator"},
      {0x0008, 0x0104, "LO", "Code Meaning"},
      {0x0008, 0x010C, "UI", "Coding Scheme UID"},
      {0x0008, 0x1030, "LO", "Study Description"},
      {0x0008, 0x103E, "LO", "Series Description"},
      {0x0010, 0x0010, "PN", "Patient\x92s Name"},
      {0x0010, 0x0020, "LO", "Patient ID"},
      {0x0010, 0x0030, "DA", "Patient's Birth Date"},
      {0x0010, 0x0040, "CS", "Patient's Sex"},
      {0x0018, 0x1063, "DS", "Frame Time"},
      {0x0020, 0x000D, "UI", "Study Instance UID"},
      {0x0020, 0x000E, "UI", "Series Instance UID"},
      {0x0020, 0x0010, "SH", "Study ID"},
      {0x0020, 0x0011, "IS", "Series Number"},
      {0x0020, 0x0013, "IS", "Instance Number"},
      {0x0028, 0x0004, "CS", "Photometric Interpretation"},
      {0x0028, 0x0008, "IS", "Number of Frames"},
      {0x0028, 0x2110, "CS", "Lossy Image Compression"},
      {0x0028, 0x2112, "DS", "Lossy Image Compression Ratio"},
      {0x0032, 0x1060, "LO", "Requested Procedure Description"},
      {0x0032, 0x1070, "LO", "Requested Contrast Agent"},
      {0x0040, 0x0001, "AE", "Scheduled Station AE Title"},
      {0x0040, 0x0002, "DA", "Scheduled Procedure Step Start Date"},
      {0x0040, 0x0003, "TM", "Scheduled Procedure Step Start Time"},
      {0x0040, 0x0006, "PN", "Scheduled Performing Physician\x92s Name"},
      {0x0040, 0x0007, "LO", "Scheduled Procedure Step Description"},
      {0x0040, 0x0009, "SH", "Scheduled Procedure Step ID"},
      {0x0040, 0x0010, "SH", "Scheduled Station Name"},
      {0x0040, 0x0011, "SH", "Scheduled Procedure Step Location"},
      {0x0040, 0x0012, "LO", "Pre-Medication"},
      {0x0040, 0x0020, "CS", "Scheduled Procedure Step Status"},
      {0x0040, 0x1001, "SH", "Requested Procedure ID"},
      {0x0040, 0x1003, "SH", "Requested Procedure Priority"},
      {0x0040, 0xA010, "CS", "Relationship Type"},
      {0x0040, 0xA040, "CS", "Value Type"},
      {0x0040, 0xA050, "CS", "Continuity Of Content"},
      {0x0040, 0xA123, "PN", "Person Name"},
      {0x0040, 0xA160, "UT", "Text Value"},
      {0x0040, 0xA491, "CS", "Completion Flag"},
      {0x0040, 0xA493, "CS", "Verification Flag"},
      {0x0042, 0x0010, "ST", "Document Title"},
      {0x0042, 0x0012, "LO", "MIME Type of Encapsulated Document"},
  };
  for (const Row& r : rows) ExpectRow(r);
}

// Several possible VRs: one is kept, the others end the name; retired names end in " (RET)";
// delimiters carry DL; names are cp1252.
TEST(DataDictionary, VRChoiceRetiredNamesAndSpecialTags) {
  const Row rows[] = {
      {0x0028, 0x0106, "SS", "Smallest Image Pixel Value US or"},
      {0x6000, 0x3000, "OW", "Overlay Data OB or"},
      {0x5000, 0x3000, "OB", "Curve Data OW or (RET)"},
      {0x0028, 0x1200, "OW", "Gray Lookup Table Data US or SS or (RET)"},
      {0x0028, 0x3006, "OW", "LUT Data US or"},
      {0x7FE0, 0x0010, "OW", "Pixel Data"},
      {0xFFFE, 0xE000, "DL", "Item"},
      {0xFFFE, 0xE00D, "DL", "Item Delimitation Item"},
      {0xFFFE, 0xE0DD, "DL", "Sequence Delimitation Item"},
      {0x0002, 0x0010, "UI", "Transfer Syntax UID"},
      {0x0000, 0x0000, "UL", "Command Group Length"},
      {0x0000, 0x0100, "US", "Command Field"},
      {0x0000, 0x0001, "UL", "Command Length to End (RET)"},
      {0x0008, 0x2110, "CS", "Lossy Image Compression (RET)"},  // registry: "... (Retired)"
      {0x0018, 0x8150, "DS", "Exposure Time in \xB5S"},
      {0x0018, 0x1153, "IS", "Exposure in \xB5" "As"},
      {0x0010, 0x0000, "UL", "Group Length"},
      {0x7FE0, 0x0000, "UL", "Group 7FE0 Length"},
  };
  for (const Row& r : rows) ExpectRow(r);
}

TEST(DataDictionary, UnknownTagsAreNotFound) {
  EXPECT_EQ(FindDictEntry(0x0009, 0x1001), nullptr);  // private
  EXPECT_EQ(FindDictEntry(0x0029, 0x1010), nullptr);
  EXPECT_EQ(FindDictEntry(0x6002, 0x3000), nullptr);  // repeating groups only under 6000/5000
  EXPECT_EQ(FindDictEntry(0x5002, 0x3000), nullptr);
  EXPECT_EQ(FindDictEntry(0xFFFE, 0x0000), nullptr);
  EXPECT_EQ(FindDictEntry(0xFFFF, 0xFFFF), nullptr);
  EXPECT_EQ(FindDictEntry(0x0001, 0x0000), nullptr);
  EXPECT_EQ(FindDictEntry(0x0014, 0x0023), nullptr);  // a real attribute, but its group is not held
  EXPECT_EQ(FindDictEntry(0x0028, 0x04F0), nullptr);  // masked ranges are not held
}

// The table is sorted with every tag once, so the binary search and a first-match walk agree.
TEST(DataDictionary, SortedUniqueAndTerminated) {
  ASSERT_GT(DataDictionarySize, 3000u);
  const DictEntry& end = DataDictionary[DataDictionarySize];
  EXPECT_EQ(end.group, 0);
  EXPECT_EQ(end.element, 0);
  EXPECT_EQ(std::memcmp(end.vr, "\0\0\0\0", 4), 0);
  EXPECT_EQ(end.name, nullptr);
  for (size_t i = 0; i < DataDictionarySize; ++i) {
    const DictEntry& e = DataDictionary[i];
    if (i > 0) {
      const DictEntry& p = DataDictionary[i - 1];
      ASSERT_TRUE(p.group < e.group || (p.group == e.group && p.element < e.element)) << i;
    }
    EXPECT_EQ(FindDictEntry(e.group, e.element), &e) << i;
  }
}

TEST(DataDictionary, EntryProperties) {
  const std::set<uint16_t> listed = {
      0x0000, 0x0002, 0x0004, 0x0008, 0x0010, 0x0012, 0x0018, 0x0020, 0x0022, 0x0028, 0x0032,
      0x0038, 0x003A, 0x0040, 0x0042, 0x0050, 0x0054, 0x0060, 0x0070, 0x0072, 0x0088, 0x0100,
      0x0400, 0x2000, 0x2010, 0x2020, 0x2030, 0x2040, 0x2050, 0x2100, 0x2110, 0x2120, 0x2130,
      0x2200, 0x3002, 0x3004, 0x3006, 0x3008, 0x300A, 0x300C, 0x300E, 0x4000, 0x4008, 0x4FFE,
      0x5000, 0x5200, 0x5400, 0x5600, 0x6000, 0x7FE0, 0xFFFA, 0xFFFC, 0xFFFE};
  std::set<uint16_t> groups;
  size_t retired = 0, dl = 0, microSign = 0;
  for (size_t i = 0; i < DataDictionarySize; ++i) {
    const DictEntry& e = DataDictionary[i];
    groups.insert(e.group);
    ASSERT_NE(e.name, nullptr);
    std::string name = e.name;
    EXPECT_FALSE(name.empty());
    EXPECT_TRUE(e.vr[0] >= 'A' && e.vr[0] <= 'Z' && e.vr[1] >= 'A' && e.vr[1] <= 'Z') << name;
    EXPECT_EQ(e.vr[2], 0);
    EXPECT_EQ(e.vr[3], 0);
    if (std::string(e.vr) == "DL") {
      ++dl;
      EXPECT_EQ(e.group, 0xFFFE);
    }
    for (unsigned char c : name) {
      EXPECT_GE(c, 0x20) << name;
      // Lead bytes of UTF-8 sequences for the characters the registry uses: never left over.
      EXPECT_TRUE(c != 0xC2 && c != 0xE2) << name;
      if (c == 0xB5) ++microSign;
    }
    EXPECT_EQ(name.find("(Retired)"), std::string::npos) << name;
    // Leftover VR words ("OB or ", "US or SS or ") end the name, before " (RET)".
    for (const char* w : {"OB or", "OW or", "US or", "SS or"}) {
      size_t at = name.find(std::string(" ") + w);
      if (at == std::string::npos) continue;
      std::string rest = name.substr(at);
      EXPECT_TRUE(rest == " OB or" || rest == " OW or" || rest == " US or" || rest == " US or SS or" ||
                  rest.substr(rest.size() - 6) == " (RET)")
          << name;
    }
    size_t ret = name.find("(RET)");
    if (ret != std::string::npos) {
      ++retired;
      EXPECT_EQ(ret, name.size() - 5) << name;
      EXPECT_EQ(name[ret - 1], ' ') << name;
    }
    if (e.element == 0x0000) {
      EXPECT_EQ(std::string(e.vr), "UL") << std::hex << e.group;
    }
  }
  EXPECT_EQ(groups, listed);
  EXPECT_EQ(dl, 3u);
  EXPECT_GE(microSign, 3u);
  EXPECT_GT(retired, 200u);
  // A group length element for every group but the item group.
  for (uint16_t g : listed) {
    const DictEntry* e = FindDictEntry(g, 0x0000);
    if (g == 0xFFFE) {
      EXPECT_EQ(e, nullptr);
      continue;
    }
    ASSERT_NE(e, nullptr) << std::hex << g;
    if (g == 0x7FE0) {
      EXPECT_STREQ(e->name, "Group 7FE0 Length");
    } else if (g != 0x0000 && g != 0x0002) {
      EXPECT_STREQ(e->name, "Group Length") << std::hex << g;
    }
  }
}

TEST(UIDNames, TableTextsAndExactMatch) {
  ASSERT_EQ(UIDNameTableSize, 104u);
  std::set<std::string> uids;
  for (size_t i = 0; i < UIDNameTableSize; ++i) {
    EXPECT_TRUE(uids.insert(UIDNameTable[i].uid).second) << UIDNameTable[i].uid;
    EXPECT_EQ(GetUIDName(UIDNameTable[i].uid), UIDNameTable[i].name);
  }
  EXPECT_STREQ(UIDNameTable[0].uid, "1.2.840.10008.1.2");
  EXPECT_STREQ(UIDNameTable[103].name, "X-Ray Radiofluoroscopic Image Storage");
  EXPECT_EQ(GetUIDName("1.2.840.10008.1.2"), "Little Endian Implicit VR");
  EXPECT_EQ(GetUIDName("1.2.840.10008.1.2.4.50"), "JPEG BaseLine Lossy ");
  EXPECT_EQ(GetUIDName("1.2.840.10008.1.2.4.57"), "");
  EXPECT_EQ(GetUIDName("1.2.840.10008.5.1.4.1.1.11.3"), "Pseudo Color Softcopy Presentation StateStorage");
  EXPECT_EQ(GetUIDName("1.2.840.10008.5.1.1.30"), "Hardcopy Color Image StorageSOP Class (Retired)");
  EXPECT_EQ(GetUIDName("1.2.840.10008.5.1.4.1.1.1.2"),
            "Digital Mammography X-ray Image Storage - For Presentation");
  EXPECT_EQ(GetUIDName("1.2.840.10008.5.1.4.1.1.7"), "Secondary Capture Image Storage");
  EXPECT_EQ(GetUIDName("1.2.840.10008.5.1.4.31"), "Worklist");
  EXPECT_EQ(GetUIDName("1.2.840.10008.5.1.4.1.2.2.1"), "C-FIND");
  EXPECT_EQ(GetUIDName("1.2.840.10008.5.1.4.1.1.104.1"), "Encapsulated PDF Storage");
  // Exact over the whole text: padding, prefixes and case do not match.
  EXPECT_EQ(GetUIDName("1.2.840.10008.1.2 "), "");
  EXPECT_EQ(GetUIDName(std::string("1.2.840.10008.1.2\0", 18)), "");
  EXPECT_EQ(GetUIDName("1.2.840.10008.1"), "");
  EXPECT_EQ(GetUIDName(""), "");
}

TEST(UIDNames, TransferSyntaxList) {
  ASSERT_EQ(KnownTransferSyntaxCount, 12u);
  for (const char* ts : {"1.2.840.10008.1.2", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.2", "1.2.840.10008.1.2.1.99",
                         "1.2.840.10008.1.2.5", "1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.51",
                         "1.2.840.10008.1.2.4.57", "1.2.840.10008.1.2.4.70", "1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91",
                         "1.2.840.10008.1.2.4.100"})
    EXPECT_TRUE(IsKnownTransferSyntax(ts)) << ts;
  EXPECT_FALSE(IsKnownTransferSyntax("1.2.840.10008.1.2.4.80"));  // JPEG-LS lossless
  EXPECT_FALSE(IsKnownTransferSyntax("1.2.840.10008.1.2.1 "));
  EXPECT_FALSE(IsKnownTransferSyntax(std::string("1.2.840.10008.1.2.1\0", 20)));
  EXPECT_FALSE(IsKnownTransferSyntax(""));
}

TEST(UIDNames, ImageSOPClassList) {
  ASSERT_EQ(ImageSOPClassCount, 43u);
  // The image storage rows of the name table from CR to X-Ray Radiofluoroscopic, in order.
  size_t first = 0;
  while (first < UIDNameTableSize && std::string(UIDNameTable[first].name) != "CR Image Storage") ++first;
  ASSERT_EQ(UIDNameTableSize - first, 41u);
  for (size_t i = 0; i < 41; ++i) EXPECT_STREQ(ImageSOPClasses[i], UIDNameTable[first + i].uid) << i;
  EXPECT_STREQ(ImageSOPClasses[41], "1.2.840.10008.5.1.4.1.1.13.1.2");
  EXPECT_STREQ(ImageSOPClasses[42], "1.2.392.200036.9125.1.1.2");
  EXPECT_EQ(GetUIDName(ImageSOPClasses[41]), "");
  EXPECT_EQ(GetUIDName(ImageSOPClasses[42]), "");

  EXPECT_TRUE(IsImageSOPClass("1.2.840.10008.5.1.4.1.1.7"));
  EXPECT_TRUE(IsImageSOPClass("1.2.840.10008.5.1.4.1.1.1"));
  EXPECT_TRUE(IsImageSOPClass("1.2.840.10008.5.1.4.1.1.12.2"));
  EXPECT_TRUE(IsImageSOPClass("1.2.840.10008.5.1.1.29"));
  EXPECT_TRUE(IsImageSOPClass("1.2.392.200036.9125.1.1.2"));
  EXPECT_FALSE(IsImageSOPClass("1.2.840.10008.5.1.4.1.1.104.1"));  // Encapsulated PDF
  EXPECT_FALSE(IsImageSOPClass("1.2.840.10008.5.1.4.1.1.88.11"));  // Basic Text SR
  EXPECT_FALSE(IsImageSOPClass("1.2.840.10008.5.1.4.1.1.12.77"));
  EXPECT_FALSE(IsImageSOPClass("1.2.840.10008.5.1.4.1.1.7 "));
  EXPECT_FALSE(IsImageSOPClass(""));
}
