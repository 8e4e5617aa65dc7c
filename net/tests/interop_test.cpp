// Against real peers: DCMTK storescp and Orthanc, started here on free loopback ports. Test files
// are made with dump2dcm and dcmcjpeg; what arrived is compared with dcmdump.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>
#include <fstream>
#include <regex>

#include "core/audit.h"
#include "core/dcmobj.h"
#include "core/transfer_syntax.h"
#include "net/batch_store.h"
#include "net/dimse.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace fs = std::filesystem;
using testsupport::FindProgram;
using testsupport::Process;


namespace {


std::string Need(const std::string& program) {
  std::string path = FindProgram(program);
  EXPECT_FALSE(path.empty()) << program << " is not installed (scripts/install-deps --test)";
  return path;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Files to send, made once per test in its own folder.
struct TestFiles {
  explicit TestFiles(const std::string& dir) : dir(dir) {}

  // A 64 x 48 8-bit monochrome secondary capture image in the given transfer syntax keyword.
  std::string Image(const std::string& name, const std::string& instance, const std::string& syntax = "LittleEndianExplicit") {
    std::string pixels(64 * 48, '\0');
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<char>((i % 64) * 3 + (i / 64) * 2);
    WriteFile(dir + "/" + name + ".raw", pixels);
    std::string dump = "(0002,0010) UI =" + syntax + "\n" +
                       "(0008,0016) UI =SecondaryCaptureImageStorage\n"
                       "(0008,0018) UI [" + instance + "]\n"
                       "(0008,0020) DA [20260101]\n"
                       "(0008,0060) CS [OT]\n"
                       "(0010,0010) PN [Interop^Test]\n"
                       "(0010,0020) LO [NET42]\n"
                       "(0020,000d) UI [1.2.826.0.1.3680043.9.7.1]\n"
                       "(0020,000e) UI [1.2.826.0.1.3680043.9.7.2]\n"
                       "(0028,0002) US 1\n"
                       "(0028,0004) CS [MONOCHROME2]\n"
                       "(0028,0010) US 48\n"
                       "(0028,0011) US 64\n"
                       "(0028,0100) US 8\n"
                       "(0028,0101) US 8\n"
                       "(0028,0102) US 7\n"
                       "(0028,0103) US 0\n"
                       "(7fe0,0010) OB =" + dir + "/" + name + ".raw\n";
    return Make(name, dump);
  }

  // An Encapsulated PDF object.
  std::string Pdf(const std::string& name, const std::string& instance) {
    WriteFile(dir + "/" + name + ".pdf", "%PDF-1.4\n1 0 obj << >> endobj\ntrailer << >>\n%%EOF\n");
    std::string dump = "(0002,0010) UI =LittleEndianExplicit\n"
                       "(0008,0016) UI =EncapsulatedPDFStorage\n"
                       "(0008,0018) UI [" + instance + "]\n"
                       "(0008,0060) CS [DOC]\n"
                       "(0010,0010) PN [Interop^Pdf]\n"
                       "(0020,000d) UI [1.2.826.0.1.3680043.9.7.1]\n"
                       "(0042,0011) OB =" + dir + "/" + name + ".pdf\n"
                       "(0042,0012) LO [application/pdf]\n";
    return Make(name, dump);
  }

  std::string Make(const std::string& name, const std::string& dump) {
    std::string in = dir + "/" + name + ".dump", out = dir + "/" + name + ".dcm";
    WriteFile(in, dump);
    std::string log;
    EXPECT_EQ(testsupport::Run({Need("dump2dcm"), "-q", in, out}, &log), 0) << log;
    return out;
  }

  std::string dir;
};

// The data set part of dcmdump's listing (meta header and syntax line left out); the pixel data,
// whose VR and word grouping follow the transfer syntax, is compared separately as bytes.
std::string DataSetDump(const std::string& file) {
  std::string out;
  EXPECT_EQ(testsupport::Run({Need("dcmdump"), "-q", "+L", file}, &out), 0) << out;
  size_t at = out.find("# Dicom-Data-Set");
  if (at == std::string::npos) return out;
  std::string rest = out.substr(at);
  std::string result;
  std::istringstream lines(rest);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind("#", 0) != 0 && line.rfind("(7fe0,0010)", 0) != 0) result += line + "\n";
  return result;
}

std::string TransferSyntaxOf(const std::string& file) {
  std::string out;
  testsupport::Run({Need("dcmdump"), "-q", "-Un", "+P", "0002,0010", file}, &out);
  std::smatch m;
  if (std::regex_search(out, m, std::regex("\\[([0-9.]+)\\]"))) return m[1];
  return "";
}

std::string PixelBytes(const std::string& file, const std::string& dir) {
  fs::create_directories(dir);
  std::string out;
  EXPECT_EQ(testsupport::Run({Need("dcmdump"), "-q", "+W", dir, file}, &out), 0) << out;
  // One file for native data; for encapsulated data one per item, joined in their order.
  std::vector<std::string> raw;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".raw") raw.push_back(e.path().string());
  std::sort(raw.begin(), raw.end());
  std::string bytes;
  for (const auto& f : raw) bytes += ReadFile(f);
  return bytes;
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file()) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// Sends the files over one association the way the sending forms do; returns the number accepted.
int SendFiles(const std::string& port, const std::string& called, const std::vector<std::string>& files) {
  DcmObj first;
  if (!first.Read(files.front())) return -1;
  std::string sopClass = first.GetString(0x0008, 0x0016);
  PDU_Service pdu;
  if (!OpenAssociation(pdu, "SCRIVARA", called, "127.0.0.1", port, sopClass, first.transferSyntax, "", 30)) return -1;
  int accepted = 0;
  for (const auto& f : files) {
    DcmObj obj;
    if (!obj.Read(f)) continue;
    if (StoreSCU(pdu, obj, sopClass) == 0 && CStore::ReadRSP(&pdu) == 0) ++accepted;
  }
  pdu.Close();
  return accepted;
}

