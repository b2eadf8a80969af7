#pragma once
// The standard streams of a program that another program starts and talks
// to over pipes (a browser its native messaging host): raw bytes both ways.
#include <cstddef>
#include <string>

namespace quil::platform {

// Call before the first read or write. Linux: a reader that went away
// makes a write fail instead of ending the program. Windows: no text
// translation of line ends or of a ^Z byte.
void UseRawStandardStreams();

// Reads what standard input has, up to `size` bytes, waiting for some:
// the count, 0 at its end, -1 on failure.
long ReadStandardInput(char* buffer, std::size_t size);

// Writes all of `bytes` to standard output; false when it could not.
bool WriteStandardOutput(const std::string& bytes);

}  // namespace quil::platform
