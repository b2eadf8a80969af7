#include "platform/program_file.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/environment.h"
#include "platform/files.h"

namespace quil::platform {
namespace {

// The first bytes of a file; fewer when it is shorter.
std::string ReadHead(const std::string& path, size_t n) {
  std::string bytes(n, '\0');
  std::FILE* f = OpenFile(path, "rb");
  if (!f) return {};
  bytes.resize(std::fread(bytes.data(), 1, n, f));
  std::fclose(f);
  return bytes;
}

template <typename T>
T At(const std::string& bytes, size_t offset) {
  T v{};
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

struct PeImage {
  WORD machine = 0;
  WORD characteristics = 0;
};

// The file header of a PE image whose headers and sections all lie inside
// its `size` bytes; nothing otherwise.
std::optional<PeImage> ReadPe(const std::string& path, std::uint64_t size) {
  std::string dos = ReadHead(path, 64);
  if (dos.size() < 64 || dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
  std::uint64_t pe = At<std::uint32_t>(dos, 0x3C);
  std::string head = ReadHead(path, static_cast<size_t>(pe + 24));
  if (head.size() < pe + 24 || std::memcmp(head.data() + pe, "PE\0\0", 4) != 0) return std::nullopt;
  IMAGE_FILE_HEADER file = At<IMAGE_FILE_HEADER>(head, static_cast<size_t>(pe + 4));
  std::uint64_t sections = pe + 24 + file.SizeOfOptionalHeader;
  std::uint64_t end = sections + std::uint64_t{file.NumberOfSections} * sizeof(IMAGE_SECTION_HEADER);
  if (file.NumberOfSections == 0 || end > size) return std::nullopt;
  std::string all = ReadHead(path, static_cast<size_t>(end));
  if (all.size() < end) return std::nullopt;
  for (WORD i = 0; i < file.NumberOfSections; ++i) {
    auto s = At<IMAGE_SECTION_HEADER>(all, static_cast<size_t>(sections + i * sizeof(IMAGE_SECTION_HEADER)));
    if (std::uint64_t{s.PointerToRawData} + s.SizeOfRawData > size) return std::nullopt;
  }
  return PeImage{file.Machine, file.Characteristics};
}

}  // namespace

bool IsProgramForThisMachine(const std::string& path) {
  PathInfo info = GetPathInfo(path);
  if (info.kind != PathKind::kFile) return false;
  std::string self = ProgramPath();
  auto mine = ReadPe(self, GetPathInfo(self).size);
  auto theirs = ReadPe(path, info.size);
  return mine && theirs && theirs->machine == mine->machine &&
         (theirs->characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) && !(theirs->characteristics & IMAGE_FILE_DLL);
}

// A file is run by its name here; there are no permission bits to give.
int SetProgramMode(const std::string&, unsigned) { return 0; }

}  // namespace quil::platform
