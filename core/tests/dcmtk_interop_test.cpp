// Files we write are read by DCMTK without complaint; files DCMTK writes in every uncompressed
// transfer syntax, with defined- and undefined-length sequences, are read by us and written back so
// that dcmdump shows the same data set.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/bufdata.h"
#include "core/dcmobj.h"
#include "tests/support/peer.h"

namespace {

const char kDump[] = R"((0008,0005) CS [ISO_IR 100]
(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]
(0008,0018) UI [1.2.3.4.5.6.7.8.9.1]
(0008,0060) CS [OT]
(0008,1110) SQ (Sequence with explicit length #=2)
  (fffe,e000) na (Item with explicit length #=2)
    (0008,1150) UI [1.2.840.10008.3.1.2.3.1]
    (0008,1155) UI [1.2.3.4]
  (fffe,e00d) na (ItemDelimitationItem for re-encoding)
  (fffe,e000) na (Item with explicit length #=2)
    (0008,1150) UI [1.2.840.10008.3.1.2.3.1]
    (0040,a043) SQ (Sequence with explicit length #=1)
      (fffe,e000) na (Item with explicit length #=3)
        (0008,0100) SH [T-1]
        (0008,0102) SH [SRT]
        (0008,0104) LO [Deep item]
      (fffe,e00d) na (ItemDelimitationItem for re-encoding)
    (fffe,e0dd) na (SequenceDelimitationItem for re-encoding)
  (fffe,e00d) na (ItemDelimitationItem for re-encoding)
(fffe,e0dd) na (SequenceDelimitationItem for re-encoding)
(0009,0010) LO [ACME 1.0]
(0009,1001) LO [private value]
(0010,0010) PN [Doe^Jane]
(0010,0020) LO [ID12345]
(0018,1310) US 0\4\4\0
(0018,9087) FD 1000.5
(0020,0013) IS [7]
(0020,9165) AT (0028,0010)\(0028,0011)
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US 4
(0028,0011) US 4
(0028,0030) DS [0.5\0.25]
(0028,0100) US 16
(0028,0101) US 12
(0028,0102) US 11
(0028,0103) US 0
(0028,0106) US 3
(0028,0107) US 4095
(0028,1050) DS [2048]
(0028,9001) UL 65537
(0040,a160) UT [A longer text value for the round trip]
(0042,0011) OB 01\02\03\04\05\06
(7fe0,0010) OW 0000\0001\0002\0003\0100\0101\0102\0103\0200\0201\0202\0203\0fff\0ffe\0ffd\0ffc
)";

class DcmtkInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* p : {"dcmdump", "dump2dcm", "dcmconv"})
      ASSERT_FALSE(testsupport::FindProgram(p).empty()) << p << " is not installed (scripts/install-deps --test)";
    dir_ = testsupport::MakeTempDir("dcmtk_interop");
  }
  void TearDown() override { testsupport::RemoveTree(dir_); }

  // dcmdump's text of the data set only (the meta group differs by design), and its warnings.
  std::string DataSetDump(const std::string& file, std::string* complaints = nullptr) {
    std::string out;
    const int rc = testsupport::Run({"dcmdump", "-M", "+L", file}, &out);
    EXPECT_EQ(rc, 0) << out;
    std::istringstream in(out);
    std::string line, body;
    bool inDataSet = false;
    while (std::getline(in, line)) {
      if (line.rfind("W: ", 0) == 0 || line.rfind("E: ", 0) == 0 || line.rfind("F: ", 0) == 0) {
        if (complaints) *complaints += line + "\n";
        continue;
      }
      if (line == "# Dicom-Data-Set") inDataSet = true;
      if (inDataSet) body += line + "\n";
    }
    return body;
  }

  std::string dir_;
};

}  // namespace

TEST_F(DcmtkInterop, FilesWrittenByDcmtkRoundTrip) {
  const std::string dump = dir_ + "/in.txt";
  std::ofstream(dump) << kDump;
  const std::string base = dir_ + "/base.dcm";
  std::string out;
  ASSERT_EQ(testsupport::Run({"dump2dcm", "+te", dump, base}, &out), 0) << out;
  struct Case {
    const char* xfer;
    const char* lengths;
    const char* ts;
  };
  for (const Case& c : {Case{"+ti", "+e", "1.2.840.10008.1.2"}, Case{"+ti", "-e", "1.2.840.10008.1.2"},
                        Case{"+te", "+e", "1.2.840.10008.1.2.1"}, Case{"+te", "-e", "1.2.840.10008.1.2.1"},
                        Case{"+tb", "+e", "1.2.840.10008.1.2.2"}, Case{"+tb", "-e", "1.2.840.10008.1.2.2"}}) {
    SCOPED_TRACE(std::string(c.xfer) + " " + c.lengths);
    const std::string theirs = dir_ + "/theirs" + c.xfer + c.lengths + ".dcm";
    const std::string ours = dir_ + "/ours" + c.xfer + c.lengths + ".dcm";
    ASSERT_EQ(testsupport::Run({"dcmconv", c.xfer, c.lengths, base, theirs}, &out), 0) << out;
    DcmObj obj;
    ASSERT_TRUE(obj.Read(theirs));
    EXPECT_EQ(obj.transferSyntax, c.ts);
    EXPECT_EQ(obj.GetString(0x0010, 0x0010), "Doe^Jane");
    EXPECT_EQ(obj.GetUS(0x0028, 0x0010), 4);
    // Defined lengths give nested objects; undefined ones stay flat.
    const bool defined = std::string(c.lengths) == "+e";
    const size_t seq = defined ? 4 : obj.IndexOf(0x0008, 0x1110);
    ASSERT_NE(seq, DcmObj::npos);
    EXPECT_STREQ(obj.ClassNameAt(seq), defined ? "DcmObj" : "DcmTag");
    ASSERT_TRUE(obj.Write(ours));
    std::string complaints;
    const std::string a = DataSetDump(theirs);
    const std::string b = DataSetDump(ours, &complaints);
    EXPECT_EQ(complaints, "");
    EXPECT_EQ(a, b);
    EXPECT_NE(b.find("Deep item"), std::string::npos);
  }
}

TEST_F(DcmtkInterop, FilesWeWriteAreReadWithoutWarnings) {
  for (const char* ts : {"1.2.840.10008.1.2", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.2"}) {
    SCOPED_TRACE(ts);
    const bool be = std::string(ts) == "1.2.840.10008.1.2.2";
    DcmObj o;
    o.transferSyntax = ts;
    o.explicitVR = std::string(ts) != "1.2.840.10008.1.2";
    o.SetText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.88.11");
    o.SetText(0x0008, 0x0018, "1.2.3.4.5.6.7.8.9.10.11.123");
    o.SetText(0x0008, 0x0060, "SR");
    o.SetText(0x0010, 0x0010, "Doe^John");
    o.SetText(0x0040, 0xA040, "CONTAINER");
    o.Insert(be ? DcmTag(0x0028, 0x0010, 2, "\x02\x00", "US") : DcmTag::Number16(0x0028, 0x0010, 512));
    // A nested sequence of two items, one with a sequence of its own.
    auto content = std::make_unique<DcmObj>();
    for (int i = 0; i < 2; ++i) {
      auto item = std::make_unique<DcmObj>();
      item->SetText(0x0040, 0xA010, "CONTAINS");
      item->SetText(0x0040, 0xA040, "TEXT");
      item->SetText(0x0040, 0xA160, i ? "Second paragraph." : "First");
      auto code = std::make_unique<DcmObj>();
      auto codeItem = std::make_unique<DcmObj>();
      codeItem->SetText(0x0008, 0x0100, "121070");
      codeItem->SetText(0x0008, 0x0102, "DCM");
      codeItem->SetText(0x0008, 0x0104, "Findings");
      code->InsertSequence(0xFFFE, 0xE000, std::move(codeItem));
      item->InsertSequence(0x0040, 0xA043, std::move(code));
      content->InsertSequence(0xFFFE, 0xE000, std::move(item));
    }
    o.InsertSequence(0x0040, 0xA730, std::move(content));
    // An undefined-length sequence held flat.
    o.Insert(DcmTag(0x0008, 0x1032, kUndefinedLength, nullptr, "SQ"));
    const size_t at = o.IndexOf(0x0008, 0x1032) + 1;
    o.InsertAt(at, std::make_unique<DcmTag>(0xFFFE, 0xE000, kUndefinedLength, nullptr));
    o.InsertAt(at + 1, std::make_unique<DcmTag>(0x0008, 0x0100, std::string("P1"), o.explicitVR ? "SH" : nullptr));
    o.InsertAt(at + 2, std::make_unique<DcmTag>(0xFFFE, 0xE00D, 0, nullptr));
    o.InsertAt(at + 3, std::make_unique<DcmTag>(0xFFFE, 0xE0DD, 0, nullptr));
    const std::string file = dir_ + "/ours.dcm";
    ASSERT_TRUE(o.Write(file));
    std::string complaints;
    const std::string d = DataSetDump(file, &complaints);
    EXPECT_EQ(complaints, "");
    EXPECT_NE(d.find("(0028,0010) US 512"), std::string::npos) << d;
    EXPECT_NE(d.find("[Second paragraph.]"), std::string::npos) << d;
    EXPECT_NE(d.find("(0008,1032) SQ (Sequence with undefined length #=1)"), std::string::npos) << d;
    EXPECT_NE(d.find("(0040,a730) SQ (Sequence with explicit length #=2)"), std::string::npos) << d;
    std::string meta;
    ASSERT_EQ(testsupport::Run({"dcmdump", "+L", file}, &meta), 0);
    EXPECT_NE(meta.find(std::string("(0002,0010) UI =") + (be ? "BigEndianExplicit" : o.explicitVR ? "LittleEndianExplicit" : "LittleEndianImplicit")),
              std::string::npos)
        << meta;
    // DCMTK parses it completely and writes it anew with the same values (its own lengths).
    const std::string again = dir_ + "/again.dcm";
    std::string out;
    ASSERT_EQ(testsupport::Run({"dcmconv", "-e", file, again}, &out), 0) << out;
    EXPECT_EQ(out.find("W: "), std::string::npos) << out;
    DcmObj back;
    ASSERT_TRUE(back.Read(again));
    EXPECT_EQ(back.GetUS(0x0028, 0x0010), 512);
    EXPECT_EQ(back.GetString(0x0010, 0x0010), "Doe^John");
  }
}

TEST_F(DcmtkInterop, EncapsulatedPixelDataIsReadByDcmtk) {
  DcmObj o;
  o.transferSyntax = "1.2.840.10008.1.2.4.50";
  o.explicitVR = true;
  o.SetText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
  o.SetText(0x0008, 0x0018, "1.2.3.4");
  o.Add(DcmTag(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
  o.Add(DcmTag(0xFFFE, 0xE000, 0, nullptr));
  o.Add(DcmTag(0xFFFE, 0xE000, 6, "\xFF\xD8\x01\x02\xFF\xD9"));
  o.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));
  const std::string file = dir_ + "/jpeg.dcm";
  ASSERT_TRUE(o.Write(file));
  std::string complaints;
  const std::string d = DataSetDump(file, &complaints);
  EXPECT_EQ(complaints, "");
  EXPECT_NE(d.find("(7fe0,0010) OB (PixelSequence #=2)"), std::string::npos) << d;
  EXPECT_NE(d.find("(fffe,e000) pi ff\\d8\\01\\02\\ff\\d9"), std::string::npos) << d;
  DcmObj r;
  ASSERT_TRUE(r.Read(file));
  ASSERT_EQ(r.Count(), 6u);
  EXPECT_EQ(r.GetTag(4)->length, 6u);
}

TEST_F(DcmtkInterop, UndefinedLengthUNIsWrittenBackAsASequenceDcmtkReads) {
  // A private sequence held as UN of undefined length in explicit VR: its contents are implicit VR
  // little endian. DCMTK reads such a file; what we write back from it must read the same.
  auto le = [](std::string& s, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  std::string ds;
  auto tagHead = [&](uint16_t g, uint16_t e) { le(ds, g, 2); le(ds, e, 2); };
  tagHead(0x0009, 0x0010); ds += "LO"; le(ds, 4, 2); ds += "ACME";
  tagHead(0x0009, 0x1010); ds += "UN"; le(ds, 0, 2); le(ds, 0xFFFFFFFF, 4);
  tagHead(0xFFFE, 0xE000); le(ds, 0xFFFFFFFF, 4);
  tagHead(0x0008, 0x0100); le(ds, 4, 4); ds += "T-1 ";
  tagHead(0x0009, 0x1011); le(ds, 6, 4); ds += "inner ";
  tagHead(0xFFFE, 0xE00D); le(ds, 0, 4);
  tagHead(0xFFFE, 0xE0DD); le(ds, 0, 4);
  tagHead(0x0010, 0x0010); ds += "PN"; le(ds, 4, 2); ds += "Doe ";
  BufData f;
  f.WriteHeader("1.2.840.10008.5.1.4.1.1.7", "1.2.3.4", "1.2.840.10008.1.2.1");
  f.Write(ds.data(), ds.size());
  const std::string theirs = dir_ + "/un.dcm", ours = dir_ + "/ours.dcm";
  ASSERT_TRUE(f.SaveToFile(theirs));
  std::string raw;
  testsupport::Run({"dcmdump", "+L", theirs}, &raw);
  ASSERT_NE(raw.find("(0008,0100) SH [T-1]"), std::string::npos) << raw;  // DCMTK reads the contents implicit
  DcmObj obj;
  ASSERT_TRUE(obj.Read(theirs));
  EXPECT_EQ(obj.GetString(0x0010, 0x0010), "Doe");
  ASSERT_TRUE(obj.Write(ours));
  std::string complaints;
  const std::string d = DataSetDump(ours, &complaints);
  EXPECT_EQ(complaints, "");
  EXPECT_NE(d.find("(0009,1010) SQ (Sequence with undefined length #=1)"), std::string::npos) << d;
  EXPECT_NE(d.find("(0008,0100) SH [T-1]"), std::string::npos) << d;
  EXPECT_NE(d.find("(0010,0010) PN [Doe]"), std::string::npos) << d;
}
