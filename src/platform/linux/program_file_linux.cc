#include "platform/program_file.h"

#include <elf.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "platform/linux/run_program.h"

namespace quil::platform {
namespace {

// The first bytes of a file; fewer when it is shorter.
std::string ReadHead(const std::string& path, size_t n) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(n, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(n));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

bool Inside(std::uint64_t offset, std::uint64_t count, std::uint64_t entry, std::uint64_t size) {
  if (entry != 0 && count > (UINT64_MAX - offset) / entry) return false;
  return offset + count * entry <= size;
}

// Checks the headers of one ELF class against the file's size.
template <typename Ehdr, typename Phdr, typename Shdr>
bool WholeElf(const std::string& path, std::uint64_t size, std::uint16_t machine) {
  std::string head = ReadHead(path, sizeof(Ehdr));
  if (head.size() < sizeof(Ehdr)) return false;
  Ehdr eh;
  std::memcpy(&eh, head.data(), sizeof eh);
  if (eh.e_machine != machine || eh.e_version != EV_CURRENT) return false;
  if (eh.e_type != ET_EXEC && eh.e_type != ET_DYN) return false;
  if (eh.e_phnum == 0 || eh.e_phentsize != sizeof(Phdr)) return false;
  if (!Inside(eh.e_phoff, eh.e_phnum, sizeof(Phdr), size)) return false;
  if (eh.e_shnum != 0 && (eh.e_shentsize != sizeof(Shdr) || !Inside(eh.e_shoff, eh.e_shnum, sizeof(Shdr), size)))
    return false;
  std::string table = ReadHead(path, eh.e_phoff + eh.e_phnum * sizeof(Phdr));
  if (table.size() < eh.e_phoff + eh.e_phnum * sizeof(Phdr)) return false;
  for (std::uint16_t i = 0; i < eh.e_phnum; ++i) {
    Phdr ph;
    std::memcpy(&ph, table.data() + eh.e_phoff + i * sizeof(Phdr), sizeof ph);
    if (ph.p_type == PT_LOAD && !Inside(ph.p_offset, ph.p_filesz, 1, size)) return false;
  }
  return true;
}

}  // namespace

bool IsProgramForThisMachine(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::string mine = ReadHead("/proc/self/exe", sizeof(Elf64_Ehdr));
  std::string theirs = ReadHead(path, EI_NIDENT);
  if (mine.size() < sizeof(Elf32_Ehdr) || theirs.size() < EI_NIDENT) return false;
  if (std::memcmp(theirs.data(), ELFMAG, SELFMAG) != 0) return false;
  if (theirs[EI_CLASS] != mine[EI_CLASS] || theirs[EI_DATA] != mine[EI_DATA]) return false;
  auto size = static_cast<std::uint64_t>(st.st_size);
  if (mine[EI_CLASS] == ELFCLASS64) {
    Elf64_Ehdr self;
    std::memcpy(&self, mine.data(), sizeof self);
    return WholeElf<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr>(path, size, self.e_machine);
  }
  Elf32_Ehdr self;
  std::memcpy(&self, mine.data(), sizeof self);
  return WholeElf<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(path, size, self.e_machine);
}

int SetProgramMode(const std::string& path, unsigned mode) {
  return chmod(path.c_str(), static_cast<mode_t>(mode)) == 0 ? 0 : errno;
}

std::optional<std::string> ProgramVersionOutput(const std::string& path, std::chrono::milliseconds limit) {
  auto ran = RunProgram(path, {"--version"}, limit);
  if (!ran || ran->exit_status != 0) return std::nullopt;
  return std::move(ran->out);
}

}  // namespace quil::platform