struct Storescp {
  Storescp(const std::string& dir, const std::string& syntaxOption) : out(dir + "/in"), port(testsupport::FreePort()) {
    fs::create_directories(out);
    process = Process({Need("storescp"), "--fork", syntaxOption, "-pm", "-aet", "STORESCP", "-od", out, "-fe", ".dcm",
                       std::to_string(port)},
                      dir + "/storescp.log");
    EXPECT_TRUE(testsupport::WaitForPort(port)) << ReadFile(dir + "/storescp.log");
  }
  // Waits until n files have arrived (storescp writes them in a child process).
  std::vector<std::string> Received(size_t n) {
    for (int i = 0; i < 100 && FilesIn(out).size() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return FilesIn(out);
  }
  std::string PortText() const { return std::to_string(port); }
  std::string out;
  int port;
  Process process;
};

class TempDir {
 public:
  TempDir() : path(testsupport::MakeTempDir("netinterop")) {}
  ~TempDir() { testsupport::RemoveTree(path); }
  std::string path;
};

}  // namespace

TEST(StorescpTest, EchoAndStoreArriveUnchanged) {
  LogCapture log;
  TempDir tmp;
  TestFiles files(tmp.path);
  std::vector<std::string> images = {files.Image("a", "1.2.826.0.1.3680043.9.7.1.1"),
                                     files.Image("b", "1.2.826.0.1.3680043.9.7.1.2", "LittleEndianImplicit")};
  std::string pdf = files.Pdf("p", "1.2.826.0.1.3680043.9.7.1.3");
  Storescp scp(tmp.path, "+xa");
  EXPECT_TRUE(EchoSCU("SCRIVARA", "STORESCP", "127.0.0.1", scp.PortText(), 10));
  EXPECT_EQ(SendFiles(scp.PortText(), "STORESCP", images), 2);
  EXPECT_EQ(SendFiles(scp.PortText(), "STORESCP", {pdf}), 1);
  auto received = scp.Received(3);
  ASSERT_EQ(received.size(), 3u);
  std::map<std::string, std::string> byInstance;
  for (const auto& f : received) {
    std::string out;
    testsupport::Run({Need("dcmdump"), "-q", "+P", "0008,0018", f}, &out);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("\\[([0-9.]+)\\]")));
    byInstance[m[1]] = f;
  }
  for (size_t i = 0; i < images.size(); ++i) {
    const std::string& got = byInstance.at("1.2.826.0.1.3680043.9.7.1." + std::to_string(i + 1));
    EXPECT_EQ(DataSetDump(got), DataSetDump(images[i])) << i;
    std::string gotPixels = PixelBytes(got, tmp.path + "/got" + std::to_string(i));
    EXPECT_EQ(gotPixels.size(), 64u * 48);
    EXPECT_TRUE(gotPixels == PixelBytes(images[i], tmp.path + "/sent" + std::to_string(i))) << i;
  }
  EXPECT_EQ(DataSetDump(byInstance.at("1.2.826.0.1.3680043.9.7.1.3")), DataSetDump(pdf));
  EXPECT_TRUE(log.Problems().empty());
}

