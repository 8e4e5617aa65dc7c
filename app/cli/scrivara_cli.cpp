// scrivara-cli: the command-line companion over the window-free libraries.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/cli/cli_common.h"
#include "app/cli/cli_query.h"
#include "app/cli/cli_documents.h"
#include "codec/convert.h"
#include "convert/batch.h"
#include "convert/pdf_object.h"
#include "core/config.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "net/dimse.h"
#include "net/pdu_service.h"
#include "query/studyinfo.h"

namespace {

using cli::Args;
using cli::Fail;
using cli::Net;
using cli::NetFromArgs;
using cli::Opt;
using cli::StudyFromArgs;

const char kUsage[] =
    "usage: scrivara-cli COMMAND [options] ARGS\n"
    "commands:\n"
    "  echo [--worklist]              C-ECHO the PACS (or the worklist server)\n"
    "  store FILE|DIR...              C-STORE Part 10 files to the PACS\n"
    "  dump FILE                      text dump of the data set\n"
    "  convert --ts UID IN OUT        change the transfer syntax of a file\n"
    "  pdf [study keys] IN OUT        Encapsulated PDF object from a PDF file\n"
    "  find [search keys]             C-FIND studies on the PACS, one tab-separated line each\n"
    "  worklist [search keys]         C-FIND the worklist server, one tab-separated line each\n"
    "  sr [study keys] IN OUT         Basic Text SR report from a .txt or .doc file\n"
    "  img [study keys] IN OUT        JPEG page image object from a 24-bit .bmp or a .jpg file\n"
    "network options: --aet LOCAL --aec PEER --host HOST --port PORT (defaults from scrivara.cfg)\n"
    "study keys: --patient-name N --patient-id I [--birth-date D] [--sex S] [--accession A]\n"
    "            [--study-uid U] [--study-description T] [--institution T] [--modality M]\n"
    "search keys: [--name N] [--id I] [--description D] [--date YYYYMMDD] [--modality M]\n"
    "'scrivara-cli COMMAND --help' describes one command.\n";

// Writes obj to a temporary name beside out and renames it when complete.
bool WriteAtomically(DcmObj& obj, const std::string& out) {
  return SaveObjectFile(obj, out, "scrivara-cli");
}

int CmdDump(const Args& a) {
  if (a.help || a.pos.size() != 1) {
    std::fputs("usage: scrivara-cli dump FILE\n  prints one line per element of the data set\n", a.help ? stdout : stderr);
    return a.help ? 0 : 2;
  }
  DcmObj obj;
  if (!obj.Read(a.pos[0])) return Fail("cannot read DICOM file " + a.pos[0]);
  std::vector<std::string> lines;
  obj.Dump(lines, 0);
  for (const auto& l : lines) std::printf("%s\n", l.c_str());
  return 0;
}

int CmdConvert(const Args& a) {
  if (a.help || a.pos.size() != 2 || Opt(a, "ts", "").empty()) {
    std::fputs("usage: scrivara-cli convert --ts UID IN OUT\n  reads IN, converts it to transfer syntax UID, writes OUT\n",
               a.help ? stdout : stderr);
    return a.help ? 0 : 2;
  }
  DcmObj obj;
  if (!obj.Read(a.pos[0])) return Fail("cannot read DICOM file " + a.pos[0]);
  if (!ConvertTransferSyntax(obj, Opt(a, "ts", ""))) return Fail("cannot convert " + a.pos[0] + " to " + Opt(a, "ts", ""));
  if (!WriteAtomically(obj, a.pos[1])) return Fail("cannot write " + a.pos[1]);
  return 0;
}

int CmdPdf(const Args& a) {
  if (a.help || a.pos.size() != 2) {
    std::fputs("usage: scrivara-cli pdf --patient-name N --patient-id I [study keys] IN.pdf OUT.dcm\n"
               "  builds an Encapsulated PDF Storage object\n", a.help ? stdout : stderr);
    return a.help ? 0 : 2;
  }
  StudyInfo study;
  if (!StudyFromArgs(a, study)) return Fail("--patient-name and --patient-id are required");
  ConversionBatch batch;
  if (!StartConversionBatch(study, ExeFolder + "temp/", batch)) return Fail("cannot start the batch");
  if (!cli::ClaimInstanceNumber(batch.BaseUID, InstanceCounter)) return Fail("cannot record the instance number");
  DcmObj obj;
  if (!MakeEncapsulatedPdf(a.pos[0], study, batch, InstanceCounter, obj)) return Fail("cannot convert " + a.pos[0]);
  if (!WriteAtomically(obj, a.pos[1])) return Fail("cannot write " + a.pos[1]);
  return 0;
}

int CmdEcho(const Args& a) {
  if (a.help || !a.pos.empty()) {
    std::fputs("usage: scrivara-cli echo [--worklist] [--aet A] [--aec A] [--host H] [--port P]\n", a.help ? stdout : stderr);
    return a.help ? 0 : 2;
  }
  Net n = NetFromArgs(a, a.opt.count("worklist") > 0);
  if (!EchoSCU(n.aet, n.aec, n.host, n.port, 10)) return Fail("C-ECHO to " + n.aec + "@" + n.host + ":" + n.port + " failed");
  std::printf("C-ECHO %s@%s:%s succeeded\n", n.aec.c_str(), n.host.c_str(), n.port.c_str());
  return 0;
}

// The store key of a Part 10 file from its meta group alone (explicit VR little endian at offset
// 132): Media Storage SOP Class UID and Transfer Syntax UID ("" when absent). False when the file
// has no preamble and "DICM", no (0002,0002), or a meta group that does not fit its first 64 KB.
bool ProbeMeta(const std::string& path, std::string& sopClass, std::string& ts) {
  std::vector<uint8_t> head(64 << 10);
  FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) return false;
  const size_t n = std::fread(head.data(), 1, head.size(), fp);
  std::fclose(fp);
  if (n < 132 || std::memcmp(head.data() + 128, "DICM", 4) != 0) return false;
  auto le16 = [&](size_t p) { return static_cast<uint32_t>(head[p] | head[p + 1] << 8); };
  sopClass.clear();
  ts.clear();
  bool haveClass = false;
  size_t pos = 132;
  while (pos + 8 <= n && le16(pos) == 0x0002) {
    const uint16_t element = static_cast<uint16_t>(le16(pos + 2));
    const char vr[3] = {static_cast<char>(head[pos + 4]), static_cast<char>(head[pos + 5]), 0};
    if (vr[0] < 'A' || vr[0] > 'Z' || vr[1] < 'A' || vr[1] > 'Z') return false;
    bool longForm = false;
    for (const char* l : {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"})
      longForm = longForm || (vr[0] == l[0] && vr[1] == l[1]);
    size_t header = 8, length = le16(pos + 6);
    if (longForm) {
      if (pos + 12 > n) return false;
      header = 12;
      length = le16(pos + 8) | static_cast<size_t>(le16(pos + 10)) << 16;
    }
    if (length == 0xFFFFFFFFu || pos + header + length > n) return false;
    if (element == 0x0002 || element == 0x0010) {
      const std::string text =
          DcmTag(0x0002, element, static_cast<uint32_t>(length), head.data() + pos + header, "UI").GetString();
      if (element == 0x0002) {
        sopClass = text;
        haveClass = true;
      } else {
        ts = text;
      }
    }
    pos += header + length;
  }
  return haveClass;
}

int CmdStore(const Args& a) {
  if (a.help || a.pos.empty()) {
    std::fputs("usage: scrivara-cli store [--aet A] [--aec A] [--host H] [--port P] FILE|DIR...\n", a.help ? stdout : stderr);
    return a.help ? 0 : 2;
  }
  Net n = NetFromArgs(a, false);
  std::vector<std::string> files;
  for (const auto& p : a.pos) {
    std::error_code ec;
    if (std::filesystem::is_directory(p, ec)) {
      for (auto it = std::filesystem::recursive_directory_iterator(p, ec); !ec && it != std::filesystem::recursive_directory_iterator();
           it.increment(ec))
        if (it->is_regular_file(ec)) files.push_back(it->path().string());
    } else {
      files.push_back(p);
    }
  }
  std::sort(files.begin(), files.end());
  // Group by SOP class and transfer syntax: one association per group. The key comes from the meta
  // group (Media Storage SOP Class UID, Transfer Syntax UID) where it can, so that each file is read
  // whole only once, for sending; a file whose data set says otherwise is sent with its own group.
  using Key = std::pair<std::string, std::string>;
  std::map<Key, std::vector<std::string>> groups, regrouped;
  size_t failed = 0, done = 0;
  auto cannotRead = [&failed](const std::string& f) {
    std::fprintf(stderr, "scrivara-cli: cannot read DICOM file %s\n", f.c_str());
    WriteLog("ERROR, scrivara-cli: cannot read DICOM file " + f);
    ++failed;
  };
  for (const auto& f : files) {
    Key key;
    if (ProbeMeta(f, key.first, key.second)) {
      groups[key].push_back(f);
      continue;
    }
    DcmObj obj;
    if (!obj.Read(f)) {
      cannotRead(f);
      continue;
    }
    groups[{obj.GetString(0x0008, 0x0016), obj.transferSyntax}].push_back(f);
  }
  const bool tty = isatty(STDERR_FILENO);
  const size_t total = files.size();
  auto send = [&](const std::map<Key, std::vector<std::string>>& which, bool recheck) {
    for (const auto& [key, list] : which) {
      PDU_Service pdu;
      if (!OpenAssociation(pdu, n.aet, n.aec, n.host, n.port, key.first, key.second, "", 30)) {
        std::fprintf(stderr, "scrivara-cli: association with %s@%s:%s for %s refused or failed\n", n.aec.c_str(),
                     n.host.c_str(), n.port.c_str(), key.first.c_str());
        failed += list.size();
        done += list.size();
        continue;
      }
      for (const auto& f : list) {
        DcmObj obj;
        if (!obj.Read(f)) {
          cannotRead(f);
        } else if (recheck && Key{obj.GetString(0x0008, 0x0016), obj.transferSyntax} != key) {
          regrouped[{obj.GetString(0x0008, 0x0016), obj.transferSyntax}].push_back(f);
          continue;
        } else if (StoreSCU(pdu, obj, key.first) != 0 || CStore::ReadRSP(&pdu) != 0) {
          ++failed;
          WriteLog("ERROR, scrivara-cli: C-STORE of " + f + " failed");
          if (!tty) std::fprintf(stderr, "scrivara-cli: C-STORE of %s failed\n", f.c_str());
        }
        ++done;
        if (tty) {
          int width = 40, fill = total ? static_cast<int>(done * width / total) : width;
          std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(fill, '#').c_str(), std::string(width - fill, ' ').c_str(),
                       done, total);
        }
      }
      pdu.Close();
    }
  };
  send(groups, true);
  send(regrouped, false);
  if (tty) std::fputc('\n', stderr);
  std::printf("%zu file(s): %zu stored, %zu failed\n", total, total - failed, failed);
  if (failed) return Fail(std::to_string(failed) + " file(s) not stored");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ExeFolder = FolderOf(ExecutablePath());
  ForceDirectories(ExeFolder + "logs/");
  ForceDirectories(ExeFolder + "temp/");
  char day[16];
  std::time_t t = std::time(nullptr);
  std::strftime(day, sizeof day, "%Y%m%d", std::localtime(&t));
  InitLog(ExeFolder + "logs/" + day + "_doc.log", "scrivara", "");
  ReadSetupFile(setupcfg, ExeFolder + kSetupFileName);
  if (setupcfg.DebugLogging) DebugLevel = 2;

  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string cmd = argv[1];
  Args a = cli::Parse(argc, argv, 2, {"worklist"});
  if (!a.error.empty()) return Fail(a.error);
  int rc;
  if (cmd == "dump") rc = CmdDump(a);
  else if (cmd == "convert") rc = CmdConvert(a);
  else if (cmd == "pdf") rc = CmdPdf(a);
  else if (cmd == "sr") rc = cli::CmdSr(a);
  else if (cmd == "img") rc = cli::CmdImg(a);
  else if (cmd == "echo") rc = CmdEcho(a);
  else if (cmd == "store") rc = CmdStore(a);
  else if (cmd == "find") rc = cli::CmdFind(a);
  else if (cmd == "worklist") rc = cli::CmdWorklist(a);
  else rc = Fail("unknown command " + cmd + " (try --help)");
  CloseLog();
  return rc;
}
