#pragma once
// The audit trail: what patient data left this workstation, where to, and whether it worked; the
// searches; the start and stop of the programs; security alerts (a TLS peer that failed its checks,
// a folder or file refused as unsafe). Each event is one message in the DICOM audit message format
// (the XML of the RFC 3881 family, with DICOM's event and role codes), framed as an RFC 5424 syslog
// message (facility authpriv, severity notice, MSGID "IHE+RFC-3881") and sent to the system log
// (/dev/log, or the socket SCRIVARA_SYSLOG_SOCKET names) and appended to the day's private audit file beside the logs (0600). Failing to
// deliver a message is logged once per process and never stops the work it reports on.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace audit {

// The other end of an association (or of a TLS attempt).
struct Node {
  std::string aeTitle;  // "" when it is not a DICOM application (a TLS failure before associating)
  std::string host;
  std::string port;
};

// The instances of one patient in one send: study UID -> SOP class UID -> number of instances.
struct PatientInstances {
  std::string patientId;
  std::string patientName;  // UTF-8
  std::map<std::string, std::map<std::string, int>> studies;
  int Count() const;
};

// Application Activity: the program started or stops (once each per run).
void ApplicationStart();
void ApplicationStop();

// Begin Transferring DICOM Instances, before the first of them is sent.
void BeginTransferring(const PatientInstances& instances, const Node& destination);
// DICOM Instances Transferred, once the send has ended: success false when they were not all
// stored (a send with both outcomes gives one message for each).
void InstancesTransferred(const PatientInstances& instances, const Node& destination, bool success,
                          const std::string& failure = "");

// Query: a C-FIND of sopClass with the identifier encoded as sent (implicit VR little endian).
void Query(const std::string& sopClass, const std::vector<uint8_t>& identifier, const Node& responder, bool success,
           const std::string& failure = "");

// Security Alert.
enum class Alert {
  kNodeAuthentication,     // a TLS peer failed its checks, or refused ours
  kSecurityConfiguration,  // a folder or file refused as unsafe (another owner, open to others, a link)
};
// subject: what the alert is about (a host:port, a path); description: why, in words.
void SecurityAlert(Alert kind, const std::string& subject, const std::string& description);

// Where the messages go, for the About box and --version: the day's audit file and the system log.
std::string Destinations();

// The XML of each message is built apart from its delivery, for tests.
std::string LastMessageForTesting();
// Tests send the syslog frames to a socket of their own ("" goes back to the usual one).
void SetSyslogSocketForTesting(const std::string& path);

}  // namespace audit
