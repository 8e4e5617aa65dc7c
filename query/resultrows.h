#pragma once
// The rows of the search result list, in the column order of the main window's grid, shared by
// the window and scrivara-cli so that both show a result the same way.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "query/studyinfo.h"

// Columns: Name, ID, Sex, Birth Date (display form), Study Description, Accession N.,
// Study Instance UID; texts in UTF-8, read by the record's Specific Character Set.
inline constexpr int kResultColumns = 7;
using ResultRow = std::array<std::string, kResultColumns>;

// A study row: Patient's Name, Patient ID, Patient's Sex, Patient's Birth Date through
// FormatDisplayDate (empty stays empty), Study Description, Accession Number, Study Instance UID.
ResultRow StudyResultRow(const StudyInfo& study);
// A worklist row: the same, with Requested Procedure Description as the description.
ResultRow WorklistResultRow(const TWorklistItem& item);

// Compares two UTF-8 names without regard to case, in the collation order of the user's
// locale (LC_COLLATE as set by setlocale; plain code point order under "C"). <0, 0 or >0.
int CompareNames(std::string_view a, std::string_view b);

// Orders rows by their Name column with CompareNames, ascending, by the list's exchange sort:
// for each row i, each later row whose name compares below row i's is swapped with it.
void SortResultRows(std::vector<ResultRow>& rows);
// The same order as indices into rows (rows themselves unchanged), for lists that carry more per row.
std::vector<size_t> SortedRowOrder(const std::vector<ResultRow>& rows);
