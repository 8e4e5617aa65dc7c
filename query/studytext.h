#pragma once
// The one rule for the text of a study's objects: the patient and study values of every object of
// one study are the same bytes under one Specific Character Set.
//   - A study picked from a search keeps the bytes and the set the server sent.
//   - Typed text (UTF-8, from the window or the command line) is written in the smallest set that
//     holds all the study's texts: none when they are ASCII, ISO_IR 100 when Latin-1 holds them,
//     ISO_IR 192 (UTF-8) otherwise.
//   - Text added to a study whose set cannot hold it (an institution, a report) moves the whole
//     study to that rule; its texts stay the same, their bytes change.
#include <string>
#include <string_view>

#include "query/studyinfo.h"

// The field's text as UTF-8.
std::string StudyText(const StudyInfo& study, std::string StudyInfo::*field);

// Sets the field from UTF-8 text: in the study's set when it holds the text, otherwise the study is
// rewritten by the typed rule with the new text.
void SetStudyText(StudyInfo& study, std::string StudyInfo::*field, std::string_view utf8);

// Writes a study whose text fields hold UTF-8 (as typed) by the typed rule, setting its
// Specific Character Set.
void EncodeTypedStudy(StudyInfo& study);

// UTF-8 text in the study's set, for other text of its objects (a report, an observer's name); the
// study is rewritten by the typed rule first when its set cannot hold the text.
std::string EncodeForStudy(StudyInfo& study, std::string_view utf8);

// The study of a worklist row: patient, accession number, study UID, referring physician, the
// requested procedure as study description and the modality, bytes and set as the server sent them.
StudyInfo StudyFromWorklist(const TWorklistItem& item);
