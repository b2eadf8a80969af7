#include "proxy/client_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "proxy/operator_config.h"
#include "proxy/transport.h"

namespace quil::proxy {
namespace {

std::string HostAddress() {
  char name[1024] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0) return {};
  std::string last;
  for (addrinfo* a = list; a; a = a->ai_next) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) last = text;
  }
  freeaddrinfo(list);
  return last;
}

}  // namespace

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
  return HostAddress();
}

}  // namespace quil::proxy
