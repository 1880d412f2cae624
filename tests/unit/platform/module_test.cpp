#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace platform
