#include "core/audit.h"

#include <errno.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "core/config.h"
#include "core/fileutil.h"
#include "core/log.h"
#include "core/strutil.h"

namespace audit {
namespace {

std::mutex g_mutex;
std::string g_syslogSocket;  // set by the test hook; else SyslogSocket() decides
std::string g_last;
bool g_syslogWarned = false, g_fileWarned = false;
thread_local bool t_busy = false;  // an alert raised while a message is being delivered is dropped

// The system log's socket: /dev/log, or the one SCRIVARA_SYSLOG_SOCKET names (a collector of the
// site's own, or the test suite's).
std::string SyslogSocket() {
  if (!g_syslogSocket.empty()) return g_syslogSocket;
  const char* env = std::getenv("SCRIVARA_SYSLOG_SOCKET");
  return env && *env ? env : "/dev/log";
}

std::string Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      case '\t': out += "&#9;"; break;
      default:
        if (c >= 0x20) out += static_cast<char>(c);  // other control characters cannot be in XML
    }
  }
  return out;
}

std::string Base64(const void* data, size_t size) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* p = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t n = (uint32_t{p[i]} << 16) | (i + 1 < size ? uint32_t{p[i + 1]} << 8 : 0) |
                       (i + 2 < size ? uint32_t{p[i + 2]} : 0);
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < size ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < size ? kDigits[n & 63] : '=';
  }
  return out;
}

std::string Base64(const std::string& text) { return Base64(text.data(), text.size()); }

// A coded value of the given system: csd-code, codeSystemName and originalText (the code meaning).
std::string Code(const char* element, const char* code, const char* system, const char* meaning) {
  return std::string("<") + element + " csd-code=\"" + code + "\" codeSystemName=\"" + system + "\" originalText=\"" +
         meaning + "\"/>";
}
std::string Dcm(const char* element, const char* code, const char* meaning) {
  return Code(element, code, "DCM", meaning);
}

std::string UtcNow() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  tm t{};
  ::gmtime_r(&ts.tv_sec, &t);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(ts.tv_nsec / 1000000));
  return buf;
}

std::string HostName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0 || !buf[0]) return "localhost";
  return buf;
}

std::string UserName() {
  passwd pw{}, *found = nullptr;
  char buf[4096];
  if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found) return found->pw_name;
  return std::to_string(::getuid());
}

std::string ProgramName() { return program_invocation_short_name ? program_invocation_short_name : "scrivara"; }

// The message's head: the event, its date and outcome.
std::string Event(const char* id, const char* meaning, const char* action, bool success, const std::string& failure,
                  const std::string& typeCode = "") {
  std::string x = "<EventIdentification EventActionCode=\"" + std::string(action) + "\" EventDateTime=\"" +
                  UtcNow() + "\" EventOutcomeIndicator=\"" + (success ? "0" : "4") + "\">";
  x += Dcm("EventID", id, meaning);
  x += typeCode;
  if (!success && !failure.empty()) x += "<EventOutcomeDescription>" + Escape(failure) + "</EventOutcomeDescription>";
  return x + "</EventIdentification>";
}

// This program as a participant: our AE title, the process ID, the user running it, this machine.
std::string Us(bool requestor, const std::string& role) {
  const std::string ae = setupcfg.LocalAET.empty() ? ProgramName() : setupcfg.LocalAET;
  return "<ActiveParticipant UserID=\"" + Escape(ae) + "\" AlternativeUserID=\"" + std::to_string(::getpid()) +
         "\" UserName=\"" + Escape(UserName()) + "\" UserIsRequestor=\"" + (requestor ? "true" : "false") +
         "\" NetworkAccessPointID=\"" + Escape(HostName()) + "\" NetworkAccessPointTypeCode=\"1\">" + role +
         "</ActiveParticipant>";
}

