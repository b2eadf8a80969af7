#include "app/host/command_line.h"

#include <cstdlib>

#include "base/client_version.h"

namespace quil::host {

std::optional<Options> ParseCommandLine(const std::vector<std::string>& args, std::string* error) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--no-browser") {
      o.open_browser = false;
    } else if (a == "--demo") {
      o.demo = true;
    } else if (a == "--check-expiry") {
      o.check_expiry = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--log" && i + 1 < args.size()) {
      o.log_level = platform::ParseLogLevel(args[++i]);
      if (!o.log_level) {
        *error = "--log takes off, error, warning, info or debug";
        return std::nullopt;
      }
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
  if (o.check_expiry && (o.demo || o.port != 0 || !o.open_browser)) {
    *error = "--check-expiry takes no other option";
    return std::nullopt;
  }
  return o;
}

std::vector<std::string> SuccessorArgs(const std::vector<std::string>& args, int port) {
  std::vector<std::string> out = args;
  for (const auto& a : args)
    if (a == "--port") return out;
  out.push_back("--port");
  out.push_back(std::to_string(port));
  return out;
}

const char* UsageText() {
  return "usage: quil [--demo] [--port N] [--no-browser] [--log LEVEL]\n"
         "       quil reg query|add|delete KEY ...   (quil reg /? for more)\n"
         "       quil --check-expiry [--log LEVEL]\n"
         "       quil --help | --version\n"
         "\n"
         "The desktop certificate manager for the customers of the broker: apply for,\n"
         "save, renew, download, revoke, back up and import the trading certificate.\n"
         "\n"
         "Options:\n"
         "  --demo          start the demo certificate proxy on loopback and use it\n"
         "  --port N        serve the page on 127.0.0.1:N (default: a free port)\n"
         "  --no-browser    print the page address and open no window\n"
         "  --check-expiry  show a desktop notification for a held certificate that\n"
         "                  ends within 28, 14, 7, 3 or 1 days or has ended, once per\n"
         "                  stage, then end (run daily by quil-expiry.timer)\n"
         "  --log LEVEL     what goes to the diagnostic log: off, error (default),\n"
         "                  warning, info or debug; over QUIL_LOG. The log goes to\n"
         "                  the systemd journal (journalctl -t quil), else to\n"
         "                  standard error, and never holds a password or key\n"
         "  -h, --help      show this text\n"
         "  --version       show the version\n"
         "\n"
         "Environment (over the configuration files, setting by setting):\n"
         "  QUIL_PROXY_URL     base URL of the certificate proxy (.../PELIProxy/proxy/)\n"
         "  QUIL_PROXY_PUBKEY  path of the proxy's RSA public key (PEM)\n"
         "  QUIL_PROXY_CA      CA bundle trusted in addition to the system's\n"
         "  QUIL_TLS_INSECURE  1 accepts any server certificate (closed test networks only)\n"
         "  QUIL_BRIDGE_URL    the operator's bridge page\n"
         "  QUIL_IP_SERVICES   the two public address services, comma-separated\n"
         "  QUIL_LOG           the diagnostic log's level when --log is not given\n"
         "  XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_STATE_HOME move the files below\n"
         "\n"
         "Files:\n"
         "  /etc/quil/quil.conf            the installation's settings (NAME=value, the\n"
         "                                 names above but QUIL_TLS_INSECURE)\n"
         "  ~/.config/quil/quil.conf       the user's settings, over the installation's\n"
         "  ~/.config/quil/registry.db     settings, remembered login, held certificates\n"
         "  ~/.local/share/quil/           certificate stores and key containers\n"
         "  ~/.local/state/quil/           window profile, demo proxy data\n"
         "\n"
         "See quil(1).\n";
}

std::string VersionText() { return ProgramVersionLine() + "\n"; }

}  // namespace quil::host
