#include "platform/diagnostic_log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>

#include "platform/environment.h"

namespace quil::platform {

namespace {

constexpr const char* kLevelNames[] = {"off", "error", "warning", "info", "debug"};

std::atomic<int> g_level{-1};  // -1: not set yet, QUIL_LOG decides

bool NeedsQuotes(const std::string& value) {
  if (value.empty()) return true;
  for (char c : value)
    if (c == ' ' || c == '"' || c == '=' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return true;
  return false;
}

std::string Quoted(const std::string& value) {
  if (!NeedsQuotes(value)) return value;
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
  }
  out.push_back('"');
  return out;
}

std::string UtcNow() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t seconds = system_clock::to_time_t(now);
  auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
#ifdef _WIN32
  gmtime_s(&tm, &seconds);
#else
  gmtime_r(&seconds, &tm);
#endif
  char text[64];  // wide enough for any field values, so nothing is cut
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(millis));
  return text;
}

}  // namespace

std::optional<LogLevel> ParseLogLevel(const std::string& text) {
  for (int i = 0; i < static_cast<int>(std::size(kLevelNames)); ++i)
    if (text == kLevelNames[i]) return static_cast<LogLevel>(i);
  return std::nullopt;
}

const char* LogLevelName(LogLevel level) { return kLevelNames[static_cast<int>(level)]; }

LogLevel CurrentLogLevel() {
  int level = g_level.load();
  if (level >= 0) return static_cast<LogLevel>(level);
  return ParseLogLevel(GetEnv("QUIL_LOG")).value_or(LogLevel::kError);
}

void SetLogLevel(LogLevel level) { g_level = static_cast<int>(level); }

std::string FormatLogLine(const LogRecord& record, const std::string& time) {
  std::string line = time;
  line += " level=" + std::string(LogLevelName(record.level));
  line += " layer=" + Quoted(record.layer);
  line += " operation=" + Quoted(record.operation);
  line += " result=" + Quoted(record.result);
  line += " reason=" + Quoted(record.reason);
  return line;
}

void WriteLog(const LogRecord& record) {
  if (record.level == LogLevel::kOff || static_cast<int>(record.level) > static_cast<int>(CurrentLogLevel())) return;
  WriteLogRecord(record, FormatLogLine(record, UtcNow()));
}

}  // namespace quil::platform
