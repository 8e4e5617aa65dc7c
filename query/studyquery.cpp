#include "query/studyquery.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

#include "core/audit.h"
#include "core/charset.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "net/dicomweb.h"
#include "net/dimse.h"
#include "net/pdu_service.h"
#include "query/findscu.h"
#include "query/readvalues.h"

namespace {

constexpr KeyUse kLevel = KeyUse::Level;
constexpr KeyUse kRead = KeyUse::Read;
constexpr KeyUse kOptional = KeyUse::Optional;

// The keys of each level in ascending tag order, what is sent and what a row takes from a response.
const TextKey<StudyInfo> kStudyKeys[] = {
    {0x0008, 0x0005, &StudyInfo::SpecificCharacterSet, kOptional},
    {0x0008, 0x0020, &StudyInfo::StudyDate},
    {0x0008, 0x0030, &StudyInfo::StudyTime},
    {0x0008, 0x0050, &StudyInfo::AccessionNumber},
    {0x0008, 0x0052, nullptr, kLevel},
    {0x0008, 0x0060, &StudyInfo::ModalitiesInStudy, kRead},
    {0x0008, 0x0061, &StudyInfo::ModalitiesInStudy},
    {0x0008, 0x0080, &StudyInfo::InstitutionName},
    {0x0008, 0x0090, &StudyInfo::ReferringPhysicianName},
    {0x0008, 0x1030, &StudyInfo::StudyDescription},
    {0x0008, 0x1070, &StudyInfo::OperatorsName, kRead},
    {0x0010, 0x0010, &StudyInfo::PatientName},
    {0x0010, 0x0020, &StudyInfo::PatientID},
    {0x0010, 0x0030, &StudyInfo::PatientBirthDate},
    {0x0010, 0x0040, &StudyInfo::PatientSex},
    {0x0010, 0x1010, &StudyInfo::PatientAge, kRead},
    {0x0010, 0x1030, &StudyInfo::PatientWeight, kRead},
    {0x0010, 0x4000, &StudyInfo::PatientComments},
    {0x0020, 0x000D, &StudyInfo::StudyInstanceUID},
    {0x0020, 0x0010, &StudyInfo::StudyID, kRead},
};

const TextKey<SeriesInfo> kSeriesKeys[] = {
    {0x0008, 0x0021, &SeriesInfo::SeriesDate},
    {0x0008, 0x0031, &SeriesInfo::SeriesTime},
    {0x0008, 0x0052, nullptr, kLevel},
    {0x0008, 0x0060, &SeriesInfo::Modality},
    {0x0008, 0x0080, &SeriesInfo::InstitutionName},
    {0x0008, 0x103E, &SeriesInfo::SeriesDescription},
    {0x0008, 0x1070, &SeriesInfo::OperatorsName},
    {0x0018, 0x0015, &SeriesInfo::BodyPartExamined},
    {0x0018, 0x1030, &SeriesInfo::ProtocolName},
    {0x0018, 0x5100, &SeriesInfo::PatientPosition},
    {0x0020, 0x000D, &SeriesInfo::StudyInstanceUID},
    {0x0020, 0x000E, &SeriesInfo::SeriesInstanceUID},
    {0x0020, 0x0011, &SeriesInfo::SeriesNumber},
    {0x0020, 0x0052, &SeriesInfo::FrameOfReferenceUID, kRead},
};

// Sent only: an image row is read with its own conversions (ReadImageInfo).
const TextKey<ImageInfo> kImageKeys[] = {
    {0x0008, 0x0008, &ImageInfo::ImageType},
    {0x0008, 0x0016, &ImageInfo::SOPClassUID},
    {0x0008, 0x0018, &ImageInfo::SOPInstanceUID},
    {0x0008, 0x0022, &ImageInfo::AcquisitionDate},
    {0x0008, 0x0023, &ImageInfo::ContentDate},
    {0x0008, 0x0032, &ImageInfo::AcquisitionTime},
    {0x0008, 0x0033, &ImageInfo::ContentTime},
    {0x0008, 0x0052, nullptr, kLevel},
    {0x0020, 0x000D, &ImageInfo::StudyInstanceUID},
    {0x0020, 0x000E, &ImageInfo::SeriesInstanceUID},
    {0x0020, 0x0012, &ImageInfo::AcquisitionNumber},
    {0x0020, 0x0013, &ImageInfo::InstanceNumber},
    {0x0020, 0x0032, &ImageInfo::ImagePositionPatient},
    {0x0020, 0x0037, &ImageInfo::ImageOrientationPatient},
    {0x0020, 0x1041, &ImageInfo::SliceLocation},
    {0x0028, 0x0008, &ImageInfo::NumberOfFrames},
};

// A received text cut to its limit; the message (when there is one) names the full text.
void Limit(std::string& text, size_t limit, const char* message) {
  if (text.size() <= limit) return;
  if (message) WriteLog(message + text);
  text.resize(limit);
}

}  // namespace

void MakeStudyIdentifier(const StudyInfo& record, DcmObj& identifier) {
  AddKeys(kStudyKeys, record, identifier, "STUDY");
}

