#pragma once
// A key set: a demo proxy's RSA keys made beforehand, one PEM file each,
// which a new data folder takes instead of making its own (four 2048-bit
// keys are most of a new folder's first start). The files:
//   envelope.key  the envelope key pair
//   root.key      the authority's root
//   issuing.key   its first issuing CA
//   tls.key       the TLS certificate of the service
// The tests' build makes one per build folder (cmake/test_keys.cmake).
#include <string>

namespace quil::devproxy {

// Copies the keys of `key_set` into the data folder `data_dir`, each only
// where the folder has neither that key nor the certificate made with it
// (a folder in use keeps its own). False and *error when a key of the set
// is missing or is no private key.
bool CopyKeySet(const std::string& key_set, const std::string& data_dir, std::string* error);

}  // namespace quil::devproxy
