// Shared set-up for the trace log tests: a private temporary folder per test
// (TMPDIR and XDG_RUNTIME_DIR point into it), a freshly reset and attached
// log, and helpers to read what reached the log file.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "log/trace.h"
#include "orivane/trace_log.h"

namespace log_test {

// Sets (or unsets) an environment variable for the lifetime of the object.
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

inline std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

inline int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orvlog.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    temp_ = dir_ + "/tmp";
    run_ = dir_ + "/run";
    ASSERT_EQ(mkdir(temp_.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(run_.c_str(), 0700), 0);
    tmpdir_.emplace("TMPDIR", temp_.c_str());
    runtime_.emplace("XDG_RUNTIME_DIR", run_.c_str());
    ssh_.emplace("SSH_CONNECTION", nullptr);
    LogResetForTests();
    LogAttach();
  }

  void TearDown() override {
    LogResetForTests();
    ssh_.reset();
    runtime_.reset();
    tmpdir_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Everything written to the current log file so far.
  std::string log_text() {
    LogFlush();
    return read_all(LogFullPath());
  }

  std::string dir_, temp_, run_;
  std::optional<ScopedEnv> tmpdir_, runtime_, ssh_;
};

}  // namespace log_test
