#pragma once
// Diagnostic log: one plain-text file per day (0600), each message also relayed to a viewer of the
// same user: a Unix datagram socket at $XDG_RUNTIME_DIR/<relay title>/log-relay, a folder only that
// user can enter. Without $XDG_RUNTIME_DIR nothing is relayed.
#include <atomic>
#include <functional>
#include <string>

// 0 by default, 2 when debug logging is on. INFO detail lines are written only when above 1.
extern int DebugLevel;
// Set while a write is in progress.
extern std::atomic<bool> LogBusy;

// Each non-empty argument replaces the stored value; an empty one keeps it.
void InitLog(const std::string& path, const std::string& relayTitle, const std::string& relayClass);
// Appends "HH:MM:SS, <message>" + CR LF to the log file and relays the message. Never fails.
void WriteLog(const std::string& message);
// The first "ERROR, " message this thread gave WriteLog since its last ClearLoggedError, without
// that prefix ("" when none): the reason a caller can pass on to the user in the log's own words.
void ClearLoggedError();
std::string LoggedError();
// Returns the three texts to unset; later WriteLog calls write nothing.
void CloseLog();

// A sink that sees every message WriteLog is given, whether or not a log file is set (tests
// install one to read what was logged); an empty one removes it.
using LogSink = std::function<void(const std::string& message)>;
void SetLogSink(LogSink sink);

// The stored log path ("" when unset); for tests and the start-up step.
std::string LogPath();

// Relay datagram layout: dwData (8 bytes LE, 50), cbData (4 bytes LE), cbData bytes (text + NUL).
constexpr unsigned long long kLogRelayData = 50;

// Where the relay for this title goes: $XDG_RUNTIME_DIR/<title>/log-relay; "" without
// $XDG_RUNTIME_DIR (or with a title that is no plain name).
std::string RelaySocketPath(const std::string& title);
// The text of one relay datagram; false for a datagram of another layout or size.
bool ParseRelayDatagram(const unsigned char* data, size_t size, std::string& text);
