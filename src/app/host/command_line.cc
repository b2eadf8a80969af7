#include "app/host/command_line.h"

#include <cstdlib>

namespace quil::host {

std::optional<Options> ParseCommandLine(const std::vector<std::string>& args, std::string* error) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--no-browser") {
      o.open_browser = false;
    } else if (a == "--demo") {
      o.demo = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--port" && i + 1 < args.size()) {
      char* end = nullptr;
      long port = std::strtol(args[++i].c_str(), &end, 10);
      if (*end != '\0' || port < 1 || port > 65535) {
        *error = "--port takes a number from 1 to 65535";
        return std::nullopt;
      }
      o.port = static_cast<int>(port);
    } else {
      *error = "unknown option: " + a;
      return std::nullopt;
    }
  }
  return o;
}

const char* UsageText() {
  return "usage: quil [--demo] [--port N] [--no-browser]\n"
         "       quil reg query|add|delete KEY ...   (quil reg /? for more)\n"
         "  --demo        start the demo certificate proxy on loopback and use it\n"
         "  --port N      serve the page on 127.0.0.1:N (default: a free port)\n"
         "  --no-browser  print the page address and open no window\n";
}

}  // namespace quil::host
