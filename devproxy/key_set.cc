#include "devproxy/key_set.h"

#include <filesystem>

#include "devproxy/crypto.h"
#include "devproxy/data_file.h"

namespace quil::devproxy {

bool CopyKeySet(const std::string& key_set, const std::string& data_dir, std::string* error) {
  namespace fs = std::filesystem;
  struct Item {
    const char* name;  // in the key set
    const char* key;   // in the data folder
    const char* cert;  // made with the key; nullptr: none
  };
  static constexpr Item kItems[] = {
      {"envelope.key", "envelope.key", nullptr},
      {"root.key", "ca/root.key", "ca/root.crt"},
      {"issuing.key", "ca/issuing-0.key", "ca/issuing-0.crt"},
      {"tls.key", "ca/tls.key", "ca/tls.crt"},
  };
  std::error_code ec;
  fs::create_directories(data_dir + "/ca", ec);
  for (const Item& item : kItems) {
    std::string key = data_dir + "/" + item.key;
    if (fs::exists(key) || (item.cert && fs::exists(data_dir + "/" + item.cert))) continue;
    std::string from = key_set + "/" + item.name;
    std::string pem = ReadDataFile(from);
    if (!LoadPrivateKeyPem(pem)) {
      *error = "no private key in " + from;
      return false;
    }
    if (!WriteDataFile(key, pem, 0600)) {
      *error = "cannot write " + key;
      return false;
    }
  }
  return true;
}

}  // namespace quil::devproxy
