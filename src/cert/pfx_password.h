#pragma once
// A PKCS#12 file under a new password. The file is opened with its current
// password the way the store opens files (platform::ImportPfx, which leaves
// the key in a new key container, as PFXImportCertStore does) and written
// again in the format the store exports (platform::ExportPfx: 3DES key bag,
// RC2-40 certificates, 2048 iterations, SHA-1 MAC), whatever format it had.
// The file is replaced atomically: after any failure, or the process
// ending at any moment, it opens with the old password or the new one.
// Passwords are narrow bytes; paths UTF-8 with "/".
#include <string>

#include "base/result_codes.h"
#include "cert/pfx_file.h"

namespace quil {

struct [[nodiscard]] PfxRewriteResult {
  // kOk; kImportPfxRefused the bytes do not open with the current password;
  // kWriteFileWriteFailed they cannot be written out again; that or
  // kWriteFileOpenFailed the file cannot be replaced (after the writer's own
  // message box).
  int code = kFailed;
  // Why the bytes did not open (kImportPfxRefused): the customer's terms,
  // and the store's own words for a log.
  PfxRefusal refusal = PfxRefusal::kNone;
  std::string reason;
};

// Re-protects `pkcs12` (the bytes of the file at `path`) with `new_password`
// and writes them over `path`. Blocks.
PfxRewriteResult RewritePfxWithPassword(const std::string& path, const std::string& pkcs12,
                                         const std::string& current_password, const std::string& new_password);

}  // namespace quil
