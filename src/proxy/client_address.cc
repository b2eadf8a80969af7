#include "proxy/client_address.h"

#include <vector>

#include "platform/network.h"
#include "proxy/operator_config.h"
#include "proxy/transport.h"

namespace quil::proxy {
namespace {

std::string& HostAddressForTesting() {
  static std::string address;
  return address;
}

}  // namespace

void SetHostAddressForTesting(const std::string& address) { HostAddressForTesting() = address; }

std::string findClientAddress() {
  OperatorConfig config = CurrentOperatorConfig();
  std::vector<std::string> sources;
  if (!config.bridge_url.empty()) sources.push_back(config.bridge_url);
  for (const auto& s : config.ip_services)
    if (sources.size() < 3) sources.push_back(s);
  for (const auto& url : sources) {
    HttpReply reply = httpGet(url);
    if (reply.result != kHttpOk) continue;
    std::string address;  // every character outside [0-9.] removed
    for (char c : reply.body)
      if ((c >= '0' && c <= '9') || c == '.') address.push_back(c);
    if (!address.empty()) return address;
  }
  return HostAddressForTesting().empty() ? platform::HostIPv4Address() : HostAddressForTesting();
}

}  // namespace quil::proxy
