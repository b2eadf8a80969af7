#pragma once
// The options of the quil program.
#include <optional>
#include <string>
#include <vector>

#include "platform/diagnostic_log.h"

namespace quil::host {

struct Options {
  int port = 0;              // --port N; 0 picks a free port
  bool open_browser = true;  // --no-browser turns it off
  bool demo = false;         // --demo: start the demo proxy and use it
  bool check_expiry = false; // --check-expiry: remind of expiring certificates, then end
  std::optional<platform::LogLevel> log_level;  // --log LEVEL
  bool help = false;
  bool version = false;
};

// Parses argv (without argv[0]); nothing and a message on bad input.
std::optional<Options> ParseCommandLine(const std::vector<std::string>& args, std::string* error);

// The options of an update's successor: `args`, with "--port" naming the
// page's `port` unless they name one, so that it takes over this port.
std::vector<std::string> SuccessorArgs(const std::vector<std::string>& args, int port);

// --help: the options, the environment variables and the files.
const char* UsageText();

// --version: "quil " and the client version.
std::string VersionText();

}  // namespace quil::host
