#pragma once
// Shared pieces of scrivara-cli's commands: option parsing, the study keys, the network keys and
// the one way a command fails (a message on stderr, the same line in the diagnostic log, exit 1).
//
// Exit statuses: 0 done, 1 failed, 2 wrong usage (an unknown command or option, a missing value or
// argument, a bad study key), 3 partly done (some objects stored, some not).
#include <map>
#include <string>
#include <vector>

#include "net/dimse.h"
#include "query/studyinfo.h"

namespace cli {

inline constexpr int kExitFailed = 1, kExitUsage = 2, kExitPartly = 3;

// Prints "scrivara-cli: message" on stderr, logs it as an ERROR line and returns 1.
int Fail(const std::string& message);
// A value the command cannot take: prints "scrivara-cli: message" on stderr and returns 2.
int Misused(const std::string& message);
// "what: why", the why in the words of the first ERROR line logged since ClearLoggedError ("what"
// alone when there is none).
std::string Because(const std::string& what);

// Options "--name value" and switches "--name", and the positional arguments. `error` names the
// first option the command does not take or that lacks its value.
struct Args {
  std::map<std::string, std::string> opt;
  std::vector<std::string> pos;
  bool help = false;
  std::string error;
  // --help asked for, or the command line is wrong: the command prints its usage (Usage).
  bool NeedsUsage() const { return help || !error.empty(); }
};

// Takes the options in `values` (each with a value) and the `switches`; "-h" and "--help" ask for
// the usage; "-" and anything else not starting with "-" is positional.
Args Parse(int argc, char** argv, int first, const std::vector<std::string>& values,
           const std::vector<std::string>& switches);
std::string Opt(const Args& a, const std::string& name, const std::string& def);

// Prints a command's usage: on stdout with exit 0 for --help, otherwise on stderr after the
// parsing error (if any), with exit 2.
int Usage(const Args& a, const char* text);

// The typed study keys checked against their value representations (a real date, sex M, F or O,
// the length limits, the UID syntax): "" when all are good, else each bad one named.
std::string StudyKeysProblem(const Args& a);

// True for a calendar date written "yyyymmdd".
bool ValidDate(const std::string& d);

// An option's text as UTF-8: the shell's UTF-8 as given, bytes that are not UTF-8 taken as cp1252.
std::string ArgText(const Args& a, const std::string& name, const std::string& def = "");

// The study of a document command, as the window fills it: from the worklist item with the
// accession number of --worklist (on the day of --date, today by default) or the PACS study of
// --study, bytes and character set as the server sent them; otherwise from the typed study keys
// (--patient-name, --patient-id, ...) by the typed character-set rule. False with a message when
// name or ID is missing, or when the search fails or finds no single match.
bool StudyFromArgs(const Args& a, StudyInfo& study, std::string& error);

// --aet --aec --host --port, defaulting to the PACS (or the worklist server) of scrivara.cfg.
// Where --aet, --aec, --host and --port point, each defaulting to the configuration's PACS (or
// worklist server), with the given read time-out.
AssociationTarget TargetFromArgs(const Args& a, bool worklist, uint32_t timeoutSeconds);

}  // namespace cli
