#pragma once
// The options of the quil program.
#include <optional>
#include <string>
#include <vector>

namespace quil::host {

struct Options {
  int port = 0;             // --port N; 0 picks a free port
  bool open_browser = true; // --no-browser turns it off
  bool demo = false;        // --demo: start the demo proxy and use it
  bool help = false;
};

// Parses argv (without argv[0]); nothing and a message on bad input.
std::optional<Options> ParseCommandLine(const std::vector<std::string>& args, std::string* error);

const char* UsageText();

}  // namespace quil::host
