// Copies of modules cut short, as an interrupted copy leaves them. A cut only
// matters where it falls inside what the loader maps (debug sections at the
// end of a file are never mapped), so the cut is made halfway through the
// loadable part the program headers describe.
#pragma once
#include <elf.h>
#include <link.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace module_cut {

// `bytes` (a complete shared object of this machine) cut halfway through its
// loadable segments.
inline std::string cut_in_segments(const std::string& bytes) {
  ElfW(Ehdr) header{};
  if (bytes.size() < sizeof header) return bytes.substr(0, bytes.size() / 2);
  std::memcpy(&header, bytes.data(), sizeof header);
  std::uint64_t end = 0;
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    ElfW(Phdr) segment{};
    const std::size_t at = header.e_phoff + std::size_t{i} * sizeof segment;
    if (at + sizeof segment > bytes.size()) break;
    std::memcpy(&segment, bytes.data() + at, sizeof segment);
    if (segment.p_type == PT_LOAD) end = std::max<std::uint64_t>(end, segment.p_offset + segment.p_filesz);
  }
  return bytes.substr(0, static_cast<std::size_t>(end / 2));
}

}  // namespace module_cut
