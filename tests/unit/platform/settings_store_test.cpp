#include "platform/settings_store.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

// Points the settings folder at a fresh temporary folder for each test.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* v = std::getenv("XDG_CONFIG_HOME")) saved_ = v;
    char pattern[] = "/tmp/settings_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_) ::setenv("XDG_CONFIG_HOME", saved_->c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(root_);
  }
  fs::path folder() const { return fs::path(root_) / "Talven"; }
  fs::path file() const { return folder() / "Quillet.ini"; }
  void write_file(const std::string& content) {
    fs::create_directories(folder());
    std::ofstream(file(), std::ios::binary) << content;
  }
  std::string read_file() const {
    std::stringstream s;
    s << std::ifstream(file(), std::ios::binary).rdbuf();
    return s.str();
  }

  std::string root_;
  std::optional<std::string> saved_;
};

TEST_F(SettingsTest, FirstPutCreatesAPrivateFolderAndTheFile) {
  EXPECT_EQ(settings_get("Quillet", "Scanner", "Source"), std::nullopt);
  ASSERT_TRUE(settings_put("Quillet", "Scanner", "Source", "Alpha"));
  EXPECT_EQ(read_file(), "[Scanner]\nSource=Alpha\n");
  struct stat st {};
  ASSERT_EQ(::stat(folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(SettingsTest, ReadsCrLfFileIgnoringCaseCommentsAndBlanks) {
  write_file("\xEF\xBB\xBF; written by hand\r\ntop=level\r\n\r\n[ Scanner ]\r\n"
             "  Source = Alpha  \r\n;Dpi=75\r\nDpi=300\r\nnot an entry\r\n[Other]\r\nSource=Beta");
  struct Case {
    const char* section;
    const char* name;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"Scanner", "Source", "Alpha"}, {"SCANNER", "source", "Alpha"}, {"scanner", "DPI", "300"},
      {"Other", "Source", "Beta"},  // last line unended
      {"", "top", "level"},         {"Scanner", "top", std::nullopt},
      {"Missing", "Source", std::nullopt}, {"Scanner", "not an entry", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(settings_get("Quillet", c.section, c.name), c.value) << c.section << "/" << c.name;
  }
}

TEST_F(SettingsTest, RewriteChangesOnlyWhatItMustAndKeepsLineEndsAndMode) {
  write_file(
      "; keep me\r\n[Scanner]\r\nSource=Alpha\r\n\r\n; about Other\r\n[Other]\r\nkeep=1\r\n");
  fs::permissions(file(), fs::perms(0640));
  ASSERT_TRUE(settings_put("Quillet", "SCANNER", "source", "Beta"));
  ASSERT_TRUE(settings_put("Quillet", "Scanner", "Dpi", "300"));
  ASSERT_TRUE(settings_put("Quillet", "New", "x", "1"));
  EXPECT_EQ(read_file(),
            "; keep me\r\n[Scanner]\r\nSource=Beta\r\nDpi=300\r\n\r\n; about Other\r\n"
            "[Other]\r\nkeep=1\r\n\r\n[New]\r\nx=1\r\n");
  EXPECT_EQ(fs::status(file()).permissions(), fs::perms(0640));
  // No temporary file is left beside it.
  std::vector<fs::path> entries(fs::directory_iterator(folder()), fs::directory_iterator{});
  EXPECT_EQ(entries, std::vector<fs::path>{file()});
}

TEST_F(SettingsTest, ValuesRoundTripExactly) {
  for (const std::string v : {"", " padded ", "\"quoted\"", "a=b", "x;y", "[z]", "\"", "\t"}) {
    ASSERT_TRUE(settings_put("Quillet", "Values", "v", v)) << '"' << v << '"';
    EXPECT_EQ(settings_get("Quillet", "Values", "v"), v) << '"' << v << '"';
  }
}

TEST_F(SettingsTest, RefusesWhatCouldNotBeReadBack) {
  const std::array<const char*, 4> cases[] = {
      {"Quillet", "S", "", "v"},           {"Quillet", "S", "a=b", "v"},
      {"Quillet", "S", " lead", "v"},      {"Quillet", "S", ";c", "v"},
      {"Quillet", "S", "n", "two\nlines"}, {"Quillet", "S", "n", "cr\r"},
      {"Quillet", "a]b", "n", "v"},        {"Quillet", "", "n", "v"},
      {"../escape", "S", "n", "v"},        {"", "S", "n", "v"},
  };
  for (const auto& [app, section, name, value] : cases) {
    EXPECT_FALSE(settings_put(app, section, name, value)) << app << " [" << section << "] " << name;
  }
  EXPECT_FALSE(fs::exists(file()));
  EXPECT_FALSE(fs::exists(fs::path(root_) / "escape.ini"));
}

TEST_F(SettingsTest, ConcurrentPutsLoseNothing) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 10; ++i) {
        settings_put("Quillet", "T" + std::to_string(t), "n" + std::to_string(i), "v");
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(settings_get("Quillet", "T" + std::to_string(t), "n" + std::to_string(i)), "v");
    }
  }
}

// A settings name that is a FIFO is neither waited on nor replaced.
TEST_F(SettingsTest, AFifoIsNeitherReadNorReplaced) {
  fs::create_directories(folder());
  ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
  EXPECT_EQ(settings_get("Quillet", "Scanner", "Source"), std::nullopt);
  EXPECT_FALSE(settings_put("Quillet", "Scanner", "Source", "Beta"));
  EXPECT_EQ(fs::symlink_status(file()).type(), fs::file_type::fifo);
}

}  // namespace
}  // namespace platform