// A JPEG page goes as it is to a peer that takes JPEG, and decoded (still marked lossy) to one
// that takes only uncompressed syntaxes; the report names the syntax it went in.
TEST(StorescpTest, JpegGoesAsItIsWhereTakenElseDecodedAndStillMarkedLossy) {
  LogCapture log;
  TempDir tmp;
  TestFiles files(tmp.path);
  std::string native = files.Image("n", "1.2.826.0.1.3680043.9.7.2.1");
  std::string jpeg = tmp.path + "/jpeg.dcm";
  std::string out;
  ASSERT_EQ(testsupport::Run({Need("dcmcjpeg"), "+eb", native, jpeg}, &out), 0) << out;
  ASSERT_EQ(TransferSyntaxOf(jpeg), kTsJpegBaseline);
  std::string reference = tmp.path + "/reference.dcm";
  ASSERT_EQ(testsupport::Run({Need("dcmdjpeg"), jpeg, reference}, &out), 0) << out;
  const std::string want = PixelBytes(reference, tmp.path + "/want");
  ASSERT_EQ(want.size(), 64u * 48);

  struct Case {
    const char* option;
    const char* sentAs;
  };
  for (const Case& c : {Case{"+xi", kTsImplicitLE}, Case{"+xe", kTsExplicitLE}, Case{"+xy", kTsJpegBaseline}}) {
    SCOPED_TRACE(c.option);
    TempDir peerDir;
    Storescp scp(peerDir.path, c.option);
    std::vector<StoredFile> reports;
    const AssociationTarget target{"SCRIVARA", "STORESCP", "127.0.0.1", scp.PortText(), 10};
    EXPECT_EQ(StoreFiles({jpeg}, target, [&](const StoredFile& f) { reports.push_back(f); }), 1u);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].sentAs, c.sentAs);
    auto received = scp.Received(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(TransferSyntaxOf(received[0]), c.sentAs);
    if (std::string(c.sentAs) == kTsJpegBaseline) {
      EXPECT_EQ(PixelBytes(received[0], peerDir.path + "/got"), PixelBytes(jpeg, peerDir.path + "/sent"));
      continue;
    }
    std::string lossy;
    testsupport::Run({Need("dcmdump"), "-q", "+P", "0028,2110", "+P", "0028,2114", received[0]}, &lossy);
    EXPECT_NE(lossy.find("[01]"), std::string::npos) << lossy;
    EXPECT_NE(lossy.find("[ISO_10918_1]"), std::string::npos) << lossy;
    const std::string got = PixelBytes(received[0], peerDir.path + "/got");
    ASSERT_EQ(got.size(), want.size());
    int maxDiff = 0;
    for (size_t i = 0; i < got.size(); ++i)
      maxDiff = std::max(maxDiff, std::abs(static_cast<uint8_t>(got[i]) - static_cast<uint8_t>(want[i])));
    EXPECT_LE(maxDiff, 1);  // two IJG-derived decoders of the same stream
  }
  EXPECT_TRUE(log.Problems().empty());
}

// ---------------------------------------------------------------------------------------------
// Orthanc: started once per test program, on first use, and stopped at the end.

