#include "app/cli/cli_query.h"

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "convert/batch.h"
#include "net/dicomweb.h"
#include "query/resultrows.h"
#include "query/studyquery.h"
#include "query/worklistquery.h"

namespace cli {
namespace {

const char kFindUsage[] =
    "usage: scrivara-cli find [--name N] [--id I] [--description D] [--date YYYYMMDD] [--modality M]\n"
    "                         [--aet A] [--aec A] [--host H] [--port P] [TLS options]\n"
    "  C-FIND (study root, STUDY level) to the PACS of scrivara.cfg.\n";
const char kWorklistUsage[] =
    "usage: scrivara-cli worklist [--name N] [--id I] [--description D] [--date YYYYMMDD] [--modality M]\n"
    "                             [--aet A] [--aec A] [--host H] [--port P] [TLS options]\n"
    "  Modality Worklist C-FIND to the worklist server of scrivara.cfg; --description matches the\n"
    "  Requested Procedure Description, --date the Scheduled Procedure Step Start Date.\n";
const char kKeysHelp[] =
    "  Keys are sent as typed, as the main window sends them: add wildcards yourself (--name 'Smi*').\n"
    "  --date is one day and defaults to today, like the window's Study Date picker.\n"
    "  --modality is one of US CR CT MR DX XA ES OT BMD SC PX NM MG, or ALL (the default: no key).\n"
    "  Output: one line per result, sorted by name, UTF-8, the columns separated by tabs:\n"
    "  Name, ID, Sex, Birth Date (display form), Study Description, Accession N., Study Instance UID.\n"
    "  No match: exit 0 and no output (a note on stderr when stdout is a terminal).\n"
    "  Failure (no association, no readable answer, a failure status): a message saying why, exit 1;\n"
    "  an unknown option or a bad key: exit 2.\n";

// The window's search fields from the options; false (after the message) for a bad key.
bool FieldsFromArgs(const Args& a, QueryFields& f, int& rc) {
  f.PatientName = ArgText(a, "name");
  f.PatientID = ArgText(a, "id");
  f.StudyDescription = ArgText(a, "description");
  f.StudyDate = Opt(a, "date", NowDA());
  if (!ValidDate(f.StudyDate)) {
    rc = Misused("bad date " + f.StudyDate + " (expected YYYYMMDD)");
    return false;
  }
  const std::string m = Opt(a, "modality", "ALL");
  f.ModalityIndex = m == "ALL" ? -1 : QueryModalityIndex(m);
  if (m != "ALL" && f.ModalityIndex < 0) {
    rc = Misused("unknown modality " + m + " (US CR CT MR DX XA ES OT BMD SC PX NM MG or ALL)");
    return false;
  }
  return true;
}

// One output line: the cells in UTF-8, tabs and line breaks inside a value turned into spaces so
// that each result stays one line of seven columns.
void PrintRow(const ResultRow& row) {
  std::string line;
  for (int c = 0; c < kResultColumns; ++c) {
    if (c) line += '\t';
    std::string cell = row[size_t(c)];
    for (char& ch : cell)
      if (ch == '\t' || ch == '\n' || ch == '\r') ch = ' ';
    line += cell;
  }
  line += '\n';
  std::fputs(line.c_str(), stdout);
}

// Prints the rows sorted as the grid sorts them and turns the outcome into the exit status.
int Report(std::vector<ResultRow>& rows, const SearchOutcome& end, const AssociationTarget& n, const char* what) {
  const std::string peer = TargetName(n);
  if (n.web.enabled && end.status == -1)
    return Fail("the QIDO-RS search on " + peer + " failed: " + end.problem);
  if (!end.connected) return Fail("no association with " + peer + ": " + (end.problem.empty() ? "refused or unreachable" : end.problem));
  if (!end.sent) return Fail("the C-FIND request could not be sent to " + peer);
  const bool failedStatus = end.status != 0 && end.status != -1;
  // A final failure status comes with one row made from its (normally empty) identifier: not a match.
  if (failedStatus && !rows.empty()) rows.pop_back();
  std::setlocale(LC_COLLATE, "");
  SortResultRows(rows);
  for (const auto& r : rows) PrintRow(r);
  std::fflush(stdout);
  const std::string got = " (" + std::to_string(rows.size()) + " result(s) printed)";
  if (end.status == -1) return Fail("no readable C-FIND response from " + peer + got);
  if (failedStatus) {
    char status[16];
    std::snprintf(status, sizeof status, "%04X", unsigned(end.status) & 0xFFFFu);
    return Fail(peer + " answered C-FIND status " + status + "H" + got);
  }
  if (rows.empty() && isatty(STDOUT_FILENO)) std::fprintf(stderr, "scrivara-cli: no matching %s\n", what);
  return 0;
}

}  // namespace

namespace {

// One search command: its help, its keys, the search, the report.
template <class Search, class Row>
int RunSearch(const Args& a, const char* usage, bool worklist, const char* what, Search search, Row toRow) {
  if (a.NeedsUsage() || !a.pos.empty()) return Usage(a, (std::string(usage) + kKeysHelp).c_str());
  QueryFields f;
  int rc = 0;
  if (!FieldsFromArgs(a, f, rc)) return rc;
  const AssociationTarget n = TargetFromArgs(a, worklist, kQueryTimeout);
  std::vector<ResultRow> rows;
  SearchOutcome end;
  search(f, n, [&](const auto& record) { rows.push_back(toRow(record)); }, {}, &end);
  return Report(rows, end, n, what);
}

}  // namespace

int CmdFind(const Args& a) {
  return RunSearch(a, kFindUsage, false, "studies", SearchStudies, StudyResultRow);
}

int CmdWorklist(const Args& a) {
  return RunSearch(a, kWorklistUsage, true, "worklist entries", SearchWorklist, WorklistResultRow);
}

}  // namespace cli
