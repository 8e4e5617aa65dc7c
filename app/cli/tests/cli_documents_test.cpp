// scrivara-cli pdf, sr and img end to end: objects built from real inputs, checked by other
// makers' toolkits (dciodvfy, dsrdump, dcmdjpeg) and sent with scrivara-cli store to DCMTK storescp
// and Orthanc, which are started once for the whole suite. Bad inputs leave no file behind.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <regex>
#include <string>
#include <vector>

#include "app/cli/tests/cli_support.h"
#include "codec/jpeg.h"
#include "convert/bmpfile.h"
#include "convert/page_jpeg.h"
#include "convert/scan_object.h"
#include "core/fileutil.h"
#include "tests/support/files.h"
#include "tests/support/iod_check.h"
#include "core/dcmobj.h"
#include "query/tests/query_test_support.h"

namespace {

using clitest::RunCli;
using querytest::ReadFile;
using querytest::WriteFile;

const std::vector<std::string> kStudy = {"--patient-name", "Doe^Jane", "--patient-id", "CLI42", "--birth-date",
                                         "19700102", "--sex", "F", "--accession", "ACC9", "--study-description",
                                         "Chest", "--institution", "Clinic"};

std::vector<std::string> Cmd(const std::string& command, const std::vector<std::string>& extra,
                             const std::string& in, const std::string& out) {
  std::vector<std::string> v = {command};
  v.insert(v.end(), kStudy.begin(), kStudy.end());
  v.insert(v.end(), extra.begin(), extra.end());
  v.push_back(in);
  v.push_back(out);
  return v;
}

std::vector<std::string> Net(const std::string& aec, int port) {
  return {"--aet", "CLITEST", "--aec", aec, "--host", "127.0.0.1", "--port", std::to_string(port)};
}

std::string Listing(const std::string& dir) {
  std::string out;
  testsupport::Run({"ls", "-A", dir}, &out);
  return out;
}

std::string Attribute(const std::string& file, uint16_t g, uint16_t e) {
  DcmObj o;
  return o.Read(file) ? o.GetString(g, e) : "(unreadable)";
}

uint16_t US(const std::string& file, uint16_t g, uint16_t e) {
  DcmObj o;
  return o.Read(file) ? o.GetUS(g, e) : 0;
}

// A colour test pattern.
Bitmap Pattern(int w, int h) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, RGBColor{uint8_t(x * 3), uint8_t(y * 2), 200});
  return b;
}

class CliDocuments : public ::testing::Test {
 protected:
  // Inputs and the objects built from them, shared by every test of the suite.
  static inline querytest::TempDir* dir = nullptr;
  static inline querytest::Orthanc* orthanc = nullptr;
  static inline querytest::Storescp* storescp = nullptr;
  static inline std::string pdfSource;  // odd length
  static inline std::string objects;    // folder of the built objects

  static void SetUpTestSuite() {
    dir = new querytest::TempDir("scrivara_cli_docs");
    orthanc = new querytest::Orthanc;
    storescp = new querytest::Storescp;
    EXPECT_TRUE(orthanc->Start()) << "Orthanc did not start";
    EXPECT_TRUE(storescp->Start()) << "storescp did not start";
    const std::string d = dir->path;
    objects = d + "/objects";
    testsupport::Run({"mkdir", "-p", objects});

    pdfSource = testsupport::MinimalPdf();
    if (pdfSource.size() % 2 == 0) pdfSource += '\n';
    WriteFile(d + "/doc.pdf", pdfSource);
    WriteFile(d + "/report.txt", "No acute findings.\nHeart size normal.\n");
    SaveBmpFile(d + "/page.bmp", Pattern(96, 64));
    std::vector<uint8_t> grey(80 * 40), jpeg;
    for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint8_t(i % 80 * 3);
    EncodeJPEG8(80, 40, 1, grey.data(), grey.size(), jpeg, 0);
    WriteFile(d + "/grey.jpg", std::string(jpeg.begin(), jpeg.end()));

    RunCli(Cmd("pdf", {}, d + "/doc.pdf", objects + "/pdf.dcm"));
    RunCli(Cmd("sr", {}, d + "/report.txt", objects + "/sr_txt.dcm"));
    RunCli(Cmd("sr", {}, std::string(SCRIVARA_SOURCE_DIR) + "/convert/tests/data/report.doc", objects + "/sr_doc.dcm"));
    RunCli(Cmd("img", {"--modality", "US"}, d + "/page.bmp", objects + "/img_bmp.dcm"));
    RunCli(Cmd("img", {"--modality", "US"}, d + "/grey.jpg", objects + "/img_grey.dcm"));
  }
  static void TearDownTestSuite() {
    delete storescp;
    delete orthanc;
    delete dir;
  }