void MakeSeriesIdentifier(const SeriesInfo& record, DcmObj& identifier) {
  AddKeys(kSeriesKeys, record, identifier, "SERIES");
}

void MakeImageIdentifier(const ImageInfo& record, DcmObj& identifier) {
  AddKeys(kImageKeys, record, identifier, "IMAGE");
}

void ReadStudyInfo(StudyInfo& r, const DcmObj& identifier) {
  ForEachOwnElement(identifier, [&r](const DcmTag& t) { ReadKey(kStudyKeys, t, r); });
  Limit(r.AccessionNumber, 16, "ERROR, Accession number length>16, ");
  Limit(r.InstitutionName, 64, "ERROR, InstitutionName length>64, ");
  Limit(r.StudyDescription, 64, "ERROR, StudyDescription length>64, ");
  Limit(r.OperatorsName, 64, "ERROR, Operators Name length>64, ");
  Limit(r.PatientName, 64, "ERROR, PatientName length>64, ");
  Limit(r.StudyID, 16, nullptr);
}

void ReadSeriesInfo(SeriesInfo& r, const DcmObj& identifier) {
  ForEachOwnElement(identifier, [&r](const DcmTag& t) { ReadKey(kSeriesKeys, t, r); });
}

namespace {
// A 16-bit integer from its decimal text; text that is no number gives 0.
uint16_t ToUS(const std::string& text) {
  long v = std::strtol(text.c_str(), nullptr, 10);
  return v < 0 || v > 0xFFFF ? 0 : static_cast<uint16_t>(v);
}
}  // namespace

void ReadImageInfo(ImageInfo& r, const DcmObj& identifier) {
  ForEachOwnElement(identifier, [&r](const DcmTag& t) {
    const uint32_t tag = (uint32_t(t.group) << 16) | t.element;
    // Number of Frames and Convolution Kernel are kept as received.
    if (tag == 0x00280008) { r.NumberOfFrames = RawText(t); return; }
    if (tag == 0x00181210) { r.ConvolutionKernel = RawText(t); return; }
    const std::string text = IsVR(t, "US") ? std::to_string(t.GetUS()) : t.GetString();
    switch (tag) {
      case 0x00080018: r.SOPInstanceUID = text; break;
      case 0x00080016: r.SOPClassUID = text; break;
      case 0x00200013: r.InstanceNumber = text; break;
      case 0x00080023: r.ContentDate = text; break;
      case 0x00080033: r.ContentTime = text; break;
      case 0x00080022: r.AcquisitionDate = text; break;
      case 0x00080032: r.AcquisitionTime = text; break;
      case 0x00200012: r.AcquisitionNumber = text; break;
      case 0x00201041: r.SliceLocation = text; break;
      case 0x00280002: r.SamplesPerPixel = ToUS(text); break;
      case 0x00280004: r.PhotometricInterpretation = text; break;
      case 0x00280010: r.Rows = ToUS(text); break;
      case 0x00280011: r.Columns = ToUS(text); break;
      case 0x00280101: r.BitsStored = ToUS(text); break;
      case 0x00080008: r.ImageType = text; break;
      case 0x00080068: r.PresentationIntentType = text; break;
      case 0x00200037: r.ImageOrientationPatient = text; break;
      case 0x00200032: r.ImagePositionPatient = text; break;
      case 0x0020000E: r.SeriesInstanceUID = text; break;
      case 0x0020000D: r.StudyInstanceUID = text; break;
      default: break;
    }
  });
}

bool WriteFindRQ(PDU_Service* pdu, FindList& records, const std::string& sopClassUID, const std::string& level) {
  if (records.empty()) {
    WriteLog("ERROR, WriteFindRQ, no query record");
    return false;
  }
  DcmObj identifier;
  const FindRecord& first = records.front();
  if (level == "STUDY" && std::holds_alternative<StudyInfo>(first))
    MakeStudyIdentifier(std::get<StudyInfo>(first), identifier);
  else if (level == "SERIES" && std::holds_alternative<SeriesInfo>(first))
    MakeSeriesIdentifier(std::get<SeriesInfo>(first), identifier);
  else if (level == "IMAGE" && std::holds_alternative<ImageInfo>(first))
    MakeImageIdentifier(std::get<ImageInfo>(first), identifier);
  else {
    WriteLog("ERROR, WriteFindRQ, no query record for level " + level);
    return false;
  }
  records.erase(records.begin());
  return CFind::WriteRQ(pdu, identifier, sopClassUID);
}

int ReadFindRSP(PDU_Service* pdu, FindList& records, const std::string& level) {
  if (!pdu) return -1;
  DcmObj identifier;
  const int status = CFind::ReadRSP(*pdu, identifier);
  if (status == -1 || status == 0) return status;
  if (level == "STUDY") {
    StudyInfo r;
    ReadStudyInfo(r, identifier);
    records.emplace_back(std::move(r));
  } else if (level == "SERIES") {
    SeriesInfo r;
    ReadSeriesInfo(r, identifier);
    records.emplace_back(std::move(r));
  } else if (level == "IMAGE") {
    ImageInfo r;
    ReadImageInfo(r, identifier);
    records.emplace_back(std::move(r));
  }
  return status;
}

