#pragma once
// The diagnostic log: one structured record per line for whoever traces a
// failure afterwards (time, level, layer, operation, result name, the
// library's reason). On Linux to the systemd journal when it takes the
// record, else standard error; on Windows to standard error when the
// program has one, else the debugger (OutputDebugString). Records never
// hold passwords, keys, tokens or session keys: callers pass names and
// library texts only. Any thread.
#include <optional>
#include <string>

namespace quil::platform {

enum class LogLevel { kOff, kError, kWarning, kInfo, kDebug };

// "off", "error", "warning", "info" or "debug"; nothing for any other text.
std::optional<LogLevel> ParseLogLevel(const std::string& text);
// The level's name as ParseLogLevel reads it.
const char* LogLevelName(LogLevel level);

// The level in force: set by SetLogLevel, else QUIL_LOG when it names a
// level, else kError.
LogLevel CurrentLogLevel();
void SetLogLevel(LogLevel level);

struct LogRecord {
  LogLevel level = LogLevel::kError;
  std::string layer;      // "cert", "proxy", "platform", ...
  std::string operation;  // the function or step that failed
  std::string result;     // the result's name (kPfxFileWrongPassword, sqlite code)
  std::string reason;     // the library's text; "" when it gave none
};

// The record as one line: "TIME level=... layer=... operation=...
// result=... reason=..." with values quoted where they need it.
std::string FormatLogLine(const LogRecord& record, const std::string& time);

// Writes the record when its level is in force.
void WriteLog(const LogRecord& record);

// The operating system's sink, called by WriteLog for a record in force
// with its formatted line.
void WriteLogRecord(const LogRecord& record, const std::string& line);

// Where the journal is looked for (tests: a socket of their own, or a path
// where there is none to see the standard error fallback).
void SetJournalSocketForTesting(const std::string& path);

}  // namespace quil::platform