  static std::string Obj(const std::string& name) { return objects + "/" + name + ".dcm"; }
  static const std::vector<std::string>& Names() {
    static const std::vector<std::string> n = {"img_bmp", "img_grey", "pdf", "sr_doc", "sr_txt"};
    return n;
  }

  // GET (or POST body) on Orthanc's REST API; the body is returned.
  static std::string Rest(const std::string& path, const std::string& post = "") { return orthanc->Rest(path, post); }
};

TEST_F(CliDocuments, ObjectsAreBuiltAndPassOtherToolkitsChecks) {
  ASSERT_EQ(Listing(objects), "img_bmp.dcm\nimg_grey.dcm\npdf.dcm\nsr_doc.dcm\nsr_txt.dcm\n");
  EXPECT_EQ(Attribute(Obj("pdf"), 0x0008, 0x0016), "1.2.840.10008.5.1.4.1.1.104.1");
  EXPECT_EQ(Attribute(Obj("pdf"), 0x0042, 0x0010), "doc.pdf");
  EXPECT_EQ(Attribute(Obj("sr_txt"), 0x0008, 0x0016), "1.2.840.10008.5.1.4.1.1.88.11");
  EXPECT_EQ(Attribute(Obj("img_bmp"), 0x0008, 0x0016), "1.2.840.10008.5.1.4.1.1.6.1");
  EXPECT_EQ(US(Obj("img_bmp"), 0x0028, 0x0011), 96);
  EXPECT_EQ(US(Obj("img_grey"), 0x0028, 0x0002), 3);  // a grey JPEG re-encoded as a colour page
  EXPECT_EQ(US(Obj("img_grey"), 0x0028, 0x0010), 40);
  for (const auto& n : Names()) EXPECT_EQ(Attribute(Obj(n), 0x0010, 0x0020), "CLI42") << n;

  EXPECT_EQ(iodcheck::IodErrors(Obj("pdf"), iodcheck::kPdfLeftOut), std::vector<std::string>{});
  EXPECT_EQ(iodcheck::IodErrors(Obj("sr_txt"), iodcheck::kSRLeftOut), std::vector<std::string>{});
  EXPECT_EQ(iodcheck::IodErrors(Obj("sr_doc"), iodcheck::kSRLeftOut), std::vector<std::string>{});
  for (const char* img : {"img_bmp", "img_grey"})
    EXPECT_EQ(iodcheck::IodErrors(Obj(img), iodcheck::kUSPageLeftOut), std::vector<std::string>{}) << img;

  std::string out;
  ASSERT_EQ(testsupport::Run({iodcheck::Program("dsrdump"), "+Pl", Obj("sr_txt")}, &out), 0) << out;
  EXPECT_NE(out.find("Radiology Report"), std::string::npos) << out;
  EXPECT_NE(out.find("=\"No acute findings.\\r\\nHeart size normal.\">"), std::string::npos) << out;
  EXPECT_EQ(out.find("rror"), std::string::npos) << out;
  // The Word fixture holds letters beyond ASCII: the SR declares Latin-1 and reads without complaint.
  ASSERT_EQ(testsupport::Run({iodcheck::Program("dsrdump"), "+Pl", Obj("sr_doc")}, &out), 0) << out;
  EXPECT_NE(out.find("\"Radiology report\\r\\nFindings: gr"), std::string::npos) << out;
  EXPECT_EQ(out.find("rror"), std::string::npos) << out;

  for (const char* img : {"img_bmp", "img_grey"}) {
    const std::string raw = dir->path + "/" + img + "_raw.dcm";
    ASSERT_EQ(testsupport::Run({iodcheck::Program("dcmdjpeg"), Obj(img), raw}, &out), 0) << out;
    EXPECT_EQ(Attribute(raw, 0x0028, 0x0004), "RGB") << img;
  }
}

