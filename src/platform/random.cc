#include "platform/random.h"

namespace quil::platform {

std::optional<std::uint32_t> SecureRandomUint32() {
  std::uint32_t v;
  if (!SecureRandomBytes(&v, sizeof v)) return std::nullopt;
  return v;
}

}  // namespace quil::platform
