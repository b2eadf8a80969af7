#pragma once
// Whole-file reads and writes for the demo proxy's data folder.
#include <string>

namespace quil::devproxy {

// The whole file, or empty when it cannot be read.
std::string ReadDataFile(const std::string& path);

// Replaces `path` with `bytes`. The file is created with `mode` before any
// byte is written (a private key is never readable by others, not even for
// a moment) under a unique name beside the target, then renamed over it.
// False on any failure; the target is then unchanged and no temporary file
// is left.
bool WriteDataFile(const std::string& path, const std::string& bytes, unsigned mode);

}  // namespace quil::devproxy
