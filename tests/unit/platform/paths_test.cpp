// Folders and names taken from the surroundings: environment overrides and
// their fall-backs, folder creation, and module paths.
#include "platform/paths.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orvpaths.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string dir_;
};

bool is_folder(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST_F(PathsTest, TempFolderFromTmpdir) {
  struct Case {
    const char* tmpdir;
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, "/tmp"},
      {"", "/tmp"},
      {"/var/tmp", "/var/tmp"},
      {"/var/tmp//", "/var/tmp"},
      {"/", "/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tmpdir ? c.tmpdir : "(unset)");
    ScopedEnv env("TMPDIR", c.tmpdir);
    EXPECT_EQ(platform::temp_folder(), c.expected);
  }
}

TEST_F(PathsTest, ConfigFileUnderXdgOrHome) {
  struct Case {
    const char* xdg;
    const char* home;
    const char* expected;
  };
  const Case cases[] = {
      {"/cfg", "/home/u", "/cfg/Talven/Quillet.ini"},
      {"/cfg/", "/home/u", "/cfg/Talven/Quillet.ini"},
      {nullptr, "/home/u", "/home/u/.config/Talven/Quillet.ini"},
      {"", "/home/u/", "/home/u/.config/Talven/Quillet.ini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
    ScopedEnv home("HOME", c.home);
    EXPECT_EQ(platform::config_file("Quillet"), c.expected);
  }
}

TEST_F(PathsTest, MakeFoldersCreatesParentsAndReportsBlockers) {
  const std::string nested = dir_ + "/a/b/c/";
  int error = -1;
  EXPECT_TRUE(platform::make_folders(nested, &error));
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(is_folder(dir_ + "/a/b/c"));
  EXPECT_TRUE(platform::make_folders(nested));  // existing is fine
  EXPECT_TRUE(platform::make_folders("/"));

  { std::ofstream(dir_ + "/file") << "x"; }
  EXPECT_FALSE(platform::make_folders(dir_ + "/file/sub", &error));
  EXPECT_EQ(error, ENOTDIR);
  EXPECT_FALSE(platform::make_folders(dir_ + "/file", &error));
  EXPECT_EQ(error, ENOTDIR);
  EXPECT_FALSE(platform::make_folders("", &error));
  EXPECT_EQ(error, ENOENT);
}

TEST_F(PathsTest, MakeFoldersAcceptsRelativePaths) {
  const std::string old = platform::current_folder();
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  EXPECT_EQ(platform::current_folder(), std::filesystem::canonical(dir_).string());
  const bool made = platform::make_folders("rel/sub");
  ASSERT_EQ(chdir(old.c_str()), 0);
  EXPECT_TRUE(made);
  EXPECT_TRUE(is_folder(dir_ + "/rel/sub"));
}

TEST_F(PathsTest, RuntimeFolderPrefersUsableXdgDir) {
  const std::string usable = dir_ + "/run";
  ASSERT_EQ(mkdir(usable.c_str(), 0700), 0);
  {
    ScopedEnv env("XDG_RUNTIME_DIR", (usable + "/").c_str());
    EXPECT_EQ(platform::runtime_folder(), usable);
  }
  // A missing folder falls back to the private folder in /tmp.
  const std::string fallback = "/tmp/Talven-" + std::to_string(getuid());
  for (const char* xdg : {static_cast<const char*>(nullptr), "", "/nonexistent/run"}) {
    SCOPED_TRACE(xdg ? xdg : "(unset)");
    ScopedEnv env("XDG_RUNTIME_DIR", xdg);
    EXPECT_EQ(platform::runtime_folder(), fallback);
    struct stat st{};
    ASSERT_EQ(lstat(fallback.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, getuid());
    EXPECT_EQ(st.st_mode & 077, 0u);
  }
}

// A runtime folder others can write into, or one that is not ours, would hand
// them our sockets and trace log: it is passed over for the private fallback.
TEST_F(PathsTest, RuntimeFolderMustBePrivate) {
  const std::string fallback = "/tmp/Talven-" + std::to_string(getuid());
  const struct Case {
    const char* name;
    mode_t mode;
    bool accepted;
  } cases[] = {{"private", 0700, true},     {"world-writable", 0777, false},
               {"sticky", 01777, false},    {"group-readable", 0750, false},
               {"link", 0700, false},       {"another user's", 0700, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = dir_ + "/" + c.name;
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
    std::string named = folder;
    if (std::string(c.name) == "link") {
      ASSERT_EQ(symlink(folder.c_str(), (named += ".to").c_str()), 0);
    }
    if (std::string(c.name) == "another user's" && chown(folder.c_str(), 65534, 65534) != 0)
      continue;  // needs root
    ScopedEnv env("XDG_RUNTIME_DIR", named.c_str());
    EXPECT_EQ(platform::runtime_folder(), c.accepted ? folder : fallback);
  }
}

TEST_F(PathsTest, ModulePaths) {
  const std::string program = platform::program_path();
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(program.front(), '/');
  // Code of the test program itself is in the program's module.
  static int in_program = 0;
  EXPECT_EQ(platform::module_path_of(&in_program), program);
  // Code of a shared library names that library.
  void* libc_handle = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
  ASSERT_NE(libc_handle, nullptr);
  const std::string libc = platform::module_path_of(dlsym(libc_handle, "gnu_get_libc_version"));
  dlclose(libc_handle);
  EXPECT_NE(libc.find("libc.so"), std::string::npos) << libc;
  EXPECT_EQ(platform::module_path_of(nullptr), "");
  EXPECT_EQ(platform::library_folder(), program.substr(0, program.rfind('/')));
}

}  // namespace