TEST_F(CliDocuments, StoredToStorescpAndOrthancWhichReturnsThePdfBytes) {
  auto s = RunCli([&] {
    auto v = Net("STORESCP", storescp->port);
    v.insert(v.begin(), "store");
    v.push_back(objects);
    return v;
  }());
  EXPECT_EQ(s.status, 0) << s.output;
  EXPECT_NE(s.output.find("5 file(s): 5 stored, 0 failed"), std::string::npos) << s.output;
  EXPECT_EQ(storescp->Received(5).size(), 5u);

  // The same objects and one file that is not DICOM: the others go (one association per SOP class
  // and syntax), the run fails and the summary counts the bad file.
  const std::string mixed = dir->path + "/mixed";
  testsupport::Run({"cp", "-r", objects, mixed});
  WriteFile(mixed + "/notes.txt", "not a DICOM file");
  auto m = RunCli([&] {
    auto v = Net("ORTHANC", orthanc->port);
    v.insert(v.begin(), "store");
    v.push_back(mixed);
    return v;
  }());
  EXPECT_EQ(m.status, 3) << m.output;  // partly done
  EXPECT_NE(m.output.find("cannot read DICOM file " + mixed + "/notes.txt: not a DICOM file"), std::string::npos)
      << m.output;
  EXPECT_NE(m.output.find("6 file(s): 5 stored, 1 failed"), std::string::npos) << m.output;

  for (const auto& n : Names()) {
    const std::string uid = Attribute(Obj(n), 0x0008, 0x0018);
    EXPECT_NE(Rest("/tools/lookup", uid).find("\"Instance\""), std::string::npos) << n << " " << uid;
  }
  std::smatch id;
  const std::string found = Rest("/tools/lookup", Attribute(Obj("pdf"), 0x0008, 0x0018));
  ASSERT_TRUE(std::regex_search(found, id, std::regex("\"ID\"\\s*:\\s*\"([^\"]+)\""))) << found;
  EXPECT_EQ(Rest("/instances/" + id[1].str() + "/content/0042-0011"), pdfSource + '\0');
}

// The PDF, reports and pages reach an Orthanc that speaks TLS only and wants a client certificate:
// refused with the reason without one, all stored with one.
TEST_F(CliDocuments, StoredOverTlsWithAClientCertificate) {
  using testsupport::TlsCertificates;
  querytest::Orthanc secure;
  secure.UseTls(true);
  ASSERT_TRUE(secure.Start());
  auto store = [&](std::vector<std::string> tls) {
    auto v = Net("ORTHANC", secure.port);
    v.insert(v.begin(), "store");
    v.insert(v.end(), tls.begin(), tls.end());
    v.push_back(objects);
    return RunCli(v);
  };
  const auto refused = store({"--tls", "--ca", TlsCertificates::Path("ca.pem")});
  EXPECT_EQ(refused.status, 1) << refused.output;
  EXPECT_NE(refused.output.find("client certificate"), std::string::npos) << refused.output;
  const auto stored = store({"--ca", TlsCertificates::Path("ca.pem"), "--cert", TlsCertificates::Path("client.pem"),
                             "--key", TlsCertificates::Path("client.key")});
  EXPECT_EQ(stored.status, 0) << stored.output;
  EXPECT_NE(stored.output.find("5 file(s): 5 stored, 0 failed"), std::string::npos) << stored.output;
  for (const auto& n : Names())
    EXPECT_NE(secure.Rest("/tools/lookup", Attribute(Obj(n), 0x0008, 0x0018)).find("\"Instance\""), std::string::npos)
        << n;
}

