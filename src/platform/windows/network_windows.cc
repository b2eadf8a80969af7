#include "platform/network.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

namespace quil::platform {

std::string HostIPv4Address() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    WSADATA data;
    ready = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  if (!ready) return {};
  char name[256] = {};
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

}  // namespace quil::platform
