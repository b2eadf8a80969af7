#pragma once
#include <string>

namespace quil {

// Loads OpenSSL's "legacy" provider (RC2 and 40-bit PKCS#12 ciphers) and
// "default" provider into the default library context, once per process.
// False with a readable reason in `error` when either cannot be loaded;
// the program cannot write or read its PKCS#12 files then. Thread-safe.
bool LoadOpenSslProviders(std::string* error);

}  // namespace quil
