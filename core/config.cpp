#include "core/config.h"

#include <fcntl.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "core/audit.h"
#include "core/fileutil.h"
#include "core/inifile.h"
#include "core/log.h"

SetupCfg setupcfg;
std::string ExeFolder;
std::string CommandLineText;

namespace {

// A configuration file is ten short lines; anything much larger is not one.
constexpr std::streamoff kMaxSetupFileSize = 64 * 1024;

std::vector<std::string> SplitLines(const std::string& data) {
  std::vector<std::string> lines;
  std::string cur;
  for (size_t i = 0; i < data.size(); ++i) {
    char c = data[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(cur);
      cur.clear();
      if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);  // a last line without its line break
  return lines;
}

}  // namespace

std::string DayStamp() {
  char day[16];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(day, sizeof day, "%Y%m%d", &local);
  return day;
}

bool IsTlsProfile(const std::string& name) { return name == "bcp195-nd" || name == "bcp195" || name == "bcp195-ex"; }

const char* AuthName(DicomWebSettings::Auth auth) {
  switch (auth) {
    case DicomWebSettings::Auth::Basic: return "basic";
    case DicomWebSettings::Auth::Token: return "token";
    case DicomWebSettings::Auth::None: break;
  }
  return "none";
}

bool ParseAuthName(const std::string& name, DicomWebSettings::Auth& auth) {
  for (auto a : {DicomWebSettings::Auth::None, DicomWebSettings::Auth::Basic, DicomWebSettings::Auth::Token}) {
    if (name == AuthName(a)) {
      auth = a;
      return true;
    }
  }
  return false;
}

namespace {

constexpr const char* kTlsSections[] = {"PACS TLS", "Worklist TLS"};
constexpr const char kWebSection[] = "PACS DICOMweb";

bool HoldsLineBreak(const std::string& v) { return v.find_first_of("\r\n") != std::string::npos; }

// A true/false key of the servers file ("true" in any case, or "1"); def when it is missing.
bool ReadFlag(const IniFile& ini, const std::string& section, const char* key, bool def) {
  const std::string v = ini.ReadString(section, key, def ? "true" : "false");
  return ::strcasecmp(v.c_str(), "true") == 0 || v == "1";
}

void ReadServersFile(SetupCfg& cfg, const std::string& path) {
  IniFile ini;
  if (!ini.LoadBytes(path)) return;
  TlsSettings* sides[] = {&cfg.PacsTls, &cfg.WorklistTls};
  for (int i = 0; i < 2; ++i) {
    TlsSettings& t = *sides[i];
    const std::string section = kTlsSections[i];
    t.enabled = ReadFlag(ini, section, "UseTLS", t.enabled);
    const std::string profile = ini.ReadString(section, "Profile", t.profile);
    if (IsTlsProfile(profile))
      t.profile = profile;
    else
      WriteLog("WARNING, ReadSetupFile, " + path + ": unknown TLS profile \"" + profile + "\", " + t.profile + " used");
    t.caFile = ini.ReadString(section, "CAFile", t.caFile);
    t.certificateFile = ini.ReadString(section, "Certificate", t.certificateFile);
    t.keyFile = ini.ReadString(section, "Key", t.keyFile);
    t.checkHostName = ReadFlag(ini, section, "CheckHostName", t.checkHostName);
  }
  DicomWebSettings& w = cfg.PacsWeb;
  w.enabled = ReadFlag(ini, kWebSection, "UseDICOMweb", w.enabled);
  w.url = ini.ReadString(kWebSection, "URL", w.url);
  const std::string auth = ini.ReadString(kWebSection, "Authentication", AuthName(w.auth));
  if (!ParseAuthName(auth, w.auth))
    WriteLog("WARNING, ReadSetupFile, " + path + ": unknown authentication \"" + auth + "\", " + AuthName(w.auth) +
             " used");
  w.user = ini.ReadString(kWebSection, "User", w.user);
  w.password = ini.ReadString(kWebSection, "Password", w.password);
  w.tokenFile = ini.ReadString(kWebSection, "TokenFile", w.tokenFile);
}

bool WriteServersFile(const SetupCfg& cfg, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 && cfg.PacsTls == TlsSettings{} && cfg.WorklistTls == TlsSettings{} &&
      cfg.PacsWeb == DicomWebSettings{})
    return true;  // nothing to keep: older setups stay one file
  const DicomWebSettings& w = cfg.PacsWeb;
  for (const std::string* v : {&w.url, &w.user, &w.password, &w.tokenFile}) {
    if (HoldsLineBreak(*v)) {
      WriteLog("ERROR, WriteSetupFile, a value holds a line break: " + path + " not written");
      return false;
    }
  }
  std::string data = "; Secure connections to the servers of scrivara.cfg, and the archive over DICOMweb\n";
  const TlsSettings* sides[] = {&cfg.PacsTls, &cfg.WorklistTls};
  for (int i = 0; i < 2; ++i) {
    const TlsSettings& t = *sides[i];
    for (const std::string* v : {&t.profile, &t.caFile, &t.certificateFile, &t.keyFile}) {
      if (HoldsLineBreak(*v)) {
        WriteLog("ERROR, WriteSetupFile, a value holds a line break: " + path + " not written");
        return false;
      }
    }
    data += std::string("\n[") + kTlsSections[i] + "]\n";
    data += std::string("UseTLS=") + (t.enabled ? "true" : "false") + "\n";
    data += "Profile=" + t.profile + "\n";
    data += "CAFile=" + t.caFile + "\n";
    data += "Certificate=" + t.certificateFile + "\n";
    data += "Key=" + t.keyFile + "\n";
    data += std::string("CheckHostName=") + (t.checkHostName ? "true" : "false") + "\n";
  }
  data += std::string("\n[") + kWebSection + "]\n";
  data += std::string("UseDICOMweb=") + (w.enabled ? "true" : "false") + "\n";
  data += "URL=" + w.url + "\n";
  data += std::string("Authentication=") + AuthName(w.auth) + "\n";
  data += "User=" + w.user + "\n";
  data += "Password=" + w.password + "\n";
  data += "TokenFile=" + w.tokenFile + "\n";
  std::string why;
  if (!WriteFileReplacing(path, data, why)) {
    WriteLog("ERROR, WriteSetupFile, couldn't write " + path + ": " + why);
    return false;
  }
  return true;
}

bool ReadTenLines(SetupCfg& cfg, const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary | std::ios::ate);
  if (!in) return false;
  std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxSetupFileSize) {
    WriteLog("ERROR, ReadSetupFile, " + fileName + " is not a configuration file");
    return false;
  }
  std::string data(static_cast<size_t>(size), '\0');
  in.seekg(0);
  if (!in.read(data.data(), size)) {
    WriteLog("ERROR, ReadSetupFile, couldn't read " + fileName);
    return false;
  }
  std::vector<std::string> lines = SplitLines(data);
  if (lines.size() != 10) {
    WriteLog("WARNING, ReadSetupFile, " + fileName + " holds " + std::to_string(lines.size()) +
             " lines instead of 10, using the defaults");
    return false;
  }
  cfg.LocalAET = lines[0];
  cfg.InstitutionName = lines[1];
  cfg.PacsAET = lines[2];
  cfg.PacsIP = lines[3];
  cfg.PacsPort = lines[4];
  cfg.WorklistAET = lines[5];
  cfg.WorklistIP = lines[6];
  cfg.WorklistPort = lines[7];
  cfg.Reserved = lines[8];
  cfg.DebugLogging = lines[9] == "TRUE";
  return true;
}

}  // namespace

