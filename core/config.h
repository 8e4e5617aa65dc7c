#pragma once
// The configuration record and the program-wide settings of the application shell.
#include <cstddef>
#include <set>
#include <string>

#include "core/fileutil.h"  // FolderOf

// How the associations with one server are secured. Kept in a file of its own beside the
// configuration file, so that the ten-line file stays as older versions read and write it.
struct TlsSettings {
  bool enabled = false;
  // The security profile, by the short names of DCMTK's options: "bcp195-nd" (non-downgrading,
  // the default), "bcp195", "bcp195-ex".
  std::string profile = "bcp195-nd";
  std::string caFile;           // PEM trust anchors; "" = the system's trust store
  std::string certificateFile;  // PEM client certificate; "" = none
  std::string keyFile;          // PEM key of the client certificate (no pass phrase)
  bool checkHostName = true;    // the certificate must name the host (or address) connected to
  bool operator==(const TlsSettings&) const = default;
};

// The profile names TlsSettings::profile takes.
bool IsTlsProfile(const std::string& name);

// An archive reached over DICOMweb (STOW-RS to store, QIDO-RS to search) instead of DIMSE. HTTPS
// checks the server with the CA file, client certificate and host-name setting of the server's
// TlsSettings.
struct DicomWebSettings {
  bool enabled = false;  // the server is reached over DICOMweb, not with associations
  std::string url;       // the service's base URL: https, or http for a loopback address only
  enum class Auth { None, Basic, Token };
  Auth auth = Auth::None;
  std::string user;       // HTTP basic
  std::string password;   // HTTP basic; kept in the 0600 servers file, never logged
  std::string passwordFile;  // HTTP basic: read the password from this file instead (not saved)
  std::string tokenFile;  // bearer token: the file holding it, read at each use
  size_t instancesPerRequest = 100;  // the most files one STOW-RS request carries (not saved)
  bool operator==(const DicomWebSettings&) const = default;
};

// "none", "basic", "token" and back; false for another name.
const char* AuthName(DicomWebSettings::Auth auth);
bool ParseAuthName(const std::string& name, DicomWebSettings::Auth& auth);

// The single configuration record. Field order is the line order of scrivara.cfg; the initial
// values are the defaults used when no configuration file can be read.
struct SetupCfg {
  std::string LocalAET = "SCRIVARA";
  std::string InstitutionName = "Institution Name";
  std::string PacsAET = "PACS";
  std::string PacsIP = "127.0.0.1";
  std::string PacsPort = "104";
  std::string WorklistAET = "WORKLIST";
  std::string WorklistIP = "127.0.0.1";
  std::string WorklistPort = "104";
  std::string Reserved = "0";  // stored as read and written back unchanged
  bool DebugLogging = false;   // line 10: "TRUE" or "FALSE"
  // Not lines of scrivara.cfg: the servers file beside it (ReadSetupFile, WriteSetupFile).
  TlsSettings PacsTls;
  TlsSettings WorklistTls;
  DicomWebSettings PacsWeb;  // the archive (study search and sending) over DICOMweb when enabled
};

// The program's configuration, read at start-up and changed only through the setup dialog.
extern SetupCfg setupcfg;
// Folder of the executable with a trailing "/" (set by the start-up step); paths are the file
// system's own bytes.
extern std::string ExeFolder;
// The command-line argument text: the arguments after the program name joined with single blanks
// (the shell has already removed the quotes); "" when there are none.
extern std::string CommandLineText;

// Today's local date as the day's files in logs/ are named: "yyyymmdd".
std::string DayStamp();

// Name of the configuration file beside the executable.
inline constexpr const char kSetupFileName[] = "scrivara.cfg";
// Name of the servers file beside it: sections "PACS TLS", "Worklist TLS" and "PACS DICOMweb".
inline constexpr const char kServersFileName[] = "scrivara-servers.ini";

