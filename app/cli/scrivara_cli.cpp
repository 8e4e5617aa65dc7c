// scrivara-cli: the command-line companion over the window-free libraries.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/cli_common.h"
#include "app/cli/cli_query.h"
#include "app/cli/cli_documents.h"
#include "app/cli/cli_logviewer.h"
#include "codec/convert.h"
#include "convert/batch.h"
#include "convert/outbox.h"
#include "convert/pdf_object.h"
#include "core/config.h"
#include "core/version.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "net/batch_store.h"
#include "net/dimse.h"
#include "net/pdu_service.h"
#include "query/studyinfo.h"

namespace {

using cli::Args;
using cli::Fail;
using cli::TargetFromArgs;
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
    "  log-viewer                     prints this user's log lines live, as the programs write them\n"
    "network options: --aet LOCAL --aec PEER --host HOST --port PORT (defaults from scrivara.cfg)\n"
    "study keys: --patient-name N --patient-id I [--birth-date D] [--sex S] [--accession A]\n"
    "            [--study-uid U] [--study-description T] [--institution T] [--modality M]\n"
    "        or: --worklist ACCESSION [--date YYYYMMDD] | --study STUDYUID, with the network options:\n"
    "            the patient and study of that worklist item or PACS study, as the server sent them\n"
    "search keys: [--name N] [--id I] [--description D] [--date YYYYMMDD] [--modality M]\n"
    "'scrivara-cli COMMAND --help' describes one command; 'scrivara-cli --version' prints the version\n"
    "and where the configuration, logs, temporary files and outbox are.\n";

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
    std::fputs("usage: scrivara-cli pdf --patient-name N --patient-id I [study keys] [--accept-unreadable] IN.pdf OUT.dcm\n"
               "  builds an Encapsulated PDF Storage object. A PDF that a reader cannot open (damaged, cut short,\n"
               "  or needing a password to open) is refused with a warning, or taken with --accept-unreadable\n", a.help ? stdout : stderr);
    return a.help ? 0 : 2;
  }
  StudyInfo study;
  std::string error;
  if (!StudyFromArgs(a, study, error)) return Fail(error);
  ConversionBatch batch;
  if (!StartConversionBatch(study, WorkFolder(), batch)) return Fail("cannot start the batch");
  DcmObj obj;
  if (!MakeEncapsulatedPdf(a.pos[0], study, batch, InstanceCounter, obj)) return Fail("cannot convert " + a.pos[0]);
  // A PDF no reader can open is the operator's document still, taken only when asked for.
  if (const std::string problem = PdfReadProblem(a.pos[0]); !problem.empty()) {
    const std::string warning = a.pos[0] + ": " + problem;
    WriteLog("WARNING, scrivara-cli pdf, " + warning);
    std::fprintf(stderr, "scrivara-cli: warning: %s\n", warning.c_str());
    if (!a.opt.count("accept-unreadable"))
      return Fail("not converted: " + a.pos[0] + " (--accept-unreadable takes it as it is)");
  }
  if (!WriteAtomically(obj, a.pos[1])) return Fail("cannot write " + a.pos[1]);
  return 0;
}

int CmdEcho(const Args& a) {
  if (a.help || !a.pos.empty()) {
    std::fputs("usage: scrivara-cli echo [--worklist] [--aet A] [--aec A] [--host H] [--port P]\n", a.help ? stdout : stderr);
    return a.help ? 0 : 2;
  }
  const AssociationTarget n = TargetFromArgs(a, a.opt.count("worklist") > 0, 10);
  if (std::string why; !EchoSCU(n, &why))
    return Fail("C-ECHO to " + n.calledAE + "@" + n.host + ":" + n.port + " failed: " + why);
  std::printf("C-ECHO %s@%s:%s succeeded\n", n.calledAE.c_str(), n.host.c_str(), n.port.c_str());
  return 0;
}

