#include "cert/openssl_providers.h"

#include <openssl/err.h>
#include <openssl/provider.h>

#include <mutex>

#include "base/openssl_ptr.h"

namespace quil {

bool LoadOpenSslProviders(std::string* error) {
  static std::once_flag once;
  static bool ok = false;
  static std::string reason;
  // The loaded providers stay for the process's life; their handles are
  // kept so that they are still referenced when it ends.
  static OSSL_PROVIDER* handles[2] = {};
  std::call_once(once, [] {
    const char* names[2] = {"legacy", "default"};
    for (int i = 0; i < 2; ++i) {
      const char* name = names[i];
      if ((handles[i] = OSSL_PROVIDER_load(nullptr, name))) continue;
      reason = std::string("OpenSSL provider \"") + name + "\" cannot be loaded: " + ossl::TakeErrorText();
      return;
    }
    ok = true;
  });
  if (!ok && error) *error = reason;
  return ok;
}

}  // namespace quil