// The same over DICOMweb to an archive that asks for a password: refused with the HTTP status
// with the wrong one, all stored with the right one, and found again with a Greek name intact.
TEST_F(CliDocuments, StoredAndFoundOverDicomWeb) {
  querytest::Orthanc web;
  web.UseDicomWeb("scrivara", "s3cret");
  web.encoding = "Utf8";
  ASSERT_TRUE(web.Start());
  const std::string d = dir->path + "/web";
  testsupport::Run({"cp", "-r", objects, d});
  WriteFile(d + "/../wrong.txt", "nope\n");
  WriteFile(d + "/../right.txt", "s3cret\n");
  auto greek = Cmd("pdf", {}, dir->path + "/doc.pdf", d + "/greek.dcm");
  greek[2] = "Παπαδόπουλος^Γιώργος";
  greek[4] = "GR7";
  ASSERT_EQ(RunCli(greek).status, 0);
  auto run = [&](const char* command, const char* password, std::vector<std::string> more) {
    std::vector<std::string> v = {command, "--url", web.WebUrl(), "--user", "scrivara", "--password-file",
                                  dir->path + "/" + password};
    v.insert(v.end(), more.begin(), more.end());
    return RunCli(v);
  };
  const auto refused = run("store", "wrong.txt", {d});
  EXPECT_EQ(refused.status, 1) << refused.output;
  EXPECT_NE(refused.output.find("STOW-RS of " + d + "/greek.dcm failed: HTTP 401 Unauthorized"), std::string::npos)
      << refused.output;
  const auto stored = run("store", "right.txt", {d});
  EXPECT_EQ(stored.status, 0) << stored.output;
  EXPECT_NE(stored.output.find("6 file(s): 6 stored, 0 failed"), std::string::npos) << stored.output;
  EXPECT_NE(stored.output.find("pdf.dcm: stored (Little Endian Explicit VR)"), std::string::npos) << stored.output;
  const auto found = run("find", "right.txt", {"--id", "GR7"});
  EXPECT_EQ(found.status, 0) << found.output;
  EXPECT_EQ(found.output.rfind("Παπαδόπουλος^Γιώργος\tGR7\t", 0), 0u) << found.output;
}

// store --outbox sends the installation's outbox (beside the executable) and empties it of what was
// accepted; a file that is no DICOM file stays.
TEST_F(CliDocuments, StoreOutboxSendsAndKeepsOnlyWhatWasNotAccepted) {
  const std::string outbox = std::string(SCRIVARA_BINARY_DIR) + "/bin/outbox";
  testsupport::RemoveTree(outbox);
  testsupport::Run({"mkdir", "-p", outbox});
  testsupport::Run({"cp", Obj("pdf"), outbox + "/pdf.dcm"});
  WriteFile(outbox + "/junk.dcm", "not DICOM");
  auto r = RunCli([&] {
    auto v = Net("STORESCP", storescp->port);
    v.insert(v.begin(), {"store", "--outbox"});
    return v;
  }());
  EXPECT_EQ(r.status, 3) << r.output;
  EXPECT_NE(r.output.find("2 file(s): 1 stored, 1 failed"), std::string::npos) << r.output;
  EXPECT_EQ(Listing(outbox), ".lock\njunk.dcm\n");  // the lock of the one sender stays, hidden
  testsupport::RemoveTree(outbox);
}

