#pragma once
// Narrow text inside the program is code page 950 (Big5); wide text, at the
// page and file-system edges, is UTF-8 on this platform.
#include <string>
#include <string_view>

namespace quil::platform {

// UTF-8 to code page 950. Characters that code page 950 cannot hold, and
// malformed UTF-8, become "?" (as the Windows conversion does).
std::string ToNarrow(std::string_view wide);

// Code page 950 to UTF-8. Bytes that do not decode become "?".
std::string ToWide(std::string_view narrow);

}  // namespace quil::platform
