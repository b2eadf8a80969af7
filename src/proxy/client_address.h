#pragma once
#include <string>

namespace quil::proxy {

// The address under which this machine reaches the internet: the first of
// the operator's bridge page and the two public services (httpGet, no
// message on failure) that answers with something left after removing all
// but digits and dots; else the last IPv4 address of the machine's own
// host name; else "". Never fails; may block a few seconds.
std::string findClientAddress();

// Answers `address` instead of the machine's own host address ("" restores
// it).
void SetHostAddressForTesting(const std::string& address);

}  // namespace quil::proxy