namespace {

class OrthancEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    if (process_) process_->Stop(15000);
    process_.reset();
    testsupport::RemoveTree(dir_);
  }
  bool Start() {
    if (process_) return process_->Running();
    dir_ = testsupport::MakeTempDir("netorthanc");
    dicomPort = testsupport::FreePort();
    httpPort = testsupport::FreePort();
    while (httpPort == dicomPort) httpPort = testsupport::FreePort();
    std::string config = "{\n"
                         "  \"Name\": \"scrivara-test\",\n"
                         "  \"StorageDirectory\": \"" + dir_ + "/db\",\n"
                         "  \"IndexDirectory\": \"" + dir_ + "/db\",\n"
                         "  \"HttpPort\": " + std::to_string(httpPort) + ",\n"
                         "  \"DicomPort\": " + std::to_string(dicomPort) + ",\n"
                         "  \"DicomAet\": \"ORTHANC\",\n"
                         "  \"RemoteAccessAllowed\": false,\n"
                         "  \"DicomCheckCalledAet\": false,\n"
                         "  \"DicomAlwaysAllowFind\": true,\n"
                         "  \"DicomAlwaysAllowFindWorklist\": true,\n"
                         "  \"UnknownSopClassAccepted\": true,\n"
                         "  \"Plugins\": []\n"
                         "}\n";
    WriteFile(dir_ + "/config.json", config);
    process_ = std::make_unique<Process>(std::vector<std::string>{Need("Orthanc"), dir_ + "/config.json"},
                                         dir_ + "/orthanc.log", dir_);
    return testsupport::WaitForPort(dicomPort, 30000) && testsupport::WaitForPort(httpPort, 30000);
  }
  std::string Log() const { return ReadFile(dir_ + "/orthanc.log"); }
  int dicomPort = 0, httpPort = 0;

 private:
  std::string dir_;
  std::unique_ptr<Process> process_;
};

OrthancEnvironment* const g_orthanc =
    static_cast<OrthancEnvironment*>(::testing::AddGlobalTestEnvironment(new OrthancEnvironment));

std::string Http(const std::string& path, const std::string& saveTo = "") {
  std::string url = "http://127.0.0.1:" + std::to_string(g_orthanc->httpPort) + path;
  std::vector<std::string> argv = {Need("curl"), "-s", "-f", url};
  if (!saveTo.empty()) argv.insert(argv.end(), {"-o", saveTo});
  std::string out;
  testsupport::Run(argv, &out);
  return out;
}

}  // namespace

TEST(OrthancTest, EchoAndStoreArriveUnchanged) {
  ASSERT_TRUE(g_orthanc->Start()) << g_orthanc->Log();
  LogCapture log;
  TempDir tmp;
  TestFiles files(tmp.path);
  std::vector<std::string> images = {files.Image("a", "1.2.826.0.1.3680043.9.7.3.1"),
                                     files.Image("b", "1.2.826.0.1.3680043.9.7.3.2")};
  std::string port = std::to_string(g_orthanc->dicomPort);
  EXPECT_TRUE(EchoSCU("SCRIVARA", "ORTHANC", "127.0.0.1", port, 10));
  EXPECT_EQ(SendFiles(port, "ORTHANC", images), 2);
  std::string list = Http("/instances");
  std::vector<std::string> ids;
  std::regex id("\"([0-9a-f-]{20,})\"");
  for (auto it = std::sregex_iterator(list.begin(), list.end(), id); it != std::sregex_iterator(); ++it)
    ids.push_back((*it)[1]);
  ASSERT_EQ(ids.size(), 2u) << list;
  std::map<std::string, std::string> dumps;
  for (const auto& i : ids) {
    std::string file = tmp.path + "/" + i + ".dcm";
    Http("/instances/" + i + "/file", file);
    std::string d = DataSetDump(file);
    dumps[d.find("9.7.3.1]") != std::string::npos ? "a" : "b"] = d;
  }
  EXPECT_EQ(dumps["a"], DataSetDump(images[0]));
  EXPECT_EQ(dumps["b"], DataSetDump(images[1]));
  for (const auto& i : ids) {
    std::string file = tmp.path + "/" + i + ".dcm";
    std::string pixels = PixelBytes(file, tmp.path + "/px" + i);
    EXPECT_EQ(pixels.size(), 64u * 48);
    EXPECT_TRUE(pixels == PixelBytes(images[0], tmp.path + "/pxsent" + i));  // both images hold the same pixels
  }
  // Orthanc takes JPEG: a JPEG page is stored as it is, not decoded on the way.
  const std::string jpeg = tmp.path + "/jpeg.dcm";
  std::string out;
  ASSERT_EQ(testsupport::Run({Need("dcmcjpeg"), "+eb", files.Image("j", "1.2.826.0.1.3680043.9.7.3.3"), jpeg}, &out),
            0)
      << out;
  std::vector<StoredFile> reports;
  EXPECT_EQ(StoreFiles({jpeg}, {"SCRIVARA", "ORTHANC", "127.0.0.1", port, 10},
                       [&](const StoredFile& f) { reports.push_back(f); }),
            1u);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].sentAs, kTsJpegBaseline);
  list = Http("/instances");
  int stored = 0;
  for (auto it = std::sregex_iterator(list.begin(), list.end(), id); it != std::sregex_iterator(); ++it) {
    if (std::find(ids.begin(), ids.end(), (*it)[1]) != ids.end()) continue;
    ++stored;
    const std::string file = tmp.path + "/stored-jpeg.dcm";
    Http("/instances/" + (*it)[1].str() + "/file", file);
    EXPECT_EQ(TransferSyntaxOf(file), kTsJpegBaseline);
    EXPECT_EQ(PixelBytes(file, tmp.path + "/pxj"), PixelBytes(jpeg, tmp.path + "/pxjsent"));
  }
  EXPECT_EQ(stored, 1);
  EXPECT_TRUE(log.Problems().empty());
}

