#pragma once
// Low-level file primitives shared by the whole-file helpers, the PKCS#12
// writer and copyFile. Paths are wide (UTF-8). A file is never truncated in
// place: new content goes to a temporary file in the same folder, which is
// synced and then renamed over the target.
#include <string>
#include <string_view>

namespace quil {

// Replaces (or creates) `path` with `bytes`, created with `mode`. The folder
// must exist. Returns 0, or the errno of the step that failed; on failure
// the target is unchanged and no temporary file is left.
int WriteFileAtomically(const std::string& path, std::string_view bytes, unsigned mode = 0600);

// Copies `src` over `dst`, replacing an existing destination atomically.
// Returns 0, or the error number the page tells apart: 2 the source does
// not exist, 3 the destination folder does not exist, 5 access denied;
// other failures give their errno.
int CopyFileReplacing(const std::string& src, const std::string& dst);

}  // namespace quil