// One sender of the outbox at a time: while another holds it a run says it is busy (exit 1) and
// sends nothing; two runs that wait send each object once between them.
TEST_F(CliDocuments, OutboxRunsAtOnceSendEachObjectOnce) {
  const std::string outbox = std::string(SCRIVARA_BINARY_DIR) + "/bin/outbox";
  testsupport::RemoveTree(outbox);
  testsupport::Run({"mkdir", "-p", outbox});
  for (int i = 0; i < 20; ++i) testsupport::Run({"cp", Obj("pdf"), outbox + "/pdf" + std::to_string(i) + ".dcm"});
  const std::vector<std::string> net = Net("STORESCP", storescp->port);
  FileLock other;
  ASSERT_TRUE(other.Acquire(outbox + "/.lock", false));
  std::vector<std::string> busy = {"store", "--outbox"};
  busy.insert(busy.end(), net.begin(), net.end());
  auto r = RunCli(busy);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("is busy: another program is sending it"), std::string::npos) << r.output;
  // Two waiting runs start while the outbox is held; it is let go a moment later.
  std::thread letGo([&other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    other.Release();
  });
  std::string cmd = "'" + std::string(SCRIVARA_CLI) + "' store --outbox --wait";
  for (const auto& a : net) cmd += " '" + a + "'";
  std::string both;
  const int status = testsupport::Run({"sh", "-c", cmd + " > " + outbox + "/../a.out 2>&1 & p=$!; " + cmd + " > " + outbox +
                                                       "/../b.out 2>&1 & q=$!; wait $p && wait $q"}, &both);
  letGo.join();
  EXPECT_EQ(status, 0) << both;
  const std::string a = ReadFile(outbox + "/../a.out"), b = ReadFile(outbox + "/../b.out");
  const bool aFirst = a.find("20 file(s): 20 stored, 0 failed") != std::string::npos;
  EXPECT_NE((aFirst ? a : b).find("20 file(s): 20 stored, 0 failed"), std::string::npos) << a << b;
  EXPECT_NE((aFirst ? b : a).find("0 file(s): 0 stored, 0 failed"), std::string::npos) << a << b;
  EXPECT_EQ(Listing(outbox), ".lock\n");
  testsupport::RemoveTree(outbox);
  std::remove((outbox + "/../a.out").c_str());
  std::remove((outbox + "/../b.out").c_str());
}

TEST_F(CliDocuments, StoreGroupsByTheMetaGroupButSendsWhatTheDataSetSays) {
  // The store key is read from the meta group; a file whose meta group names another SOP class than
  // its data set is still sent as what its data set holds.
  auto slurp = [](const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  };
  std::string bytes = slurp(Obj("pdf"));
  const std::string pdfClass = "1.2.840.10008.5.1.4.1.1.104.1", cdaClass = "1.2.840.10008.5.1.4.1.1.104.2";
  const size_t at = bytes.find(pdfClass);
  ASSERT_LT(at, 300u);  // in the meta group
  bytes.replace(at, cdaClass.size(), cdaClass);
  const std::string folder = dir->path + "/relabelled";
  testsupport::Run({"mkdir", "-p", folder});
  WriteFile(folder + "/pdf.dcm", bytes);
  const size_t before = storescp->Received(0).size();
  auto s = RunCli([&] {
    auto v = Net("STORESCP", storescp->port);
    v.insert(v.begin(), "store");
    v.push_back(folder);
    return v;
  }());
  EXPECT_EQ(s.status, 0) << s.output;
  EXPECT_NE(s.output.find("1 file(s): 1 stored, 0 failed"), std::string::npos) << s.output;
  const std::string uid = Attribute(Obj("pdf"), 0x0008, 0x0018);
  int seen = 0;
  for (const auto& f : storescp->Received(before + 1)) {
    const std::string got = slurp(f);
    if (got.find(uid) == std::string::npos) continue;
    ++seen;
    EXPECT_EQ(got.find(cdaClass), std::string::npos) << f;  // sent, and filed, as Encapsulated PDF
  }
  EXPECT_GE(seen, 1);
}

TEST_F(CliDocuments, TwoRunsInTheSameMinuteGetDifferentInstanceUids) {
  const std::string d = dir->path;
  auto a = RunCli(Cmd("pdf", {}, d + "/doc.pdf", d + "/run1.dcm"));
  auto b = RunCli(Cmd("pdf", {}, d + "/doc.pdf", d + "/run2.dcm"));
  auto c = RunCli(Cmd("sr", {}, d + "/report.txt", d + "/run3.dcm"));
  ASSERT_EQ(a.status + b.status + c.status, 0) << a.output << b.output << c.output;
  const std::string u1 = Attribute(d + "/run1.dcm", 0x0008, 0x0018), u2 = Attribute(d + "/run2.dcm", 0x0008, 0x0018),
                    u3 = Attribute(d + "/run3.dcm", 0x0008, 0x0018);
  EXPECT_NE(u1, u2);
  EXPECT_NE(u2, u3);
  EXPECT_NE(u1, u3);
  // Same base UID (study, series) unless the minute turned between the runs: the second run takes a
  // higher number (other tests running at the same time may take numbers in between).
  const std::string base1 = Attribute(d + "/run1.dcm", 0x0020, 0x000E), base2 = Attribute(d + "/run2.dcm", 0x0020, 0x000E);
  if (base1 == base2) {
    EXPECT_GT(std::stoi(Attribute(d + "/run2.dcm", 0x0020, 0x0013)),
              std::stoi(Attribute(d + "/run1.dcm", 0x0020, 0x0013)));
  }
}

