// scrivara-cli: the command-line companion over the window-free libraries.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
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
#include "convert/sending.h"
#include "core/audit.h"
#include "core/charset.h"
#include "core/config.h"
#include "core/cp1252.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "core/version.h"
#include "net/batch_store.h"
#include "net/dicomweb.h"
#include "net/dimse.h"
#include "net/pdu_service.h"
#include "query/studyinfo.h"

namespace {

using cli::Args;
using cli::Because;
using cli::Fail;
using cli::TargetFromArgs;
using cli::Opt;
using cli::StudyFromArgs;

const char kUsage[] =
    "usage: scrivara-cli COMMAND [options] ARGS\n"
    "commands:\n"
    "  echo [--worklist]              C-ECHO the PACS (or the worklist server)\n"
    "  store FILE|DIR...              C-STORE Part 10 files to the PACS, each in its own syntax where taken\n"
    "  dump FILE                      text dump of the data set, in UTF-8\n"
    "  convert --ts UID IN OUT        change the transfer syntax of a file\n"
    "  pdf [study keys] IN OUT        Encapsulated PDF object from a PDF file\n"
    "  sr [study keys] IN OUT         Basic Text SR report from a .txt, .rtf or .doc file\n"
    "  img [study keys] IN... OUT     JPEG page image objects from JPEG, PNG, TIFF and BMP files\n"
    "  find [search keys]             C-FIND studies on the PACS, one tab-separated line each\n"
    "  worklist [search keys]         C-FIND the worklist server, one tab-separated line each\n"
    "  setup [settings]               show or change the configuration (--aet --institution\n"
    "                                 --pacs AE@HOST:PORT --worklist AE@HOST:PORT --debug on|off,\n"
    "                                 --pacs-tls on|off and the other TLS settings: setup --help)\n"
    "  log-viewer                     prints this user's log lines live, as the programs write them\n"
    "network options: --aet LOCAL --aec PEER --host HOST --port PORT (defaults from scrivara.cfg)\n"
    "                 --tls | --no-tls, --tls-profile P, --ca FILE, --cert FILE, --key FILE,\n"
    "                 --no-host-check (defaults from the saved TLS settings of that server)\n"
    "                 --url URL [--user U --password-file F | --token-file F]: the PACS over DICOMweb\n"
    "                 (STOW-RS, QIDO-RS), https or a loopback http; HTTPS checks the server with the\n"
    "                 --ca, --cert, --key and --no-host-check settings (default: the saved settings)\n"
    "study keys: --patient-name N --patient-id I [--birth-date YYYYMMDD] [--sex M|F|O] [--accession A]\n"
    "            [--study-uid U] [--study-description T] [--institution T] [--modality M]\n"
    "        or: --worklist ACCESSION [--date YYYYMMDD] | --study STUDYUID, with the network options:\n"
    "            the patient and study of that worklist item or PACS study, as the server sent them\n"
    "search keys: [--name N] [--id I] [--description D] [--date YYYYMMDD] [--modality M]\n"
    "exit status: 0 done, 1 failed (the reason on stderr), 2 wrong usage or a bad key, 3 partly done\n"
    "             (some objects stored, some not)\n"
    "'scrivara-cli COMMAND --help' describes one command; 'scrivara-cli --version' prints the version\n"
    "and where the configuration, logs, temporary files and outbox are.\n";

// Writes obj to a temporary name beside out and renames it when complete.
bool WriteAtomically(DcmObj& obj, const std::string& out) {
  return SaveObjectFile(obj, out, "scrivara-cli");
}

const char kConvertUsage[] =
    "usage: scrivara-cli convert --ts UID IN OUT\n"
    "  reads IN, converts it to transfer syntax UID, writes OUT. Images go to and from every syntax below\n"
    "  (JPEG lossless with any predictor, 1.2.840.10008.1.2.4.57, is read only); any object goes between\n"
    "  the uncompressed ones (the first four):\n"
    "    1.2.840.10008.1.2       implicit VR little endian\n"
    "    1.2.840.10008.1.2.1     explicit VR little endian\n"
    "    1.2.840.10008.1.2.2     explicit VR big endian\n"
    "    1.2.840.10008.1.2.1.99  deflated explicit VR little endian\n"
    "    1.2.840.10008.1.2.5     RLE lossless\n"
    "    1.2.840.10008.1.2.4.50  JPEG baseline (lossy, 8 bits)\n"
    "    1.2.840.10008.1.2.4.51  JPEG extended (lossy, 12 bits)\n"
    "    1.2.840.10008.1.2.4.70  JPEG lossless, first-order prediction\n"
    "    1.2.840.10008.1.2.4.90  JPEG 2000 lossless\n"
    "    1.2.840.10008.1.2.4.91  JPEG 2000 (lossy)\n";

int CmdDump(const Args& a) {
  if (a.NeedsUsage() || a.pos.size() != 1)
    return cli::Usage(a, "usage: scrivara-cli dump FILE\n  prints one line per element of the data set, in UTF-8\n");
  DcmObj obj;
  if (std::string why; !obj.Read(a.pos[0], &why)) return Fail("cannot read DICOM file " + a.pos[0] + ": " + why);
  std::vector<std::string> lines;
  obj.Dump(lines, 0);
  // UTF-8 throughout: the element names are the dictionary's (cp1252), the values in the data
  // set's character set.
  const std::string charset = obj.GetString(0x0008, 0x0005);
  for (const auto& l : lines) {
    const size_t value = l.find(": ");
    const std::string head = l.substr(0, value == std::string::npos ? l.size() : value + 2);
    std::string line = IsValidUtf8(head) ? head : Cp1252ToUtf8(head);
    if (value != std::string::npos) line += DecodeDicomText(std::string_view(l).substr(value + 2), charset);
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

int CmdConvert(const Args& a) {
  if (a.NeedsUsage() || a.pos.size() != 2 || Opt(a, "ts", "").empty())
    return cli::Usage(a, kConvertUsage);
  DcmObj obj;
  // A large pixel value that needs no change is copied file to file, never read in.
  if (std::string why; !obj.Read(a.pos[0], &why, DcmObj::LargeValues::kLeftInFile))
    return Fail("cannot read DICOM file " + a.pos[0] + ": " + why);
  ClearLoggedError();
  if (!ConvertTransferSyntax(obj, Opt(a, "ts", "")))
    return Fail(Because("cannot convert " + a.pos[0] + " to " + Opt(a, "ts", "")));
  if (!WriteAtomically(obj, a.pos[1])) return Fail(Because("cannot write " + a.pos[1]));
  return 0;
}

int CmdPdf(const Args& a) {
  if (a.NeedsUsage() || a.pos.size() != 2)
    return cli::Usage(a,
                      "usage: scrivara-cli pdf --patient-name N --patient-id I [study keys] [--accept-unreadable] IN.pdf OUT.dcm\n"
                      "  builds an Encapsulated PDF Storage object. A PDF that a reader cannot open (damaged, cut short,\n"
                      "  or needing a password to open) is refused with a warning, or taken with --accept-unreadable\n");
  StudyInfo study;
  std::string error;
  if (!StudyFromArgs(a, study, error)) return Fail(error);
  ConversionBatch batch;
  ClearLoggedError();
  if (!StartConversionBatch(study, WorkFolder(), batch)) return Fail(Because("cannot start the batch"));
  DcmObj obj;
  ClearLoggedError();
  if (!MakeEncapsulatedPdf(a.pos[0], study, batch, InstanceCounter, obj)) return Fail(Because("cannot convert " + a.pos[0]));
  // A PDF no reader can open is the operator's document still, taken only when asked for.
  if (const std::string problem = PdfReadProblem(a.pos[0]); !problem.empty()) {
    const std::string warning = a.pos[0] + ": " + problem;
    WriteLog("WARNING, scrivara-cli pdf, " + warning);
    std::fprintf(stderr, "scrivara-cli: warning: %s\n", warning.c_str());
    if (!a.opt.count("accept-unreadable"))
      return Fail("not converted: " + a.pos[0] + " (--accept-unreadable takes it as it is)");
  }
  if (!WriteAtomically(obj, a.pos[1])) return Fail(Because("cannot write " + a.pos[1]));
  return 0;
}

int CmdEcho(const Args& a) {
  if (a.NeedsUsage() || !a.pos.empty())
    return cli::Usage(a,
                      "usage: scrivara-cli echo [--worklist] [--aet A] [--aec A] [--host H] [--port P] [TLS options]\n"
                      "       scrivara-cli echo --url URL [--user U --password-file F | --token-file F]\n"
                      "  C-ECHO the PACS (or with --worklist the worklist server); a failure says why. A PACS\n"
                      "  reached over DICOMweb is tested with a QIDO-RS request: its HTTP status is printed\n"
                      "  TLS options: --tls | --no-tls, --tls-profile bcp195-nd|bcp195|bcp195-ex, --ca FILE,\n"
                      "  --cert FILE, --key FILE, --no-host-check (defaults: the server's saved settings)\n");
  const AssociationTarget n = TargetFromArgs(a, a.opt.count("worklist") > 0, 10);
  if (n.web.enabled) {
    std::string summary;
    if (!TestDicomWeb(n, summary)) return Fail("the DICOMweb service " + n.web.url + " failed the test: " + summary);
    std::printf("DICOMweb %s answered %s\n", n.web.url.c_str(), summary.c_str());
    return 0;
  }
  if (std::string why; !EchoSCU(n, &why))
    return Fail("C-ECHO to " + n.calledAE + "@" + n.host + ":" + n.port + " failed: " + why);
  std::printf("C-ECHO %s@%s:%s succeeded\n", n.calledAE.c_str(), n.host.c_str(), n.port.c_str());
  return 0;
}

int CmdStore(const Args& a) {
  const bool outbox = a.opt.count("outbox") > 0;
  if (a.NeedsUsage() || (a.pos.empty() != outbox))
    return cli::Usage(a,
                      "usage: scrivara-cli store [--aet A] [--aec A] [--host H] [--port P] [TLS options] FILE|DIR...\n"
                      "       scrivara-cli store --url URL [--user U --password-file F | --token-file F] FILE|DIR...\n"
                      "       scrivara-cli store --outbox [--wait] [network options]\n"
                      "  sends each object in its own transfer syntax where the PACS takes it, else converted; one\n"
                      "  line per file says how it went and in which syntax. Exit 3 when some were stored and some not.\n"
                      "  Over DICOMweb (--url, or saved) the files go as they are in STOW-RS requests.\n"
                      "  --outbox sends the objects the window program kept in its outbox; accepted ones leave it.\n"
                      "  One program sends the outbox at a time: another run exits 1 (busy) at once, or with --wait\n"
                      "  waits for it and then sends what is left\n");
  const AssociationTarget target = TargetFromArgs(a, false, kSendTimeout);
  // One sender of the outbox at a time: with --wait this run waits for another to finish, else it
  // says the outbox is busy (exit 1) and sends nothing; each object is sent once.
  OutboxSender sender;
  if (outbox && !sender.Claim(a.opt.count("wait") > 0)) {
    return Fail("the outbox " + OutboxFolder() + " is busy: another program is sending it");
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
  ClearLoggedError();
  StoreFiles(files, target, [&](const StoredFile& f) {
    if (f.stored()) std::printf("%s: stored (%s)\n", f.path.c_str(), SyntaxName(f.sentAs).c_str());
    if (f.status == kFileNotRead) {
      std::fprintf(stderr, "scrivara-cli: cannot read DICOM file %s: %s\n", f.path.c_str(), f.problem.c_str());
    } else if (f.status == kNoAssociation) {
      if (lastHadAssociation)
        std::fprintf(stderr, "scrivara-cli: no association with %s@%s:%s: %s\n", target.calledAE.c_str(),
                     target.host.c_str(), target.port.c_str(), f.problem.c_str());
    } else if (f.status == kRequestFailed) {
      std::fprintf(stderr, "%sscrivara-cli: STOW-RS of %s failed: %s\n", tty ? "\n" : "", f.path.c_str(),
                   f.problem.c_str());
    } else if (!f.stored()) {
      BatchObject o;
      o.state = BatchObject::State::Refused;
      o.status = f.status;
      std::fprintf(stderr, "%sscrivara-cli: C-STORE of %s failed: %s\n", tty ? "\n" : "", f.path.c_str(),
                   f.exchanged ? StateText(o).c_str() : Because("not sent").c_str());
      ClearLoggedError();
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
  if (failed == 0) return 0;
  const int rc = Fail(std::to_string(failed) + " file(s) not stored");
  return failed < total ? cli::kExitPartly : rc;
}

// "AE@HOST:PORT" split; false when a part is missing or the port is no number from 1 to 65535.
bool ParseServer(const std::string& text, std::string& ae, std::string& host, std::string& port) {
  const size_t at = text.find('@'), colon = text.rfind(':');
  if (at == std::string::npos || colon == std::string::npos || colon < at) return false;
  ae = text.substr(0, at);
  host = text.substr(at + 1, colon - at - 1);
  port = text.substr(colon + 1);
  if (ae.empty() || ae.size() > 16 || host.empty() || port.empty() || port.size() > 5) return false;
  for (char c : port)
    if (c < '0' || c > '9') return false;
  return std::stoi(port) >= 1 && std::stoi(port) <= 65535;
}

// The TLS profile options' message for a name that is none of the profiles (after "--", "--pacs-"...).
constexpr const char kTlsProfileMustBe[] = "tls-profile must be bcp195-nd, bcp195 or bcp195-ex";

int CmdSetup(const Args& a) {
  if (a.NeedsUsage() || !a.pos.empty())
    return cli::Usage(a,
                      "usage: scrivara-cli setup [--aet AE] [--institution NAME] [--pacs AE@HOST:PORT]\n"
                      "                          [--worklist AE@HOST:PORT] [--debug on|off]\n"
                      "                          [--pacs-tls on|off] [--pacs-tls-profile P] [--pacs-ca FILE]\n"
                      "                          [--pacs-cert FILE] [--pacs-key FILE] [--pacs-host-check on|off]\n"
                      "                          [--worklist-tls on|off] ... (the same for the worklist server)\n"
                      "                          [--pacs-dicomweb on|off] [--pacs-url URL]\n"
                      "                          [--pacs-auth none|basic|token] [--pacs-user U]\n"
                      "                          [--pacs-password-file F] [--pacs-token-file F]\n"
                      "  without options, prints the configuration; with them, changes those settings and saves\n"
                      "  the files as the setup dialog does (the dialog and every command read them). TLS\n"
                      "  profiles: bcp195-nd (the default), bcp195, bcp195-ex; an empty --pacs-ca \"\" means the\n"
                      "  system's trusted authorities. With --pacs-dicomweb on the PACS is reached over DICOMweb at\n"
                      "  its URL (https, or http to 127.0.0.1); the TLS CA and client certificate settings check\n"
                      "  it. The password is read from its file and kept in the servers file (0600); a token file\n"
                      "  is named only, and read at each use\n");
  SetupCfg cfg = setupcfg;
  std::vector<std::string> bad;
  if (a.opt.count("aet")) {
    cfg.LocalAET = Opt(a, "aet", "");
    if (cfg.LocalAET.empty() || cfg.LocalAET.size() > 16) bad.push_back("--aet must be 1 to 16 characters");
  }
  if (a.opt.count("institution")) cfg.InstitutionName = cli::ArgText(a, "institution");
  if (a.opt.count("pacs") && !ParseServer(Opt(a, "pacs", ""), cfg.PacsAET, cfg.PacsIP, cfg.PacsPort))
    bad.push_back("--pacs must be AE@HOST:PORT (an AE title of 16 characters at most, a port from 1 to 65535)");
  if (a.opt.count("worklist") &&
      !ParseServer(Opt(a, "worklist", ""), cfg.WorklistAET, cfg.WorklistIP, cfg.WorklistPort))
    bad.push_back("--worklist must be AE@HOST:PORT (an AE title of 16 characters at most, a port from 1 to 65535)");
  // An on|off option, when given.
  auto onOff = [&](const std::string& name, bool& value) {
    if (!a.opt.count(name)) return;
    const std::string v = Opt(a, name, "");
    if (v != "on" && v != "off") bad.push_back("--" + name + " must be on or off");
    value = v == "on";
  };
  onOff("debug", cfg.DebugLogging);
  for (const char* side : {"pacs", "worklist"}) {
    TlsSettings& tls = std::string(side) == "pacs" ? cfg.PacsTls : cfg.WorklistTls;
    const std::string p = std::string("--") + side;
    onOff(std::string(side) + "-tls", tls.enabled);
    onOff(std::string(side) + "-host-check", tls.checkHostName);
    if (a.opt.count(std::string(side) + "-tls-profile")) {
      tls.profile = Opt(a, std::string(side) + "-tls-profile", "");
      if (!IsTlsProfile(tls.profile)) bad.push_back(p + "-" + kTlsProfileMustBe);
    }
    for (auto [name, file] : {std::pair{"-ca", &tls.caFile}, std::pair{"-cert", &tls.certificateFile},
                              std::pair{"-key", &tls.keyFile}}) {
      if (!a.opt.count(side + std::string(name))) continue;
      *file = Opt(a, side + std::string(name), "");
      if (!file->empty() && ::access(file->c_str(), R_OK) != 0)
        bad.push_back(p + name + ": " + *file + " cannot be read (" + std::strerror(errno) + ")");
    }
  }
  DicomWebSettings& web = cfg.PacsWeb;
  onOff("pacs-dicomweb", web.enabled);
  if (a.opt.count("pacs-url")) web.url = Opt(a, "pacs-url", "");
  if (a.opt.count("pacs-auth") && !ParseAuthName(Opt(a, "pacs-auth", ""), web.auth))
    bad.push_back("--pacs-auth must be none, basic or token");
  if (a.opt.count("pacs-user")) web.user = Opt(a, "pacs-user", "");
  if (a.opt.count("pacs-password-file")) {
    const std::string file = Opt(a, "pacs-password-file", "");
    std::string password, why;
    if (!ReadSecretFile("password", file, password, why)) bad.push_back("--pacs-password-file: " + why);
    web.password = password;
  }
  if (a.opt.count("pacs-token-file")) {
    web.tokenFile = Opt(a, "pacs-token-file", "");
    if (::access(web.tokenFile.c_str(), R_OK) != 0)
      bad.push_back("--pacs-token-file: " + web.tokenFile + " cannot be read (" + std::strerror(errno) + ")");
  }
  if (web.enabled) {
    AssociationTarget probe;
    probe.web = web;
    if (const std::string problem = HttpClient(probe).SettingsProblem(); !problem.empty())
      bad.push_back("DICOMweb: " + problem);
  }
  if (!bad.empty()) {
    for (const std::string& b : bad) std::fprintf(stderr, "scrivara-cli: %s\n", b.c_str());
    return cli::kExitUsage;
  }
  const std::string path = ConfigFolder() + kSetupFileName;
  if (!a.opt.empty()) {
    ClearLoggedError();
    if (!WriteSetupFile(cfg, path)) return Fail(Because("cannot save " + path));
    setupcfg = cfg;
  }
  std::printf("configuration %s\n", path.c_str());
  std::printf("  local AE title  %s\n", cfg.LocalAET.c_str());
  std::printf("  institution     %s\n", cfg.InstitutionName.c_str());
  std::printf("  PACS            %s@%s:%s\n", cfg.PacsAET.c_str(), cfg.PacsIP.c_str(), cfg.PacsPort.c_str());
  std::printf("  worklist        %s@%s:%s\n", cfg.WorklistAET.c_str(), cfg.WorklistIP.c_str(), cfg.WorklistPort.c_str());
  std::printf("  debug logging   %s\n", cfg.DebugLogging ? "on" : "off");
  for (auto [name, tls] : {std::pair{"PACS TLS", &cfg.PacsTls}, std::pair{"worklist TLS", &cfg.WorklistTls}}) {
    if (!tls->enabled) {
      std::printf("  %-15s off\n", name);
      continue;
    }
    std::printf("  %-15s on, profile %s, CA %s, client certificate %s%s%s\n", name, tls->profile.c_str(),
                tls->caFile.empty() ? "the system's" : tls->caFile.c_str(),
                tls->certificateFile.empty() ? "none" : tls->certificateFile.c_str(),
                tls->keyFile.empty() ? "" : (" (key " + tls->keyFile + ")").c_str(),
                tls->checkHostName ? "" : ", host name not checked");
  }
  if (!web.enabled) {
    std::printf("  PACS DICOMweb   off\n");
  } else {
    const std::string auth = web.auth == DicomWebSettings::Auth::Basic   ? "HTTP basic, user " + web.user
                             : web.auth == DicomWebSettings::Auth::Token ? "bearer token from " + web.tokenFile
                                                                         : "no authentication";
    std::printf("  PACS DICOMweb   on, %s, %s\n", web.url.c_str(), auth.c_str());
  }
  return 0;
}

// Why the DICOMweb options given do not go together, "" when they do.
std::string WebOptionsProblem(const Args& a, const std::string& command) {
  const bool web = a.opt.count("url") || a.opt.count("user") || a.opt.count("password-file") || a.opt.count("token-file");
  if (!web) return "";
  if (command == "worklist" || (a.opt.count("worklist") && command == "echo"))
    return "the worklist server is reached with associations only: --url, --user, --password-file and --token-file "
           "are for the PACS";
  if (a.opt.count("url") && (a.opt.count("aec") || a.opt.count("host") || a.opt.count("port")))
    return "--url names a DICOMweb service: give it or --aec/--host/--port, not both";
  if (a.opt.count("token-file") && (a.opt.count("user") || a.opt.count("password-file")))
    return "--token-file and --user/--password-file are two kinds of authentication: give one";
  if ((a.opt.count("password-file") && !a.opt.count("user") && setupcfg.PacsWeb.user.empty()) ||
      (a.opt.count("user") && !a.opt.count("password-file") && setupcfg.PacsWeb.password.empty()))
    return "HTTP basic authentication needs --user and --password-file";
  return "";
}

// Each command, the options it takes (with a value) and its switches.
struct Command {
  const char* name;
  int (*run)(const Args&);
  std::vector<std::string> values, switches;
};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> lists) {
  std::vector<std::string> all;
  for (const auto& l : lists) all.insert(all.end(), l.begin(), l.end());
  return all;
}

const std::vector<Command>& Commands() {
  static const std::vector<std::string> net = {"aet", "aec", "host", "port", "tls-profile", "ca", "cert", "key",
                                               "url", "user", "password-file", "token-file"};
  static const std::vector<std::string> tls = {"tls", "no-tls", "no-host-check"};
  static const std::vector<std::string> study = {"patient-name", "patient-id", "birth-date", "sex",
                                                 "accession", "study-uid", "study-description", "institution",
                                                 "modality", "worklist", "date", "study"};
  static const std::vector<std::string> search = {"name", "id", "description", "date", "modality"};
  static const std::vector<Command> commands = {
      {"echo", CmdEcho, net, Join({{"worklist"}, tls})},
      {"store", CmdStore, net, Join({{"outbox", "wait"}, tls})},
      {"dump", CmdDump, {}, {}},
      {"convert", CmdConvert, {"ts"}, {}},
      {"pdf", CmdPdf, Join({study, net}), Join({{"accept-unreadable"}, tls})},
      {"sr", cli::CmdSr, Join({study, net}), tls},
      {"img", cli::CmdImg, Join({study, net}), tls},
      {"find", cli::CmdFind, Join({search, net}), tls},
      {"worklist", cli::CmdWorklist, Join({search, net}), tls},
      {"setup", CmdSetup,
       {"aet", "institution", "pacs", "worklist", "debug", "pacs-tls", "pacs-tls-profile", "pacs-ca", "pacs-cert",
        "pacs-key", "pacs-host-check", "worklist-tls", "worklist-tls-profile", "worklist-ca", "worklist-cert",
        "worklist-key", "worklist-host-check", "pacs-dicomweb", "pacs-url", "pacs-auth", "pacs-user",
        "pacs-password-file", "pacs-token-file"},
       {}},
      {"log-viewer", cli::CmdLogViewer, {}, {}},
  };
  return commands;
}

}  // namespace

int main(int argc, char** argv) {
  {
    const std::string problem = FoldersProblem(FoldersFor(ExecutablePath()));
    if (!problem.empty()) {
      audit::SecurityAlert(audit::Alert::kSecurityConfiguration, FolderOf(ExecutablePath()), problem);
      return Fail(problem);
    }
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
    return argc < 2 ? cli::kExitUsage : 0;
  }
  const std::string name = argv[1];
  const auto& commands = Commands();
  const auto command = std::find_if(commands.begin(), commands.end(), [&](const Command& c) { return name == c.name; });
  if (command == commands.end()) {
    std::fprintf(stderr, "scrivara-cli: unknown command %s\n", name.c_str());
    std::fputs(kUsage, stderr);
    return cli::kExitUsage;
  }
  const Args a = cli::Parse(argc, argv, 2, command->values, command->switches);
  audit::ApplicationStart();
  int rc = cli::kExitUsage;
  const bool documents = name == "pdf" || name == "sr" || name == "img";
  std::string bad = documents && !a.NeedsUsage() ? cli::StudyKeysProblem(a) : "";
  if (a.opt.count("tls-profile") && !IsTlsProfile(Opt(a, "tls-profile", "")))
    bad += (bad.empty() ? "" : "\nscrivara-cli: ") + std::string("--") + kTlsProfileMustBe;
  if (const std::string web = WebOptionsProblem(a, name); !web.empty())
    bad += (bad.empty() ? "" : "\nscrivara-cli: ") + web;
  if (!bad.empty())
    std::fprintf(stderr, "scrivara-cli: %s\n", bad.c_str());
  else
    rc = command->run(a);
  audit::ApplicationStop();
  EndProgramFolders();
  CloseLog();
  return rc;
}
