#include "proxy/operator_config.h"

#include <cstdlib>

#include "base/text.h"
#include "build_config.h"
#include "platform/environment.h"

namespace quil::proxy {
namespace {

// An environment variable that is set (even to "") wins over the default.
std::string Pick(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string(fallback);
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string item = TrimSpace(std::string_view(text).substr(start, comma - start));
    if (!item.empty()) out.push_back(std::move(item));
    start = comma + 1;
  }
  return out;
}

}  // namespace

OperatorConfig CurrentOperatorConfig() {
  OperatorConfig c;
  c.proxy_url = Pick("QUIL_PROXY_URL", QUIL_DEFAULT_PROXY_URL);
  c.public_key = Pick("QUIL_PROXY_PUBKEY", QUIL_DEFAULT_PROXY_PUBKEY);
  c.ca_bundle = Pick("QUIL_PROXY_CA", QUIL_DEFAULT_PROXY_CA);
  c.tls_insecure = platform::GetEnv("QUIL_TLS_INSECURE") == "1";
  c.bridge_url = Pick("QUIL_BRIDGE_URL", QUIL_DEFAULT_BRIDGE_URL);
  c.ip_services = SplitList(Pick("QUIL_IP_SERVICES", QUIL_DEFAULT_IP_SERVICES));
  return c;
}

}  // namespace quil::proxy
