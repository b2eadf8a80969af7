#pragma once
// Files of src/pages/www compiled into the program (see
// cmake/embed_files.cmake).
#include <cstddef>
#include <string_view>

namespace quil::pages {

struct EmbeddedFile {
  const char* path;  // relative to src/pages/www, "/" separated
  const char* data;
  std::size_t size;
};

// The embedded file at `path`, or nullptr.
const EmbeddedFile* FindEmbeddedFile(std::string_view path);

}  // namespace quil::pages