bool ReadSetupFile(SetupCfg& cfg, const std::string& fileName) {
  const bool read = ReadTenLines(cfg, fileName);
  ReadServersFile(cfg, FolderOf(fileName) + kServersFileName);
  return read;
}


bool WriteSetupFile(const SetupCfg& cfg, const std::string& fileName) {
  const std::string* fields[] = {&cfg.LocalAET,    &cfg.InstitutionName, &cfg.PacsAET,
                                 &cfg.PacsIP,      &cfg.PacsPort,        &cfg.WorklistAET,
                                 &cfg.WorklistIP,  &cfg.WorklistPort,    &cfg.Reserved};
  std::string data;
  for (const std::string* f : fields) {
    if (f->find_first_of("\r\n") != std::string::npos) {
      WriteLog("ERROR, WriteSetupFile, a value holds a line break: " + fileName + " not written");
      return false;
    }
    data += *f + "\r\n";
  }
  data += cfg.DebugLogging ? "TRUE\r\n" : "FALSE\r\n";

  std::string why;
  if (!WriteFileReplacing(fileName, data, why)) {
    WriteLog("ERROR, WriteSetupFile, couldn't write " + fileName + ": " + why);
    return false;
  }
  return WriteServersFile(cfg, FolderOf(fileName) + kServersFileName);
}

