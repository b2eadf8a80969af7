#pragma once
// What the machine knows of its own network address.
#include <string>

namespace quil::platform {

// The last IPv4 address the machine's own host name resolves to, as text;
// "" when there is none.
std::string HostIPv4Address();

}  // namespace quil::platform
