// A fixture that runs the library against the real Source Manager
// (libtwaindsm.so) and the virtual scanner (twain/VirtualScanner.ds) of this
// build, with the virtual scanner's devices taken from a config text, the
// default-source file in a private home folder, the trace log in a private
// folder, and message boxes and questions answered by the test.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "../test_support.h"
#include "log/trace.h"
#include "orivane/trace_log.h"
#include "orivane/twain.h"
#include "orivane/twain_manager.h"
#include "orivane/twain_session.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "twain/session/session.h"

#if defined(__SANITIZE_ADDRESS__) && __has_include(<sanitizer/lsan_interface.h>)
#include <sanitizer/lsan_interface.h>
#define ORV_TEST_LSAN 1
#endif

namespace twain_test {

// Allocations made while the object lives are not reported as leaks: a
// driver that crashes leaves its frames' memory behind by design.
class LeaksIgnored {
 public:
#ifdef ORV_TEST_LSAN
  LeaksIgnored() { __lsan_disable(); }
  ~LeaksIgnored() { __lsan_enable(); }
#else
  LeaksIgnored() = default;
#endif
  LeaksIgnored(const LeaksIgnored&) = delete;
  LeaksIgnored& operator=(const LeaksIgnored&) = delete;
};

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
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

// Records message boxes; answers questions with the scripted answers in
// turn, the last one again when they run out.
class ScriptedUi : public platform::UiBackend {
 public:
  ScriptedUi(std::vector<std::string>* boxes, std::vector<platform::UiAnswer>* answers)
      : boxes_(boxes), answers_(answers) {}
  const char* name() const override { return "scripted"; }
  void message_box(const std::string& caption, const std::string& text,
                   platform::UiIcon) override {
    boxes_->push_back(caption + ": " + text);
  }
  platform::UiAnswer ask(const std::string&, const std::string&, platform::UiButtons buttons,
                         platform::UiAnswer wanted) override {
    if (answers_->empty()) return wanted;
    const platform::UiAnswer answer = answers_->front();
    if (answers_->size() > 1) answers_->erase(answers_->begin());
    return platform::ui_buttons_offer(buttons, answer) ? answer : wanted;
  }

 private:
  std::vector<std::string>* boxes_;
  std::vector<platform::UiAnswer>* answers_;
};

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class DsmTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    char pattern[] = "/tmp/orvdsm.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const std::string build = build_folder();
    dsm_ = build + "/libtwaindsm.so";
    ASSERT_TRUE(std::filesystem::exists(dsm_)) << "build the Source Manager first: " << dsm_;
    ASSERT_TRUE(std::filesystem::exists(build + "/twain/VirtualScanner.ds"))
        << "build the virtual scanner first";
    env_.emplace_back(std::make_unique<ScopedEnv>("QUILLET_DSM_PATH", dsm_));
    env_.emplace_back(std::make_unique<ScopedEnv>("QUILLET_TWAIN_PATH", build + "/twain"));
    env_.emplace_back(std::make_unique<ScopedEnv>("HOME", dir_));
    env_.emplace_back(std::make_unique<ScopedEnv>("TMPDIR", dir_));
    use_devices("[device]\nproduct = Virtual Scanner\n");
    platform::ui_install(std::make_unique<ScriptedUi>(&boxes_, &answers_));
    TWAIN_SetLogFolder(dir_.c_str());
    TWAIN_LogFile(1);
  }

  void TearDown() override {
    // After a fault the Source Manager still counts this application as
    // connected; tell it otherwise so the next test starts afresh.
    twain::Session& s = twain::session();
    if (s.state == 2 && s.dsm_entry) {
      platform::WindowHandle parent = 0;
      s.dsm_entry(&s.app_identity, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    }
    TWAIN_Shutdown();
    LogResetForTests();
    platform::ui_install(nullptr);
    env_.clear();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Writes the virtual scanner's config and points it there.
  void use_devices(const std::string& config) {
    const std::string path = dir_ + "/vscan.ini";
    std::ofstream(path) << config;
    env_.emplace_back(std::make_unique<ScopedEnv>("QUILLET_VSCAN", path));
  }

  std::string trace() {
    LogFlush();
    return read_text(LogFullPath());
  }

  std::string dir_, dsm_;
  std::vector<std::unique_ptr<ScopedEnv>> env_;
  std::vector<std::string> boxes_;
  std::vector<platform::UiAnswer> answers_;
};

inline std::string two_devices() {
  return "[device]\nproduct = Scanner A\n[device]\nproduct = Scanner B\n";
}

}  // namespace twain_test