std::string ExecutablePath() {
  std::vector<char> buf(4096);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return "";
  return std::string(buf.data(), static_cast<size_t>(n));
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  struct stat st{};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  std::string parent = FolderOf(p);
  if (!parent.empty() && parent != p + "/" && parent != "/") ForceDirectories(parent);
  if (::mkdir(p.c_str(), 0777) == 0) return true;
  return errno == EEXIST && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

ProgramFolders g_folders;
bool g_foldersSet = false;
// This run's folder (g_folders.work) is made on first use, from whichever thread asks first.
std::mutex g_workMutex;
bool g_workClaimable = false;

// The user's home: $HOME when it is an absolute path, else the password database's (a cron job or
// a service may run without HOME; a shared folder such as /tmp is never taken instead).
std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/')
    return found->pw_dir;
  return "";
}

// An XDG base folder: the variable when it holds an absolute path, else the home + the default.
std::string XdgBase(const char* variable, const char* underHome) {
  const char* v = std::getenv(variable);
  if (v && v[0] == '/') return std::string(v) + "/";
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/" + underHome + "/";  // no home: refused by FoldersProblem
}

std::string Beside(const char* sub) { return ExeFolder.empty() ? std::string() : ExeFolder + sub; }

// A portable copy: a folder outside the system's program folders that its mode lets this user
// write into. (Root may write anywhere, so for root the mode's write bits decide.)
bool PortableFolder(const std::string& folder) {
  for (const char* system : {"/usr/", "/bin/", "/sbin/"})
    if (folder.rfind(system, 0) == 0) return false;
  struct stat st{};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (::geteuid() == 0) return (st.st_mode & 0222) != 0;
  return ::access(folder.c_str(), W_OK) == 0;
}

}  // namespace

ProgramFolders FoldersFor(const std::string& executablePath) {
  ProgramFolders f;
  const std::string exeFolder = FolderOf(executablePath);
  if (!exeFolder.empty() && PortableFolder(exeFolder)) {
    f.config = exeFolder;
    f.logs = exeFolder + "logs/";
    f.temp = exeFolder + "temp/";
    f.outbox = exeFolder + "outbox/";
    return f;
  }
  f.besideExecutable = false;
  f.config = XdgBase("XDG_CONFIG_HOME", ".config") + "scrivara/";
  f.logs = XdgBase("XDG_STATE_HOME", ".local/state") + "scrivara/logs/";
  f.temp = XdgBase("XDG_CACHE_HOME", ".cache") + "scrivara/temp/";
  f.outbox = XdgBase("XDG_DATA_HOME", ".local/share") + "scrivara/outbox/";
  return f;
}

std::string ConfigFolder() { return g_foldersSet ? g_folders.config : Beside(""); }
std::string LogsFolder() { return g_foldersSet ? g_folders.logs : Beside("logs/"); }
std::string TempFolder() { return g_foldersSet ? g_folders.temp : Beside("temp/"); }
std::string OutboxFolder() { return g_foldersSet ? g_folders.outbox : Beside("outbox/"); }

std::string FoldersDescription() {
  return "configuration: " + ConfigFolder() + "\nlogs: " + LogsFolder() + "\ntemporary files: " + TempFolder() +
         "\noutbox: " + OutboxFolder() + "\naudit trail: " + audit::Destinations();
}

std::string FoldersProblem(const ProgramFolders& f) {
  std::vector<std::string> folders = {f.config, f.logs, f.temp, f.outbox};
  if (!f.besideExecutable)  // the program's own folder under each per-user base
    for (const std::string& sub : {f.logs, f.temp, f.outbox}) folders.push_back(FolderOf(sub.substr(0, sub.size() - 1)));
  for (const std::string& folder : folders) {
    if (folder.empty() || folder[0] != '/') return "no home folder is known for this user; set HOME";
    std::string why = FolderTrouble(folder);
    if (!why.empty()) return why;
  }
  return "";
}