StudyInfo MakeStudyQuery(const QueryFields& f) {
  StudyInfo q;
  if (!f.PatientName.empty()) q.PatientName = f.PatientName;
  if (!f.PatientID.empty()) q.PatientID = f.PatientID;
  if (!f.StudyDescription.empty()) q.StudyDescription = f.StudyDescription;
  if (!f.AccessionNumber.empty()) q.AccessionNumber = f.AccessionNumber;
  q.StudyInstanceUID = f.StudyInstanceUID;
  if (f.StudyInstanceUID.empty()) q.StudyDate = f.StudyDate + "-" + f.StudyDate;
  q.ModalitiesInStudy = QueryModality(f.ModalityIndex);
  q.SpecificCharacterSet = EncodeTypedTexts({&q.PatientName, &q.PatientID, &q.StudyDescription, &q.AccessionNumber});
  return q;
}

namespace {

constexpr size_t kQidoPage = 100;             // studies asked for per request
constexpr size_t kMaxQidoAnswer = size_t(32) << 20;

std::string HexTag(uint16_t group, uint16_t element) {
  char text[9];
  std::snprintf(text, sizeof text, "%04X%04X", group, element);
  return text;
}

// The QIDO-RS query of the search fields (UTF-8, as typed), without paging.
std::string QidoQuery(const QueryFields& f) {
  std::string q;
  auto add = [&q](const char* key, const std::string& value) {
    if (value.empty()) return;
    q += (q.empty() ? "" : "&") + std::string(key) + "=" + HttpClient::Escape(value);
  };
  add("PatientName", f.PatientName);
  add("PatientID", f.PatientID);
  add("StudyDescription", f.StudyDescription);
  add("AccessionNumber", f.AccessionNumber);
  add("StudyInstanceUID", f.StudyInstanceUID);
  if (f.StudyInstanceUID.empty() && !f.StudyDate.empty()) add("StudyDate", f.StudyDate + "-" + f.StudyDate);
  add("ModalitiesInStudy", QueryModality(f.ModalityIndex));
  // One includefield per attribute: not every server splits a comma-separated list.
  for (const auto& k : kStudyKeys)
    if (k.text && !(k.group == 0x0008 && k.element == 0x0005)) add("includefield", HexTag(k.group, k.element));
  return q;
}

// The study search over QIDO-RS: the pages of a server that limits its answers are followed to the
// end (a full page, or a Warning header, asks for the next); a page with no study UID not yet seen
// ends it, whatever the server says.
int SearchStudiesWeb(const QueryFields& fields, const AssociationTarget& target, const StudyRowSink& row,
                     const PendingEventsHook& pendingEvents, SearchOutcome* outcome) {
  HttpClient client(target);
  const std::string query = QidoQuery(fields);
  SearchOutcome end;
  std::set<std::string> seen;
  int rows = 0;
  bool more = true;
  for (size_t offset = 0; more;) {
    const HttpResponse r = client.Get("studies?" + query + "&limit=" + std::to_string(kQidoPage) +
                                          "&offset=" + std::to_string(offset),
                                      "application/dicom+json", kMaxQidoAnswer);
    end.sent = true;
    if (!r.answered || (r.status != 200 && r.status != 204)) {
      end.problem = r.Summary();
      end.connected = offset > 0;
      end.status = -1;
      break;
    }
    end.connected = true;
    std::vector<std::unique_ptr<DcmObj>> page;
    if (std::string why; r.status == 200 && !r.body.empty() && !ReadDicomJson(r.body, page, why)) {
      WriteLog("ERROR, SearchStudies, " + why);
      end.problem = why;
      end.status = -1;
      break;
    }
    end.status = 0;
    size_t fresh = 0;
    for (const auto& answer : page) {
      StudyInfo record;
      ReadStudyInfo(record, *answer);
      // A study seen on an earlier page is not shown again; one without a UID cannot be told apart.
      if (!record.StudyInstanceUID.empty()) {
        if (!seen.insert(record.StudyInstanceUID).second) continue;
        ++fresh;
      }
      ++rows;
      if (row) row(record);
      if (pendingEvents) pendingEvents();
    }
    offset += page.size();
    more = fresh > 0 && (page.size() >= kQidoPage || !r.warnings.empty());
  }
  audit::Query(kStudyRootFind, std::vector<uint8_t>(query.begin(), query.end()), client.Node(), end.status == 0,
               end.status == 0 ? "" : end.problem);
  if (outcome) *outcome = end;
  return rows;
}

}  // namespace

int SearchStudies(const QueryFields& fields, const AssociationTarget& target, const StudyRowSink& row,
                  const PendingEventsHook& pendingEvents, SearchOutcome* outcome) {
  if (target.web.enabled) return SearchStudiesWeb(fields, target, row, pendingEvents, outcome);
  DcmObj identifier;
  MakeStudyIdentifier(MakeStudyQuery(fields), identifier);
  return RunFindRecords(target, kStudyRootFind, identifier, "SearchStudies", ReadStudyInfo, row, pendingEvents,
                        outcome);
}
