// Loading shared objects at run time through the dynamic loader.
#include "platform/module.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace platform {
namespace {

using ElfHeader = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);

constexpr unsigned char kNativeClass = __ELF_NATIVE_CLASS == 64 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kNativeByteOrder =
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
#if defined(__x86_64__)
constexpr unsigned kNativeMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kNativeMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr unsigned kNativeMachine = EM_386;
#elif defined(__arm__)
constexpr unsigned kNativeMachine = EM_ARM;
#elif defined(__riscv)
constexpr unsigned kNativeMachine = EM_RISCV;
#else
constexpr unsigned kNativeMachine = EM_NONE;  // not checked
#endif
// Real shared objects have about a dozen; far more is a damaged table.
constexpr unsigned kMaxProgramHeaders = 1024;

bool read_at(int fd, std::uint64_t offset, void* out, std::size_t size) {
  auto* bytes = static_cast<char*>(out);
  while (size > 0) {
    const ssize_t n = ::pread(fd, bytes, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool inside(std::uint64_t offset, std::uint64_t length, std::uint64_t file_size) {
  return offset <= file_size && length <= file_size - offset;
}

// The problem with the ELF object in the open file of `file_size` bytes, or "".
std::string elf_problem(int fd, std::uint64_t file_size) {
  ElfHeader header{};
  if (file_size < sizeof header || !read_at(fd, 0, &header, sizeof header))
    return "too short for an ELF header";
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return "not an ELF object";
  if (header.e_ident[EI_CLASS] != kNativeClass || header.e_ident[EI_DATA] != kNativeByteOrder)
    return "ELF object of another word size or byte order";
  if (kNativeMachine != EM_NONE && header.e_machine != kNativeMachine)
    return "ELF object for another architecture";
  if (header.e_type != ET_DYN) return "not a shared object";
  if (header.e_phentsize != sizeof(ProgramHeader) || header.e_phnum == 0 ||
      header.e_phnum > kMaxProgramHeaders)
    return "damaged program header table";
  const std::uint64_t table_bytes = std::uint64_t{header.e_phnum} * sizeof(ProgramHeader);
  if (!inside(header.e_phoff, table_bytes, file_size))
    return "program headers lie past the end of the file (truncated copy?)";
  std::vector<ProgramHeader> segments(header.e_phnum);
  if (!read_at(fd, header.e_phoff, segments.data(), table_bytes))
    return "program headers cannot be read";
  for (const ProgramHeader& segment : segments) {
    if (segment.p_type == PT_NULL || segment.p_filesz == 0) continue;
    if (!inside(segment.p_offset, segment.p_filesz, file_size))
      return "a segment lies past the end of the file (truncated copy?)";
  }
  return std::string();
}

// The file the loader would read for `path`: the path itself when it names a
// folder, else the first match in LD_LIBRARY_PATH, else "" (left to the
// loader's search of the system's folders).
std::string file_to_check(const std::string& path) {
  if (path.find('/') != std::string::npos) return path;
  const char* search = std::getenv("LD_LIBRARY_PATH");
  std::string folders = search != nullptr ? search : "";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find_first_of(":;", start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    if (!folder.empty() && ::access((folder + "/" + path).c_str(), F_OK) == 0)
      return folder + "/" + path;
    start = end + 1;
  }
  return std::string();
}

std::string canonical_path(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

std::string program_file() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace

std::string module_file_problem(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return path + ": " + std::strerror(errno);
  struct stat st {};
  std::string problem;
  if (::fstat(fd, &st) != 0) {
    problem = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    problem = "not a regular file";
  } else {
    problem = elf_problem(fd, static_cast<std::uint64_t>(st.st_size));
  }
  ::close(fd);
  return problem.empty() ? problem : path + ": " + problem;
}

ModuleHandle module_open(const std::string& path, std::string* out_error,
                         ModuleLifetime lifetime) {
  try {
    // The loader reads an empty name as "the program itself", which is never
    // what a caller naming a module file means.
    if (path.empty()) {
      if (out_error != nullptr) *out_error = "empty module path";
      return nullptr;
    }
    // A file that is not there is left to the loader, whose message says so.
    const std::string file = file_to_check(path);
    if (!file.empty() && ::access(file.c_str(), F_OK) == 0) {
      const std::string problem = module_file_problem(file);
      if (!problem.empty()) {
        if (out_error != nullptr) *out_error = problem;
        return nullptr;
      }
    }
    int flags = RTLD_NOW | RTLD_LOCAL;
    if (lifetime == ModuleLifetime::Resident) flags |= RTLD_NODELETE;
    ::dlerror();  // the loader's message is per thread; start from none
    void* handle = ::dlopen(path.c_str(), flags);
    if (handle == nullptr && out_error != nullptr) {
      const char* message = ::dlerror();
      *out_error = message != nullptr ? message : "cannot load " + path;
    }
    return handle;
  } catch (...) {
    if (out_error != nullptr) out_error->clear();
    return nullptr;
  }
}

void* module_symbol(ModuleHandle m, const char* name) {
  // A null handle would mean RTLD_DEFAULT to the loader and search every
  // module; a caller whose load failed must get nothing instead.
  if (m == nullptr || name == nullptr) return nullptr;
  return ::dlsym(m, name);
}

bool module_close(ModuleHandle m) {
  if (m == nullptr) return false;
  return ::dlclose(m) == 0;
}

std::string module_path(ModuleHandle m) {
  if (m == nullptr) return std::string();
  try {
    link_map* map = nullptr;
    if (::dlinfo(m, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return std::string();
    // The program's own entry carries an empty name.
    if (map->l_name == nullptr || map->l_name[0] == '\0') return program_file();
    return canonical_path(map->l_name);
  } catch (...) {
    return std::string();
  }
}

}  // namespace platform