namespace {

// This run's own folder in temp/: "run-<process ID>-<random>/", locked while the program runs, so
// that another program's start-up knows it is in use and leaves it alone.
std::string ClaimWorkFolder(const std::string& temp) {
  static FileLock held;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string name = temp + "run-" + UniqueSuffix() + "/";  // unique and unguessable
    if (::mkdir(name.c_str(), 0700) != 0) continue;
    if (held.Acquire(name + kWorkFolderLock, false)) return name;
    ::rmdir(name.c_str());
  }
  WriteLog("ERROR, WorkFolder, cannot make a folder of this run's own in " + temp);
  return "";
}

}  // namespace

std::string WorkFolder() {
  if (!g_foldersSet) return TempFolder();
  std::lock_guard<std::mutex> lock(g_workMutex);
  if (g_folders.work.empty() && g_workClaimable) {
    g_workClaimable = false;  // one attempt: when it fails, the temp folder serves
    g_folders.work = ClaimWorkFolder(g_folders.temp);
  }
  return g_folders.work.empty() ? g_folders.temp : g_folders.work;
}

std::string ClaimedWorkFolder() {
  std::lock_guard<std::mutex> lock(g_workMutex);
  return g_folders.work;
}

std::string StartProgramFolders(const std::string& executablePath) {
  ExeFolder = FolderOf(executablePath);
  std::lock_guard<std::mutex> lock(g_workMutex);  // nothing below asks for WorkFolder
  g_folders = FoldersFor(executablePath);
  g_foldersSet = true;
  g_workClaimable = false;
  const std::string problem = FoldersProblem(g_folders);
  if (!problem.empty()) {  // nothing is written to or read from such a folder
    g_folders = ProgramFolders{};
    g_folders.besideExecutable = false;
    return "";
  }
  std::string logsWarning, tempWarning;
  if (!g_folders.besideExecutable) PrivateFolder(g_folders.config, nullptr);
  PrivateFolder(g_folders.logs, &logsWarning);
  PrivateFolder(g_folders.temp, &tempWarning);
  const std::string logPath = g_folders.logs + DayStamp() + "_doc.log";
  InitLog(logPath, "scrivara", "");
  // The day's log file exists from the start, even before the first message.
  if (FILE* f = OpenPrivateAppend(logPath)) std::fclose(f);
  for (const std::string& w : {logsWarning, tempWarning})
    if (!w.empty()) WriteLog(w);
  g_workClaimable = true;
  return logPath;
}

void RecordAccepted(const std::string& objectFile) {
  const std::string folder = FolderOf(objectFile);
  if (folder.empty() || folder != ClaimedWorkFolder()) return;
  if (FILE* f = OpenPrivateAppend(folder + kAcceptedList)) {
    std::fprintf(f, "%s\n", FileNamePart(objectFile).c_str());
    std::fclose(f);
  }
}

std::set<std::string> AcceptedObjects(const std::string& runFolder) {
  std::set<std::string> names;
  std::ifstream list(runFolder + kAcceptedList);
  for (std::string name; std::getline(list, name);)
    if (!name.empty() && name.find('/') == std::string::npos && name[0] != '.') names.insert(name);
  return names;
}

void EndProgramFolders() {
  std::lock_guard<std::mutex> lock(g_workMutex);
  g_workClaimable = false;
  const std::string work = g_folders.work;
  if (work.empty()) return;
  for (const std::string& name : AcceptedObjects(work)) ::unlink((work + name).c_str());
  std::error_code ec;
  bool othersLeft = false;
  for (std::filesystem::directory_iterator it(work, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    othersLeft = othersLeft || (name != kWorkFolderLock && name != kAcceptedList);
  }
  if (othersLeft) return;
  ::unlink((work + kAcceptedList).c_str());
  ::unlink((work + kWorkFolderLock).c_str());
  ::rmdir(work.c_str());
  g_folders.work.clear();
}
