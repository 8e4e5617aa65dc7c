#pragma once
// Basic Text SR documents: the building blocks of SR content and the report document itself
// (a root CONTAINER "Radiology Report" holding the observer's name and one TEXT item with the report).
#include <cstdint>
#include <string>
#include <string_view>

#include "convert/batch.h"
#include "core/dcmobj.h"
#include "query/studyinfo.h"

inline constexpr const char kBasicTextSRStorage[] = "1.2.840.10008.5.1.4.1.1.88.11";

// The data set of an SR document; everything in it is ordinary data set content.
class DcmSRObj : public DcmObj {};

// 1 "IS ROOT", 2 "CONTAINS", 3 "HAS OBS CONTEXT"; any other code "".
std::string RelationshipTypeName(int code);
// 1 "TEXT", 8 "PNAME", 11 "COMPOSITE"; any other code "".
std::string ValueTypeName(int code);

// Places into target, in tag order, the sequence (group, element) holding one item: Code Value,
// Coding Scheme Designator "BRELVANDO", Code Meaning and Coding Scheme UID: the organisation root + ".5".
void AddConceptCode(DcmObj& target, uint16_t group, uint16_t element, const std::string& codeValue,
                    const std::string& codeMeaning);

// Empties sr and starts the document: Explicit VR Little Endian, creation date and time, SOP class
// and instance, Modality "SR", an empty Manufacturer, study/series UIDs, Study ID, series and
// instance numbers, Value Type "CONTAINER", the title as concept name (code "1111") and Continuity
// Of Content "SEPARATE".
void StartSRDocument(DcmSRObj& sr, const std::string& studyUID, const std::string& seriesUID,
                     const std::string& sopInstanceUID, const std::string& title, const std::string& studyID,
                     int32_t seriesNumber, int32_t instanceNumber);

// Appends to contentList (a data set collecting sequence items) one content item: Relationship
// Type, Value Type, the concept name, and the value as Text Value (value type 1) or Person Name
// (value type 8); other value types carry no value element. sr supplies the encoding flags.
void AddContentItem(const DcmSRObj& sr, DcmObj& contentList, const std::string& codeValue,
                    const std::string& codeMeaning, const std::string& value, int valueType, int relationshipType);

// The text as a report's value may hold it: line breaks kept, tabs set out as spaces to the next
// of every eighth column, other control characters dropped.
std::string TextForReport(std::string_view text);

// Assembles the whole report document for the study: the observer's name item and one TEXT item
// holding reportText (UTF-8, line breaks included, as TextForReport makes it) whatever its length. The study's values keep their
// bytes and set, and the report and observer's name are written in that set; a study without a set
// declares none unless the report needs one. When the study's set cannot hold the report, the
// document declares the set the typed rule picks for all its text (ISO_IR 100 or ISO_IR 192).
void FillTextReport(DcmSRObj& sr, const std::string& seriesUID, const std::string& sopInstanceUID,
                    const StudyInfo& study, const std::string& observerName, const std::string& reportText);

// What the report editor's Send builds: takes the next instance number from counter, sets
// batch.SOPClassUID and batch.SOPInstanceUID = BaseUID + ".1." + number, and fills the report with
// batch.SeriesUID, observer "Observer" and reportText (UTF-8). Series Number 0, Instance Number 1.
void BuildTextReport(DcmSRObj& sr, const std::string& reportText, const StudyInfo& study, ConversionBatch& batch,
                     int32_t& counter);

// BuildTextReport, then saves the document as a DICOM file named by BatchFileName (written under a
// temporary name and renamed when complete) and appends its path to batch.TempFiles. Returns the
// path, or "" on failure (logged).
std::string BuildTextReportObject(const std::string& reportText, const StudyInfo& study, ConversionBatch& batch,
                                  int32_t& counter);
