#include "platform/module.h"

#include <dlfcn.h>
#include <elf.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../../module_cut.h"
#include "../test_support.h"

namespace platform {
namespace {

TEST(Module, OpenFindsSymbolsAndKnowsItsFullPath) {
  std::string error;
  ModuleHandle m = module_open("libm.so.6", &error);
  ASSERT_NE(m, nullptr) << error;
  auto cos_fn = reinterpret_cast<double (*)(double)>(module_symbol(m, "cos"));
  ASSERT_NE(cos_fn, nullptr);
  EXPECT_DOUBLE_EQ(cos_fn(0.0), 1.0);
  EXPECT_EQ(module_symbol(m, "no_such_symbol_here"), nullptr);
  const std::string path = module_path(m);
  EXPECT_TRUE(path.front() == '/' && path.find("libm") != std::string::npos) << path;
  EXPECT_TRUE(module_close(m));
}

TEST(Module, FailuresReportWhy) {
  // An empty name would make the loader hand back the program itself.
  for (const char* path : {"/nonexistent/libnothing.so", ""}) {
    std::string error;
    EXPECT_EQ(module_open(path, &error), nullptr) << path;
    EXPECT_FALSE(error.empty()) << path;
    EXPECT_EQ(module_open(path), nullptr) << path;
  }
  // Passed on, a null handle would search every loaded module.
  EXPECT_EQ(module_symbol(nullptr, "cos"), nullptr);
  EXPECT_FALSE(module_close(nullptr));
  EXPECT_EQ(module_path(nullptr), "");
}

TEST(Module, ProgramHandleGivesTheProgramPath) {
  void* self = ::dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(self, nullptr);
  char exe[PATH_MAX] = {};
  ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  EXPECT_EQ(module_path(self), exe);
  ::dlclose(self);
}

// Damaged copies of a real module are refused before the loader maps them: a
// copy cut short would otherwise end the process with SIGBUS inside dlopen.
TEST(Module, DamagedCopiesAreRefusedWithTheReason) {
  std::stringstream module;
  module << std::ifstream(build_folder() + "/OrvPng.so", std::ios::binary).rdbuf();
  const std::string good = module.str();
  auto patched = [&](std::size_t at, char value) {
    std::string copy = good;
    copy[at] = value;
    return copy;
  };
  char folder[] = "/tmp/orvmodule.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const struct Case {
    const char* name;
    std::string bytes;
    const char* reason;  // "" for a module that passes
  } cases[] = {
      {"complete.so", good, ""},
      {"cut.so", module_cut::cut_in_segments(good), "a segment lies past the end of the file"},
      {"header.so", good.substr(0, sizeof(ElfW(Ehdr))), "program headers lie past the end"},
      {"stub.so", good.substr(0, 10), "too short for an ELF header"},
      {"text.so", std::string(100, 'x'), "not an ELF object"},
      {"class.so", patched(EI_CLASS, ELFCLASS32), "another word size or byte order"},
      {"machine.so", patched(offsetof(ElfW(Ehdr), e_machine), EM_ARM), "another architecture"},
      {"exec.so", patched(offsetof(ElfW(Ehdr), e_type), ET_EXEC), "not a shared object"},
      {"fifo.so", "", "not a regular file"},  // and not waited on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = std::string(folder) + "/" + c.name;
    if (c.bytes.empty()) {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    } else {
      std::ofstream(path, std::ios::binary) << c.bytes;
    }
    std::string error;
    const ModuleHandle m = module_open(path, &error);
    EXPECT_EQ(m == nullptr, c.reason[0] != '\0');
    if (m != nullptr) module_close(m);
    if (c.reason[0] != '\0') {
      EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
      EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
  }
  // A bare name is checked where LD_LIBRARY_PATH finds it.
  const char* search = std::getenv("LD_LIBRARY_PATH");
  const std::string saved = search != nullptr ? search : "";
  setenv("LD_LIBRARY_PATH", (std::string("/nonexistent:") + folder).c_str(), 1);
  std::string error;
  EXPECT_EQ(module_open("cut.so", &error), nullptr);
  search != nullptr ? setenv("LD_LIBRARY_PATH", saved.c_str(), 1) : unsetenv("LD_LIBRARY_PATH");
  EXPECT_EQ(error.rfind(std::string(folder) + "/cut.so: a segment", 0), 0u) << error;
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace platform
