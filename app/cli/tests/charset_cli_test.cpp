// Names beyond ASCII end to end: typed on the command line, or picked from a worklist that a server
// sends in UTF-8 or in ISO_IR 144 (Orthanc, with either default encoding; wlmscpfs never returns
// Specific Character Set, so it cannot tell a worklist's set). The PDF, SR and page objects of one study
// carry the same name bytes under the same Specific Character Set; dciodvfy finds nothing new and
// pydicom reads each name back as the text given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cli/tests/cli_support.h"
#include "convert/bmpfile.h"
#include "core/dcmobj.h"
#include "query/tests/query_test_support.h"
#include "tests/support/files.h"
#include "tests/support/iod_check.h"

namespace {

using clitest::Apart;
using clitest::RunCliApart;
using querytest::Entry;
using querytest::WriteFile;

// "Ελένη^Παπαδοπούλου" and "Дмитрий^Иванов" in UTF-8, and the Cyrillic one in ISO 8859-5.
const std::string kGreek =
    "\xCE\x95\xCE\xBB\xCE\xAD\xCE\xBD\xCE\xB7^\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCE\xBF\xCF\x80\xCE\xBF\xCF\x8D"
    "\xCE\xBB\xCE\xBF\xCF\x85";
const std::string kCyrillic = "\xD0\x94\xD0\xBC\xD0\xB8\xD1\x82\xD1\x80\xD0\xB8\xD0\xB9^\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2";
const std::string kCyrillic8859 = "\xB4\xDC\xD8\xE2\xE0\xD8\xD9^\xB8\xD2\xD0\xDD\xDE\xD2";

struct Objects {
  querytest::TempDir dir{"scrivara_charset"};
  Objects() {
    WriteFile(dir.path + "/doc.pdf", testsupport::MinimalPdf());
    WriteFile(dir.path + "/report.txt", "Keine Auff\xC3\xA4lligkeiten.\n");
    Bitmap page(32, 16);
    SaveBmpFile(dir.path + "/page.bmp", page);
  }
  // pdf, sr and img of one study; the study options are `study`. Empty when every command worked.
  std::string Build(const std::vector<std::string>& study) const {
    const std::pair<const char*, const char*> runs[] = {{"pdf", "doc.pdf"}, {"sr", "report.txt"}, {"img", "page.bmp"}};
    std::string failures;
    for (const auto& [cmd, in] : runs) {
      std::vector<std::string> args = {cmd};
      args.insert(args.end(), study.begin(), study.end());
      if (std::string(cmd) == "img") args.insert(args.end(), {"--modality", "US"});
      args.push_back(dir.path + "/" + in);
      args.push_back(File(cmd));
      const Apart r = RunCliApart(args);
      if (r.status != 0) failures += std::string(cmd) + ": " + r.err;
    }
    return failures;
  }
  std::string File(const std::string& cmd) const { return dir.path + "/" + cmd + ".dcm"; }
};

std::string Element(const std::string& file, uint16_t g, uint16_t e) {
  DcmObj o;
  return o.Read(file) ? o.GetString(g, e) : "(unreadable)";
}

// The Patient's Name as pydicom decodes it by the file's own Specific Character Set.
std::string PydicomName(const std::string& file) {
  std::string out;
  testsupport::Run({"/usr/bin/python3", "-c",
                    "import sys, pydicom\n"
                    "sys.stdout.buffer.write(str(pydicom.dcmread(sys.argv[1]).PatientName).encode('utf-8'))\n",
                    file},
                   &out);
  return out;
}

// Each object declares `set` and holds the name as `bytes`, which read as `text`.
void CheckObjects(const Objects& o, const std::string& set, const std::string& bytes, const std::string& text) {
  const std::pair<const char*, const std::vector<std::string>*> kinds[] = {
      {"pdf", &iodcheck::kPdfLeftOut}, {"sr", &iodcheck::kSRLeftOut}, {"img", &iodcheck::kUSPageLeftOut}};
  for (const auto& [cmd, leftOut] : kinds) {
    const std::string f = o.File(cmd);
    EXPECT_EQ(Element(f, 0x0008, 0x0005), set) << cmd;
    EXPECT_EQ(Element(f, 0x0010, 0x0010), bytes) << cmd;
    EXPECT_EQ(PydicomName(f), text) << cmd;
    EXPECT_EQ(iodcheck::IodErrors(f, *leftOut), std::vector<std::string>{}) << cmd;
  }
}

TEST(CliCharset, TypedNamesAreTheSameBytesInPdfSrAndPage) {
  const struct {
    std::string name, set, bytes;
  } cases[] = {
      {"Jos\xC3\xA9^Mu\xC3\xB1oz", "ISO_IR 100", "Jos\xE9^Mu\xF1oz"},
      {"\xC5\xA0imon^Dvo\xC5\x99\xC3\xA1k", "ISO_IR 192", "\xC5\xA0imon^Dvo\xC5\x99\xC3\xA1k"},
  };
  for (const auto& c : cases) {
    Objects o;
    ASSERT_EQ(o.Build({"--patient-name", c.name, "--patient-id", "CS1", "--institution", "Clinic"}), "");
    CheckObjects(o, c.set, c.bytes, c.name);
  }
}

Entry WorklistEntry(const std::string& name, const std::string& charset, const std::string& accession) {
  Entry e{name, "WLCS", "19800101", "F", accession, "1.2.826.0.1.3680043.9.7002.90", "CT Thorax",
          {{"CT", "20150312", "0900", "SPS90", "Thorax"}}};
  e.charset = charset;
  return e;
}

std::vector<std::string> FromWorklist(const std::string& accession, int port) {
  return {"--worklist", accession, "--date", "20150312", "--aet", "CLITEST", "--aec", "ORTHANC",
          "--host", "127.0.0.1", "--port", std::to_string(port)};
}

// The worklist lines of the day, as the command prints them.
std::string WorklistLines(int port) {
  const Apart r = RunCliApart({"worklist", "--date", "20150312", "--aet", "CLITEST", "--aec", "ORTHANC", "--host",
                               "127.0.0.1", "--port", std::to_string(port)},
                              {"LC_ALL=en_GB.UTF-8"});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

std::string Line(const std::string& name, const std::string& accession) {
  return name + "\tWLCS\tF\t01/01/1980\tCT Thorax\t" + accession + "\t1.2.826.0.1.3680043.9.7002.90\n";
}

// An Orthanc answering in UTF-8: a Greek name from a UTF-8 worklist file and a Cyrillic one from an
// ISO_IR 144 file both reach the objects as the UTF-8 it sends.
TEST(CliCharset, WorklistFromAUtf8OrthancIsFiledAsSent) {
  querytest::Orthanc server;
  server.encoding = "Utf8";
  ASSERT_TRUE(querytest::MakeDicom(querytest::WorklistDump(WorklistEntry(kGreek, "ISO_IR 192", "WACCGR")),
                                   server.Worklists() + "/greek.wl"));
  ASSERT_TRUE(querytest::MakeDicom(querytest::WorklistDump(WorklistEntry(kCyrillic8859, "ISO_IR 144", "WACCRU")),
                                   server.Worklists() + "/cyrillic.wl"));
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(WorklistLines(server.port), Line(kGreek, "WACCGR") + Line(kCyrillic, "WACCRU"));  // Greek sorts first
  for (const auto& [accession, name] : {std::pair{"WACCGR", kGreek}, std::pair{"WACCRU", kCyrillic}}) {
    Objects o;
    ASSERT_EQ(o.Build(FromWorklist(accession, server.port)), "");
    CheckObjects(o, "ISO_IR 192", name, name);
  }
  // No match is an error, and nothing is written.
  Objects o;
  const Apart none = RunCliApart({"pdf", "--worklist", "NOSUCH", "--date", "20150312", "--aec", "ORTHANC", "--host",
                                  "127.0.0.1", "--port", std::to_string(server.port), o.dir.path + "/doc.pdf",
                                  o.File("none")});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no worklist item with accession number NOSUCH"), std::string::npos) << none.err;
  EXPECT_EQ(Element(o.File("none"), 0x0010, 0x0010), "(unreadable)");
}

// Orthanc's Latin-1 default: a Latin-1 name arrives as ISO_IR 100 bytes and is filed so, from the
// worklist and from a study on the PACS.
TEST(CliCharset, WorklistAndStudyFromALatin1OrthancKeepTheirBytes) {
  querytest::Orthanc server;
  ASSERT_TRUE(querytest::MakeDicom(querytest::WorklistDump(WorklistEntry("D\xFCrer^Albrecht", "ISO_IR 100", "WACCDE")),
                                   server.Worklists() + "/german.wl"));
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(WorklistLines(server.port), Line("D\xC3\xBCrer^Albrecht", "WACCDE"));
  Objects o;
  ASSERT_EQ(o.Build(FromWorklist("WACCDE", server.port)), "");
  CheckObjects(o, "ISO_IR 100", "D\xFCrer^Albrecht", "D\xC3\xBCrer^Albrecht");

  ASSERT_TRUE(querytest::StoreFiles(querytest::MakeStudyFiles(o.dir.path), "ORTHANC", server.port));
  Objects picked;
  ASSERT_EQ(picked.Build({"--study", "1.2.826.0.1.3680043.9.7001.1", "--aec", "ORTHANC", "--host", "127.0.0.1",
                          "--port", std::to_string(server.port)}),
            "");
  CheckObjects(picked, "ISO_IR 100", "M\xFCller^Hans", "M\xC3\xBCller^Hans");
  EXPECT_EQ(Element(picked.File("pdf"), 0x0020, 0x000D), "1.2.826.0.1.3680043.9.7001.1");
}

}  // namespace