std::string Them(const Node& node, const std::string& role) {
  const std::string id = node.aeTitle.empty() ? node.host + ":" + node.port : node.aeTitle;
  return "<ActiveParticipant UserID=\"" + Escape(id) + "\" UserIsRequestor=\"false\" NetworkAccessPointID=\"" +
         Escape(node.host) + "\" NetworkAccessPointTypeCode=\"" + (IsIpAddress(node.host) ? "2" : "1") + "\">" + role +
         "</ActiveParticipant>";
}

std::string Source() {
  std::string site = setupcfg.InstitutionName;
  return "<AuditSourceIdentification" + (site.empty() ? std::string() : " AuditEnterpriseSiteID=\"" + Escape(site) + "\"") +
         " AuditSourceID=\"" + Escape(HostName()) + "\"><AuditSourceTypeCode csd-code=\"1\"/></AuditSourceIdentification>";
}

std::string Patient(const PatientInstances& p) {
  return "<ParticipantObjectIdentification ParticipantObjectID=\"" + Escape(p.patientId) +
         "\" ParticipantObjectTypeCode=\"1\" ParticipantObjectTypeCodeRole=\"1\">" +
         Code("ParticipantObjectIDTypeCode", "2", "RFC-3881", "Patient Number") + "<ParticipantObjectName>" +
         Escape(p.patientName) + "</ParticipantObjectName></ParticipantObjectIdentification>";
}

std::string Studies(const PatientInstances& p) {
  std::string x;
  for (const auto& [study, classes] : p.studies) {
    x += "<ParticipantObjectIdentification ParticipantObjectID=\"" + Escape(study) +
         "\" ParticipantObjectTypeCode=\"2\" ParticipantObjectTypeCodeRole=\"3\">" +
         Dcm("ParticipantObjectIDTypeCode", "110180", "Study Instance UID") + "<ParticipantObjectName>" +
         Escape(study) + "</ParticipantObjectName><ParticipantObjectDescription>";
    for (const auto& [sopClass, count] : classes)
      x += "<SOPClass UID=\"" + Escape(sopClass) + "\" NumberOfInstances=\"" + std::to_string(count) + "\"/>";
    x += "</ParticipantObjectDescription></ParticipantObjectIdentification>";
  }
  return x;
}

