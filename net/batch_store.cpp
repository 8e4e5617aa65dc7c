#include "net/batch_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <utility>

#include "core/audit.h"
#include "core/charset.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "net/dicomweb.h"

namespace {

struct Group {
  std::string sopClass, transferSyntax;
  std::vector<size_t> members;  // indexes into the file list
};

Group& GroupFor(std::vector<Group>& groups, const std::string& sopClass, const std::string& ts) {
  for (Group& g : groups)
    if (g.sopClass == sopClass && g.transferSyntax == ts) return g;
  groups.push_back(Group{sopClass, ts, {}});
  return groups.back();
}

// The patient of an object, for the audit trail: ID and name (in UTF-8).
using PatientKey = std::pair<std::string, std::string>;

PatientKey PatientOf(const DcmObj& obj) {
  const DcmTag* name = obj.FindTag(0x0010, 0x0010);
  return {obj.GetString(0x0010, 0x0020),
          name ? DecodeDicomText(name->GetString(), obj.GetString(0x0008, 0x0005)) : std::string()};
}

// What the audit trail says of a send: per patient, the instances announced, then those stored
// and those not (with the first reason).
class SendAudit {
 public:
  explicit SendAudit(audit::Node node) : node_(std::move(node)) {}
  void Planned(size_t index, const DcmObj& obj) {
    const PatientKey key = PatientOf(obj);
    of_[index] = Entry{key, obj.GetString(0x0020, 0x000D), obj.GetString(0x0008, 0x0016)};
    audit::PatientInstances& p = planned_[key];
    p.patientId = key.first;
    p.patientName = key.second;
    ++p.studies[of_[index].study][of_[index].sopClass];
  }
  void Begin() const {
    for (const auto& [key, instances] : planned_) audit::BeginTransferring(instances, node_);
  }
  void Done(size_t index, bool stored, const std::string& why) {
    const auto it = of_.find(index);
    if (it == of_.end()) return;  // not read: no patient known, nothing left this machine
    auto& [done, reason] = stored ? stored_[it->second.patient] : failed_[it->second.patient];
    done.patientId = it->second.patient.first;
    done.patientName = it->second.patient.second;
    ++done.studies[it->second.study][it->second.sopClass];
    if (reason.empty()) reason = why;
  }
  void End() const {
    for (const auto& [key, result] : stored_) audit::InstancesTransferred(result.first, node_, true);
    for (const auto& [key, result] : failed_) audit::InstancesTransferred(result.first, node_, false, result.second);
  }

 private:
  struct Entry {
    PatientKey patient;
    std::string study, sopClass;
  };
  audit::Node node_;
  std::map<size_t, Entry> of_;
  std::map<PatientKey, audit::PatientInstances> planned_;
  std::map<PatientKey, std::pair<audit::PatientInstances, std::string>> stored_, failed_;
};

class Sender {
 public:
  Sender(const std::vector<std::string>& files, const AssociationTarget& target, const StoredFileSink& done,
         SendAudit& audit)
      : files_(files), target_(target), done_(done), audit_(audit) {}

  // Sends the groups; with `recheck`, a file whose data set disagrees with its group's key is
  // put into `moved` instead.
  void Send(const std::vector<Group>& groups, bool recheck, std::vector<Group>* moved) {
    for (const Group& g : groups) {
      PDU_Service pdu;
      pdu.MessageDump = target_.messageDump;
      if (!OpenStoreAssociation(pdu, target_, g.sopClass, g.transferSyntax)) {
        WriteLog("ERROR, StoreFiles, no association with " + target_.calledAE + "@" + target_.host + ":" +
                 target_.port + " for " + g.sopClass);
        for (size_t i : g.members) Report(i, false, kNoAssociation, "", pdu.Problem);
        continue;
      }
      for (size_t i : g.members) {
        DcmObj obj;
        if (std::string why; !obj.Read(files_[i], &why)) {
          WriteLog("ERROR, StoreFiles, cannot read DICOM file " + files_[i]);
          Report(i, false, kFileNotRead, "", why);
          continue;
        }
        const std::string sopClass = obj.GetString(0x0008, 0x0016);
        if (recheck && (sopClass != g.sopClass || obj.transferSyntax != g.transferSyntax)) {
          GroupFor(*moved, sopClass, obj.transferSyntax).members.push_back(i);
          continue;
        }
        const int sent = StoreSCU(pdu, obj, g.sopClass);
        const int status = sent == 0 ? CStore::ReadRSP(&pdu) : sent;
        // ReadRSP: 0 or a DIMSE status from a response, negative when none came back.
        const bool exchanged = sent == 0 && status >= 0;
        if (!CStore::Stored(status)) WriteLog("ERROR, StoreFiles, C-STORE of " + files_[i] + " failed");
        Report(i, exchanged, status, sent == 0 ? obj.transferSyntax : std::string());
      }
      pdu.Close();
    }
  }

