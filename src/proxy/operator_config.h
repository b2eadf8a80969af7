#pragma once
// Where the client finds the operator's services: compiled-in defaults
// (build_config.h, set by CMake) overridden by QUIL_* environment variables.
// Read afresh on every call so tests and developers can repoint a running
// process.
#include <string>
#include <vector>

namespace quil::proxy {

struct OperatorConfig {
  std::string proxy_url;    // QUIL_PROXY_URL: base ending in "/PELIProxy/proxy/"
  std::string public_key;   // QUIL_PROXY_PUBKEY: path of the proxy's PUBLIC KEY PEM
  std::string ca_bundle;    // QUIL_PROXY_CA: PEM bundle added to the system's authorities
  bool tls_insecure = false;  // QUIL_TLS_INSECURE=1: accept any server certificate
  std::string bridge_url;   // QUIL_BRIDGE_URL: the operator's address bridge page
  std::vector<std::string> ip_services;  // QUIL_IP_SERVICES: comma-separated
};

OperatorConfig CurrentOperatorConfig();

}  // namespace quil::proxy