// True only when the file exists and holds exactly ten lines (CR, LF or CR LF end a line); then
// all ten fields are replaced (line 10 is on only when exactly "TRUE"). Otherwise those fields are
// unchanged. The TLS settings come from the servers file beside it, whatever the ten lines gave:
// a missing file or key leaves the setting as it was.
bool ReadSetupFile(SetupCfg& cfg, const std::string& fileName);
// Writes the ten lines (cp1252, each ending in CR LF) to a temporary file beside fileName and
// renames it over fileName, so a failure never leaves a half-written file. A value holding a line
// break would not read back as ten lines and is refused. The servers file beside it is written the
// same way when it exists or a TLS setting is not the default. On failure: false and one log line.
bool WriteSetupFile(const SetupCfg& cfg, const std::string& fileName);

// Full path of the running executable (/proc/self/exe), "" when it cannot be read.
std::string ExecutablePath();
// Creates a folder and its missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& path);

// Where the program's files live, each folder ending in "/".
struct ProgramFolders {
  std::string config;  // scrivara.cfg and the label file
  std::string logs;    // the day's logs
  std::string temp;    // objects made for sending, the instance claims
  std::string outbox;  // objects kept to be sent later
  std::string work;    // this run's own folder inside temp (set by StartProgramFolders)
  bool besideExecutable = true;
};

// The lock file of a run's own folder, held while the run lasts, and the list of the objects in it
// the PACS accepted (one file name a line).
inline constexpr const char kWorkFolderLock[] = ".lock";
inline constexpr const char kAcceptedList[] = ".accepted";
// Notes in this run's folder that the PACS accepted the object (when it is one of that folder's),
// so that it is not kept if the program ends before its form deletes it.
void RecordAccepted(const std::string& objectFile);
// The file names a run folder's accepted list holds (plain names only).
std::set<std::string> AcceptedObjects(const std::string& runFolder);

// The one decision, for the window program and the command-line companion alike: when the
// executable's folder is writable (a build tree, a portable copy; never a folder under /usr, /bin
// or /sbin, and for root only one whose mode has a write bit) everything stays beside it
// ("logs/", "temp/", "outbox/"); when it is not (an installed program) the files go to the
// per-user XDG folders: $XDG_CONFIG_HOME/scrivara/, $XDG_STATE_HOME/scrivara/logs/,
// $XDG_CACHE_HOME/scrivara/temp/ and $XDG_DATA_HOME/scrivara/outbox/ (defaults ~/.config,
// ~/.local/state, ~/.cache and ~/.local/share; the home is $HOME, or without it the password
// database's).
ProgramFolders FoldersFor(const std::string& executablePath);

// The folders in use: set by StartProgramFolders. Before that (and in tests that set only
// ExeFolder) each is the folder beside ExeFolder, or "" without one.
std::string ConfigFolder();
std::string LogsFolder();
std::string TempFolder();
std::string OutboxFolder();
// This run's own folder inside temp/, where its objects are made: "run-<pid>-<random>/", claimed
// and locked on the first call after StartProgramFolders (a run that makes no object makes no
// folder); TempFolder() before that, or when it cannot be made.
std::string WorkFolder();
// This run's folder when WorkFolder has claimed one, else "": never makes it.
std::string ClaimedWorkFolder();
// Why the folders can't be used: "" when they can, else a sentence naming the folder that belongs
// to another user, that others may write into, or that is a link (a missing folder is fine).
std::string FoldersProblem(const ProgramFolders& folders);
// "configuration: ...", "logs: ...", "temporary files: ...", "outbox: ..." on four lines.
std::string FoldersDescription();

// The start-up step of the window program and the command-line companion: ExeFolder from the
// executable's path, the folders of FoldersFor (logs/, temp/ and the outbox private to the user;
// the configuration folder made when it is a per-user one; a failed creation is ignored: later
// writes fail there), and the day's log "yyyymmdd_doc.log" (local date) in the logs folder started
// and created, with its relay to "scrivara"; this run's own folder in temp/ is claimed later, when
// first asked for (WorkFolder). Returns the log's path. When FoldersProblem finds a fault nothing is
// made or used (every folder is "") and "" is returned: the programs say why and stop.
std::string StartProgramFolders(const std::string& executablePath);
// The end of a run: the objects of its own folder the PACS accepted are removed, and the folder
// when nothing else is left in it (what is left goes to the outbox at the next start).
void EndProgramFolders();
