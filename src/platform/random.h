#pragma once
// The system's cryptographic random generator.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace quil::platform {

// Fills `out` with `size` random bytes; false when the generator failed.
[[nodiscard]] bool SecureRandomBytes(void* out, std::size_t size);

// A 32-bit random number, or nothing when the generator failed.
std::optional<std::uint32_t> SecureRandomUint32();

}  // namespace quil::platform
