#pragma once
// Where the client finds the operator's services: compiled-in defaults
// (build_config.h, set by CMake), then the installation's configuration file
// (/etc/quil/quil.conf), then the user's ($XDG_CONFIG_HOME/quil/quil.conf),
// then the QUIL_* environment variables; a later source wins, setting by
// setting. Read afresh on every call so tests and developers can repoint a
// running process.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quil::proxy {

struct OperatorConfig {
  std::string proxy_url;    // QUIL_PROXY_URL: base ending in "/PELIProxy/proxy/"
  std::string public_key;   // QUIL_PROXY_PUBKEY: path of the proxy's PUBLIC KEY PEM
  std::string ca_bundle;    // QUIL_PROXY_CA: PEM bundle added to the system's authorities
  bool tls_insecure = false;  // QUIL_TLS_INSECURE=1 (environment only): accept any server certificate
  std::string bridge_url;   // QUIL_BRIDGE_URL: the operator's address bridge page
  std::vector<std::string> ip_services;  // QUIL_IP_SERVICES: comma-separated
};

OperatorConfig CurrentOperatorConfig();

// The configuration files in the order they are read; a missing one is
// skipped.
std::vector<std::string> OperatorConfigFiles();

// What cannot be read from the configuration files (an unreadable file, a
// line that is not a setting, an unknown name), one line each naming the
// file and line, for the operator at the start.
std::vector<std::string> OperatorConfigProblems();

// An environment: the value of a variable, nothing when it is unset.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;

// The configuration from the compiled-in defaults, `files` in order and
// then `environment`. A file holds lines "NAME=value" with the names of the
// environment variables (QUIL_TLS_INSECURE excepted), blank lines and "#"
// comments; a value may be quoted, and a relative path in it is taken from
// the file's folder. Problems are appended to `problems` when given.
OperatorConfig ResolveOperatorConfig(const std::vector<std::string>& files, const EnvironmentLookup& environment,
                                     std::vector<std::string>* problems = nullptr);

}  // namespace quil::proxy
