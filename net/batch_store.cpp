#include "net/batch_store.h"

#include <utility>

#include "core/bufdata.h"
#include "core/dcmobj.h"
#include "core/log.h"

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

class Sender {
 public:
  Sender(const std::vector<std::string>& files, const AssociationTarget& target, const StoredFileSink& done)
      : files_(files), target_(target), done_(done) {}

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
    if (done_) done_(f);
  }

 private:
  const std::vector<std::string>& files_;
  const AssociationTarget& target_;
  const StoredFileSink& done_;
  size_t stored_ = 0;
};

}  // namespace

size_t StoreFiles(const std::vector<std::string>& files, const AssociationTarget& target, const StoredFileSink& done) {
  Sender sender(files, target, done);
  // The key of each file from its meta group where it has one, so that each file is read whole
  // only once, for sending; a file without one is read whole here.
  std::vector<Group> groups;
  for (size_t i = 0; i < files.size(); ++i) {
    FileMeta meta;
    if (ReadFileMeta(files[i], meta) && meta.hasSopClass) {
      GroupFor(groups, meta.sopClass, meta.transferSyntax).members.push_back(i);
      continue;
    }
    DcmObj obj;
    if (std::string why; !obj.Read(files[i], &why)) {
      WriteLog("ERROR, StoreFiles, cannot read DICOM file " + files[i]);
      sender.Report(i, false, kFileNotRead, "", why);
      continue;
    }
    GroupFor(groups, obj.GetString(0x0008, 0x0016), obj.transferSyntax).members.push_back(i);
  }
  std::vector<Group> moved;
  sender.Send(groups, true, &moved);
  sender.Send(moved, false, nullptr);
  return sender.stored();
}