std::string Message(const std::string& body) { return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><AuditMessage>" + body + "</AuditMessage>"; }

void Deliver(const std::string& xml) {
  if (t_busy) return;
  t_busy = true;
  // RFC 5424: facility authpriv (10), severity notice (5); the XML after a byte order mark.
  const std::string frame = "<85>1 " + UtcNow() + " " + HostName() + " " + ProgramName() + " " +
                            std::to_string(::getpid()) + " IHE+RFC-3881 - \xEF\xBB\xBF" + xml;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_last = xml;
  const std::string socketPath = SyslogSocket();
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  std::strncpy(to.sun_path, socketPath.c_str(), sizeof to.sun_path - 1);
  // A machine without a system log (no such socket) keeps the trail in the audit file alone; a
  // system log that is there but takes nothing is worth one line.
  if (fd < 0 || ::sendto(fd, frame.data(), frame.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
    if (errno != ENOENT && !g_syslogWarned)
      WriteLog("WARNING, audit, the system log " + socketPath + " takes no messages: " + std::strerror(errno));
    g_syslogWarned = g_syslogWarned || errno != ENOENT;
  }
  if (fd >= 0) ::close(fd);
  const std::string folder = LogsFolder();
  if (!folder.empty()) {
    const std::string path = folder + DayStamp() + "_audit.log";
    FILE* f = OpenPrivateAppend(path);
    const bool written = f && std::fwrite(frame.data(), 1, frame.size(), f) == frame.size() && std::fputc('\n', f) != EOF &&
                         std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0;
    if (f) std::fclose(f);
    if (!written && !g_fileWarned) WriteLog("WARNING, audit, cannot write " + path);
    g_fileWarned = g_fileWarned || !written;
  }
  t_busy = false;
}

const std::string kSource = Dcm("RoleIDCode", "110153", "Source Role ID");
const std::string kDestination = Dcm("RoleIDCode", "110152", "Destination Role ID");

}  // namespace

int PatientInstances::Count() const {
  int n = 0;
  for (const auto& [study, classes] : studies)
    for (const auto& [sopClass, count] : classes) n += count;
  return n;
}

namespace {

// Application Activity of this program, launched by the user running it.
void Activity(const char* code, const char* meaning) {
  Deliver(Message(Event("110100", "Application Activity", "E", true, "", Dcm("EventTypeCode", code, meaning)) +
                  Us(false, Dcm("RoleIDCode", "110150", "Application")) + "<ActiveParticipant UserID=\"" +
                  Escape(UserName()) + "\" UserIsRequestor=\"true\">" +
                  Dcm("RoleIDCode", "110151", "Application Launcher") + "</ActiveParticipant>" + Source()));
}

}  // namespace

void ApplicationStart() { Activity("110120", "Application Start"); }

void ApplicationStop() { Activity("110121", "Application Stop"); }

void BeginTransferring(const PatientInstances& instances, const Node& destination) {
  Deliver(Message(Event("110102", "Begin Transferring DICOM Instances", "E", true, "") + Us(true, kSource) +
                  Them(destination, kDestination) + Source() + Studies(instances) + Patient(instances)));
}

void InstancesTransferred(const PatientInstances& instances, const Node& destination, bool success,
                          const std::string& failure) {
  Deliver(Message(Event("110104", "DICOM Instances Transferred", "R", success, failure) + Us(true, kSource) +
                  Them(destination, kDestination) + Source() + Studies(instances) + Patient(instances)));
}

void Query(const std::string& sopClass, const std::vector<uint8_t>& identifier, const Node& responder, bool success,
           const std::string& failure) {
  Deliver(Message(Event("110112", "Query", "E", success, failure) + Us(true, kSource) + Them(responder, kDestination) +
                  Source() + "<ParticipantObjectIdentification ParticipantObjectID=\"" + Escape(sopClass) +
                  "\" ParticipantObjectTypeCode=\"2\" ParticipantObjectTypeCodeRole=\"3\">" +
                  Dcm("ParticipantObjectIDTypeCode", "110181", "SOP Class UID") + "<ParticipantObjectQuery>" +
                  Base64(identifier.data(), identifier.size()) +
                  "</ParticipantObjectQuery><ParticipantObjectDetail type=\"TransferSyntax\" value=\"" +
                  Base64(std::string("1.2.840.10008.1.2")) + "\"/></ParticipantObjectIdentification>"));
}

void SecurityAlert(Alert kind, const std::string& subject, const std::string& description) {
  const std::string type = kind == Alert::kNodeAuthentication
                               ? Dcm("EventTypeCode", "110126", "Node Authentication")
                               : Dcm("EventTypeCode", "110129", "Security Configuration");
  Deliver(Message(Event("110113", "Security Alert", "E", false, description, type) +
                  Us(true, Dcm("RoleIDCode", "110150", "Application")) + Source() +
                  "<ParticipantObjectIdentification ParticipantObjectID=\"" + Escape(subject) +
                  "\" ParticipantObjectTypeCode=\"2\">" + Code("ParticipantObjectIDTypeCode", "12", "RFC-3881", "URI") +
                  "<ParticipantObjectName>" + Escape(subject) +
                  "</ParticipantObjectName><ParticipantObjectDetail type=\"Alert Description\" value=\"" +
                  Base64(description) + "\"/></ParticipantObjectIdentification>"));
}

std::string Destinations() {
  const std::string folder = LogsFolder();
  std::string socketPath;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    socketPath = SyslogSocket();
  }
  const std::string file = folder.empty() ? std::string() : folder + "yyyymmdd_audit.log";
  if (::access(socketPath.c_str(), F_OK) != 0) return file.empty() ? "nowhere (no logs folder, no system log)" : file;
  return (file.empty() ? std::string() : file + " and ") + "the system log (" + socketPath + ")";
}

std::string LastMessageForTesting() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_last;
}

void SetSyslogSocketForTesting(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_syslogSocket = path;
  g_syslogWarned = false;
}

}  // namespace audit