int CmdStore(const Args& a) {
  const bool outbox = a.opt.count("outbox") > 0;
  if (a.help || (a.pos.empty() != outbox)) {
    std::fputs("usage: scrivara-cli store [--aet A] [--aec A] [--host H] [--port P] FILE|DIR...\n"
               "       scrivara-cli store --outbox [--wait] [network options]\n"
               "  --outbox sends the objects the window program kept in its outbox; accepted ones leave it.\n"
               "  One program sends the outbox at a time: another run exits 3 (busy) at once, or with --wait\n"
               "  waits for it and then sends what is left\n",
               a.help ? stdout : stderr);
    return a.help ? 0 : 2;
  }
  const AssociationTarget target = TargetFromArgs(a, false, kSendTimeout);
  // One sender of the outbox at a time: with --wait this run waits for another to finish, else it
  // says the outbox is busy (exit 3) and sends nothing; each object is sent once.
  OutboxSender sender;
  if (outbox && !sender.Claim(a.opt.count("wait") > 0)) {
    std::fprintf(stderr, "scrivara-cli: the outbox %s is busy: another program is sending it\n", OutboxFolder().c_str());
    return 3;
  }
  std::vector<std::string> files = outbox ? OutboxFiles() : std::vector<std::string>{};
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
  const bool tty = isatty(STDERR_FILENO);
  const size_t total = files.size();
  size_t failed = 0, done = 0;
  bool lastHadAssociation = true;
  StoreFiles(files, target, [&](const StoredFile& f) {
    if (f.status == kFileNotRead) {
      std::fprintf(stderr, "scrivara-cli: cannot read DICOM file %s\n", f.path.c_str());
    } else if (f.status == kNoAssociation) {
      if (lastHadAssociation)
        std::fprintf(stderr, "scrivara-cli: no association with %s@%s:%s: %s\n", target.calledAE.c_str(),
                     target.host.c_str(), target.port.c_str(), f.problem.c_str());
    } else if (!f.stored() && !tty) {
      std::fprintf(stderr, "scrivara-cli: C-STORE of %s failed\n", f.path.c_str());
    }
    lastHadAssociation = f.status != kNoAssociation;
    if (!f.stored()) ++failed;
    if (f.stored() && outbox && std::remove(f.path.c_str()) != 0)
      std::fprintf(stderr, "scrivara-cli: cannot remove %s from the outbox\n", f.path.c_str());
    ++done;
    if (tty) {
      int width = 40, fill = total ? static_cast<int>(done * width / total) : width;
      std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(fill, '#').c_str(), std::string(width - fill, ' ').c_str(),
                   done, total);
    }
  });
  if (tty) std::fputc('\n', stderr);
  std::printf("%zu file(s): %zu stored, %zu failed\n", total, total - failed, failed);
  if (failed) return Fail(std::to_string(failed) + " file(s) not stored");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  {
    const std::string problem = FoldersProblem(FoldersFor(ExecutablePath()));
    if (!problem.empty()) return Fail(problem);
  }
  StartProgramFolders(ExecutablePath());
  KeepAbandonedObjects();
  ReadSetupFile(setupcfg, ConfigFolder() + kSetupFileName);
  if (setupcfg.DebugLogging) DebugLevel = 2;

  if (argc >= 2 && std::string(argv[1]) == "--version") {
    std::printf("scrivara-cli %s\n%s\n", GetVersionText(ExecutablePath()).c_str(), FoldersDescription().c_str());
    return 0;
  }
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string cmd = argv[1];
  // Only echo takes --worklist as a flag; the document commands take it with an accession number.
  const bool documents = cmd == "pdf" || cmd == "sr" || cmd == "img";
  Args a = cli::Parse(argc, argv, 2,
                      documents ? std::vector<std::string>{"accept-unreadable"}
                                : std::vector<std::string>{"worklist", "outbox", "wait"});
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
  else if (cmd == "log-viewer") rc = cli::CmdLogViewer(a);
  else rc = Fail("unknown command " + cmd + " (try --help)");
  EndProgramFolders();
  CloseLog();
  return rc;
}
