#include "platform/random.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <limits>

namespace quil::platform {

bool SecureRandomBytes(void* out, std::size_t size) {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(size, std::numeric_limits<ULONG>::max()));
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, p, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
    p += chunk;
    size -= chunk;
  }
  return true;
}

}  // namespace quil::platform