// Both encodings of a text file give the same Latin-1 report; the euro sign, which Latin-1 lacks, is spelled out.
TEST_F(CliDocuments, TextReportEncodings) {
  const std::string d = dir->path;
  WriteFile(d + "/utf8.txt", "\xEF\xBB\xBF" "caf\xC3\xA9 5 \xE2\x82\xAC\r\nline 2");
  WriteFile(d + "/latin.txt", "caf\xE9 5 \x80\nline 2\n");
  for (const char* name : {"utf8", "latin"}) {
    auto r = RunCli(Cmd("sr", {}, d + "/" + name + ".txt", d + "/" + name + ".dcm"));
    ASSERT_EQ(r.status, 0) << r.output;
    // The euro sign is not Latin-1: the report goes in UTF-8, declared so.
    const std::string file = ReadFile(d + "/" + name + ".dcm");
    EXPECT_NE(file.find("caf\xC3\xA9 5 \xE2\x82\xAC\r\nline 2"), std::string::npos) << name;
    EXPECT_NE(file.find("ISO_IR 192"), std::string::npos) << name;
  }
  // An RTF report gives its text, paragraphs as CR LF.
  WriteFile(d + "/report.rtf", "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}}\\f0 Keine Auff\\'e4lligkeiten.\\par "
                               "{\\b Zweite} Zeile\\par}");
  auto r = RunCli(Cmd("sr", {}, d + "/report.rtf", d + "/rtf.dcm"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(ReadFile(d + "/rtf.dcm").find("Keine Auff\xE4lligkeiten.\r\nZweite Zeile"), std::string::npos);
}

// The one fragment of a page object.
std::string Fragment(const std::string& file) {
  DcmObj o;
  if (!o.Read(file)) return "(unreadable)";
  const size_t pixel = o.IndexOf(0x7FE0, 0x0010);
  if (pixel == DcmObj::npos || pixel + 3 >= o.Count() || !o.GetTag(pixel + 2)) return "(no fragment)";
  const DcmTag* f = o.GetTag(pixel + 2);
  return std::string(reinterpret_cast<const char*>(f->data()), f->length);
}

// Several image files, a TIFF with three pages among them: one object per page in a folder, one
// series numbered in order, each as the IOD checker wants it.
TEST_F(CliDocuments, SeveralImageFilesBecomeOneSeries) {
  const std::string in = dir->path + "/images", out = dir->path + "/series";
  testsupport::Run({"mkdir", "-p", in});
  ASSERT_EQ(testsupport::Run({"/usr/bin/python3",
                              std::string(SCRIVARA_SOURCE_DIR) + "/convert/tests/data/make_image_fixtures.py", in}),
            0);
  auto r = RunCli({"img", "--patient-name", "Doe^Jane", "--patient-id", "CLI42", "--modality", "US",
                   in + "/three.tif", in + "/alpha.png", in + "/phone.jpg", out});
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_EQ(Listing(out), "page0001.dcm\npage0002.dcm\npage0003.dcm\npage0004.dcm\npage0005.dcm\n");
  const std::string series = Attribute(out + "/page0001.dcm", 0x0020, 0x000E);
  const int first = std::stoi(Attribute(out + "/page0001.dcm", 0x0020, 0x0013));
  for (int n = 1; n <= 5; ++n) {
    const std::string f = out + "/page000" + std::to_string(n) + ".dcm";
    EXPECT_EQ(Attribute(f, 0x0020, 0x0013), std::to_string(first + n - 1));
    EXPECT_EQ(Attribute(f, 0x0020, 0x000E), series);
    EXPECT_EQ(iodcheck::IodErrors(f, iodcheck::kUSPageLeftOut), std::vector<std::string>{}) << f;
  }
  EXPECT_EQ(US(out + "/page0005.dcm", 0x0028, 0x0010), 64);  // the photo stands upright
  EXPECT_EQ(US(out + "/page0005.dcm", 0x0028, 0x0011), 48);
}

TEST_F(CliDocuments, AColourJpegGoesInAsItStandsOnlyWhenItIsCodedAsAPage) {
  const std::string d = dir->path;
  std::vector<uint8_t> page;
  ASSERT_TRUE(EncodePageJpeg(Pattern(50, 30), page));
  WriteFile(d + "/page.jpg", std::string(page.begin(), page.end()));
  const Bitmap b = Pattern(50, 30);
  std::vector<uint8_t> rgb, full;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 50; ++x) {
      const RGBColor c = b.Pixel(x, y);
      rgb.insert(rgb.end(), {c.r, c.g, c.b});
    }
  ASSERT_EQ(EncodeJPEG8(50, 30, 3, rgb.data(), rgb.size(), full, 0), 0);  // 4:4:4
  WriteFile(d + "/full.jpg", std::string(full.begin(), full.end()));
  for (const char* name : {"page", "full"}) {
    auto r = RunCli(Cmd("img", {"--modality", "OT"}, d + "/" + name + ".jpg", d + "/" + name + "_jpg.dcm"));
    ASSERT_EQ(r.status, 0) << r.output;
  }
  std::string asIs(page.begin(), page.end());
  if (asIs.size() % 2) asIs += '\0';
  EXPECT_EQ(Fragment(d + "/page_jpg.dcm"), asIs);
  const std::string redone = Fragment(d + "/full_jpg.dcm");
  JpegStreamInfo f;
  ASSERT_TRUE(ReadJpegStreamInfo(reinterpret_cast<const uint8_t*>(redone.data()), redone.size(), f));
  EXPECT_EQ(f.width, 50);
  EXPECT_EQ(f.height, 30);
  const size_t sof = redone.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  EXPECT_EQ(uint8_t(redone[sof + 11]), 0x22);  // luminance sampling of the page JPEG
  EXPECT_EQ(US(d + "/full_jpg.dcm", 0x0028, 0x0010), 30);
  EXPECT_EQ(Attribute(d + "/full_jpg.dcm", 0x0008, 0x0016), "1.2.840.10008.5.1.4.1.1.77.1.1.1");
}

// A PDF no reader can open (cut short, or locked by a password) is refused with a warning, or
// taken as it stands when asked for; one protected only against changes is taken without a word.
TEST_F(CliDocuments, PdfsNoReaderOpensAreTakenOnlyWhenAskedFor) {
  const std::string d = dir->path + "/pdfs";
  testsupport::Run({"mkdir", "-p", d});
  const std::string whole = testsupport::MinimalPdf(std::string(200, 'x'));
  WriteFile(d + "/whole.pdf", whole);
  WriteFile(d + "/cut.pdf", whole.substr(0, whole.size() / 2));
  ASSERT_EQ(testsupport::Run({"qpdf", "--encrypt", "user", "owner", "256", "--", d + "/whole.pdf", d + "/locked.pdf"}), 0);
  ASSERT_EQ(testsupport::Run({"qpdf", "--encrypt", "", "owner", "256", "--modify=none", "--", d + "/whole.pdf",
                              d + "/readonly.pdf"}),
            0);
  const struct {
    std::string file;
    bool accept;
    int status;
    std::string warning;
  } cases[] = {
      {"cut.pdf", false, 1, "a PDF reader cannot open it (damaged or cut short)"},
      {"cut.pdf", true, 0, "a PDF reader cannot open it (damaged or cut short)"},
      {"locked.pdf", false, 1, "it needs a password to open"},
      {"readonly.pdf", false, 0, ""},
  };
  for (const auto& c : cases) {
    const std::string out = d + "/" + c.file + (c.accept ? ".accepted.dcm" : ".dcm");
    std::vector<std::string> args = Cmd("pdf", {}, d + "/" + c.file, out);
    if (c.accept) args.insert(args.begin() + 1, "--accept-unreadable");
    const auto r = RunCli(args);
    EXPECT_EQ(r.status, c.status) << c.file << "\n" << r.output;
    EXPECT_EQ(r.output.find("scrivara-cli: warning: " + d + "/" + c.file + ": " + c.warning) != std::string::npos,
              !c.warning.empty())
        << r.output;
    EXPECT_EQ(testsupport::ReadAll(out).empty(), c.status != 0) << c.file;
  }
}

TEST_F(CliDocuments, BadInputFailsClearlyAndLeavesNoFile) {
  const std::string d = dir->path + "/bad";
  const std::string out = d + "/out";
  testsupport::Run({"mkdir", "-p", out});
  WriteFile(d + "/empty.pdf", "");
  WriteFile(d + "/empty.txt", "");
  WriteFile(d + "/blank.txt", " \r\n\t\n");
  std::vector<uint16_t> deep(16 * 16, 1000);
  std::vector<uint8_t> j12;
  EncodeJPEG12(16, 16, 1, reinterpret_cast<const uint8_t*>(deep.data()), deep.size() * 2, j12);
  WriteFile(d + "/deep.jpg", std::string(j12.begin(), j12.end()));
  WriteFile(d + "/notjpeg.jpg", "GIF89a");
  const std::string cutDoc = std::string(SCRIVARA_SOURCE_DIR) + "/convert/tests/data/cut_file.doc";

  struct Case {
    std::string command, in, message;
  } cases[] = {
      {"pdf", d + "/missing.pdf", "cannot convert " + d + "/missing.pdf"},
      {"pdf", d + "/empty.pdf", "cannot convert " + d + "/empty.pdf"},
      {"sr", d + "/missing.txt", "cannot read " + d + "/missing.txt"},
      {"sr", d + "/empty.txt", "the report in " + d + "/empty.txt is empty"},
      {"sr", d + "/blank.txt", "the report in " + d + "/blank.txt is empty"},
      {"sr", cutDoc, "cannot read " + cutDoc + ": the text of the Word document cannot be read"},
      {"sr", dir->path + "/doc.pdf", "the report must be a .txt, .rtf or .doc file"},
      {"img", d + "/missing.bmp", "cannot take the image file " + d + "/missing.bmp: it cannot be opened"},
      {"img", d + "/deep.jpg", "cannot take the image file " + d + "/deep.jpg: 12-bit samples"},
      {"img", d + "/notjpeg.jpg", "cannot take the image file " + d + "/notjpeg.jpg: not an image this program reads"},
  };
  for (const auto& c : cases) {
    auto r = RunCli(Cmd(c.command, {}, c.in, out + "/x.dcm"));
    EXPECT_EQ(r.status, 1) << c.command << " " << c.in << "\n" << r.output;
    EXPECT_NE(r.output.find("scrivara-cli: " + c.message), std::string::npos) << r.output;
  }
  auto noPatient = RunCli({"sr", dir->path + "/report.txt", out + "/x.dcm"});
  EXPECT_EQ(noPatient.status, 1);
  EXPECT_NE(noPatient.output.find("--patient-name and --patient-id are required"), std::string::npos);
  // An output folder that does not exist: nothing half written anywhere.
  auto noFolder = RunCli(Cmd("img", {}, dir->path + "/page.bmp", out + "/none/x.dcm"));
  EXPECT_EQ(noFolder.status, 1);
  EXPECT_NE(noFolder.output.find("cannot write " + out + "/none/x.dcm"), std::string::npos) << noFolder.output;
  EXPECT_EQ(Listing(out), "");

  // A store to a port nobody listens on.
  auto closed = RunCli([&] {
    auto v = Net("NOBODY", testsupport::FreePort());
    v.insert(v.begin(), "store");
    v.push_back(Obj("pdf"));
    return v;
  }());
  EXPECT_EQ(closed.status, 1);
  EXPECT_NE(closed.output.find("no association with NOBODY@127.0.0.1:"), std::string::npos) << closed.output;
  EXPECT_NE(closed.output.find("Connection refused"), std::string::npos) << closed.output;
  EXPECT_NE(closed.output.find("1 file(s): 0 stored, 1 failed"), std::string::npos) << closed.output;
}

}  // namespace