// A list of files to storescp: one association per class and syntax, a report after each file
// naming its place in the list; a file that is not DICOM is reported and the rest still go.
TEST(StorescpTest, BatchStoreReportsEveryFileAndGroupsByClassAndSyntax) {
  LogCapture log;
  TempDir tmp;
  TestFiles files(tmp.path);
  const std::string notDicom = tmp.path + "/notes.txt";
  WriteFile(notDicom, "not a DICOM file");
  const std::vector<std::string> list = {files.Image("a", "1.2.826.0.1.3680043.9.7.1.11"),
                                         files.Pdf("p", "1.2.826.0.1.3680043.9.7.1.12"), notDicom,
                                         files.Image("b", "1.2.826.0.1.3680043.9.7.1.13", "LittleEndianImplicit"),
                                         files.Image("c", "1.2.826.0.1.3680043.9.7.1.14")};
  Storescp scp(tmp.path, "+xa");
  std::vector<StoredFile> reports;
  const AssociationTarget target{"SCRIVARA", "STORESCP", "127.0.0.1", scp.PortText(), 10};
  EXPECT_EQ(StoreFiles(list, target, [&](const StoredFile& f) { reports.push_back(f); }), 4u);
  ASSERT_EQ(reports.size(), list.size());
  // The unreadable file first (found while grouping), then the groups in the order of their first file.
  std::vector<size_t> order;
  for (const auto& r : reports) order.push_back(r.index);
  EXPECT_EQ(order, (std::vector<size_t>{2, 0, 4, 1, 3}));
  for (const auto& r : reports) {
    EXPECT_EQ(r.path, list[r.index]);
    if (r.index == 2) {
      EXPECT_FALSE(r.exchanged);
      EXPECT_EQ(r.status, kFileNotRead);
    } else {
      EXPECT_TRUE(r.stored()) << r.path << " status " << r.status;
    }
  }
  EXPECT_EQ(scp.Received(4).size(), 4u);
  EXPECT_TRUE(log.Has("ERROR, StoreFiles, cannot read DICOM file " + notDicom));
  // The audit trail's last word: the patient's four instances transferred.
  std::string audited = audit::LastMessageForTesting();
  for (const char* part : {"csd-code=\"110104\"", "EventOutcomeIndicator=\"0\"", "UserID=\"STORESCP\"",
                           "<ParticipantObjectName>Interop^Test</ParticipantObjectName>"})
    EXPECT_NE(audited.find(part), std::string::npos) << part << "\n" << audited;

  // Nobody listening: every file is reported without an exchange.
  reports.clear();
  const AssociationTarget nobody{"SCRIVARA", "NOBODY", "127.0.0.1", std::to_string(testsupport::FreePort()), 5};
  EXPECT_EQ(StoreFiles({list[0], list[1]}, nobody, [&](const StoredFile& f) { reports.push_back(f); }), 0u);
  ASSERT_EQ(reports.size(), 2u);
  for (const auto& r : reports) {
    EXPECT_FALSE(r.exchanged);
    EXPECT_EQ(r.status, kNoAssociation);
  }
  audited = audit::LastMessageForTesting();
  EXPECT_NE(audited.find("EventOutcomeIndicator=\"4\""), std::string::npos) << audited;
  EXPECT_NE(audited.find("cannot connect to 127.0.0.1:"), std::string::npos) << audited;
}