  size_t stored() const { return stored_; }

  // Tells the caller how the file at index went.
  void Report(size_t index, bool exchanged, int status, const std::string& sentAs = "",
              const std::string& problem = "") {
    StoredFile f;
    f.index = index;
    f.path = files_[index];
    f.exchanged = exchanged;
    f.status = status;
    f.sentAs = sentAs;
    f.problem = problem;
    if (f.stored()) ++stored_;
    char code[16];
    std::snprintf(code, sizeof code, exchanged ? "%04XH" : "%d", exchanged ? status & 0xFFFF : status);
    audit_.Done(index, f.stored(),
                !problem.empty() ? problem : (exchanged ? "refused, status " : "not sent, local code ") + std::string(code));
    if (done_) done_(f);
  }

 private:
  const std::vector<std::string>& files_;
  const AssociationTarget& target_;
  const StoredFileSink& done_;
  SendAudit& audit_;
  size_t stored_ = 0;
};

// One file of a DICOMweb send: its SOP Instance UID, syntax and size, as read before sending.
struct WebFile {
  size_t index;
  std::string sopInstanceUID, transferSyntax;
  uint64_t size;
};

uint64_t SizeOnDisk(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

// Sends the files in STOW-RS requests of bounded size, in order.
void SendOverWeb(HttpClient& client, const std::vector<std::string>& files, const std::vector<WebFile>& web,
                 size_t perRequest, Sender& sender) {
  for (size_t first = 0; first < web.size();) {
    size_t end = first;
    uint64_t bytes = 0;
    while (end < web.size() && end - first < std::max<size_t>(perRequest, 1) &&
           (end == first || bytes + web[end].size <= kStowMaxBytes))
      bytes += web[end++].size;
    std::vector<StowFile> group;
    for (size_t k = first; k < end; ++k) group.push_back(StowFile{files[web[k].index], web[k].sopInstanceUID});
    const std::vector<StowOutcome> outcomes = StowFiles(client, group);
    for (size_t k = first; k < end; ++k) {
      const StowOutcome& o = outcomes[k - first];
      if (!o.stored) WriteLog("ERROR, StoreFiles, STOW-RS of " + files[web[k].index] + " failed");
      if (o.confirmed)
        sender.Report(web[k].index, true, o.status, web[k].transferSyntax);
      else
        sender.Report(web[k].index, false, kRequestFailed, "", o.problem);
    }
    first = end;
  }
}

}  // namespace

size_t StoreFiles(const std::vector<std::string>& files, const AssociationTarget& target, const StoredFileSink& done) {
  std::unique_ptr<HttpClient> client;
  if (target.web.enabled) client = std::make_unique<HttpClient>(target);
  SendAudit audit(client ? client->Node() : audit::Node{target.calledAE, target.host, target.port});
  Sender sender(files, target, done, audit);
  std::vector<WebFile> web;
  // The key and the patient of each file, its large pixel data left unread in the file until it
  // is sent.
  std::vector<Group> groups;
  for (size_t i = 0; i < files.size(); ++i) {
    DcmObj obj;
    if (std::string why; !obj.Read(files[i], &why, DcmObj::LargeValues::kLeftInFile)) {
      WriteLog("ERROR, StoreFiles, cannot read DICOM file " + files[i]);
      sender.Report(i, false, kFileNotRead, "", why);
      continue;
    }
    audit.Planned(i, obj);
    if (client)
      web.push_back(WebFile{i, obj.GetString(0x0008, 0x0018), obj.transferSyntax, SizeOnDisk(files[i])});
    else
      GroupFor(groups, obj.GetString(0x0008, 0x0016), obj.transferSyntax).members.push_back(i);
  }
  audit.Begin();
  if (client) {
    SendOverWeb(*client, files, web, target.web.instancesPerRequest, sender);
    audit.End();
    return sender.stored();
  }
  std::vector<Group> moved;
  sender.Send(groups, true, &moved);
  sender.Send(moved, false, nullptr);
  audit.End();
  return sender.stored();
}
