// The line buffer and print operations: thread lines, indentation, prefixes,
// formatting limits, the active flag and the write-out rules.
#include "log/trace.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "log_test_support.h"
#include "platform/clock.h"
#include "platform/ui.h"

namespace {

using log_test::count_of;
using log_test::LogTest;
using log_test::read_all;

// Text logged between the marker lines "#begin\n" and "#end\n".
std::string between_markers(const std::string& text) {
  const auto begin = text.find("#begin\n");
  const auto end = text.find("#end\n", begin);
  if (begin == std::string::npos || end == std::string::npos) return "<markers missing>";
  return text.substr(begin + 7, end - begin - 7);
}

class TraceTest : public LogTest {
 protected:
  // Opens the log and marks where a case's output starts.
  void begin_case() {
    TWAIN_LogFile(1);
    LogNewLine();
    LogPrint("#begin\n");
  }
  std::string end_case() {
    while (LogDepth() < 0) LogDepthUp();
    while (LogDepth() > 0) LogDepthDown();
    LogNewLine();
    LogPrint("#end\n");
    return between_markers(log_text());
  }
};

TEST_F(TraceTest, ThreadLineMarksEachChangeOfWritingThread) {
  begin_case();
  const int main_id = platform::thread_id();
  int a_id = 0, b_id = 0;
  std::thread a([&] {
    a_id = platform::thread_id();
    LogPrint("a1\n");
    LogPrint("a2\n");
  });
  a.join();
  std::thread b([&] {
    b_id = platform::thread_id();
    LogPrint("b1\n");
  });
  b.join();
  LogPrint("main\n");
  ASSERT_NE(a_id, b_id);
  const std::string expected = "[THREAD " + std::to_string(a_id) + "]\na1\na2\n[THREAD " +
                               std::to_string(b_id) + "]\nb1\n[THREAD " +
                               std::to_string(main_id) + "]\nmain\n";
  EXPECT_EQ(end_case(), expected);
}

TEST_F(TraceTest, ConcurrentLinesStayWholeAndAttributed) {
  constexpr int kThreads = 4;
  constexpr int kLinesPerThread = 300;
  begin_case();
  std::vector<int> ids(kThreads);
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([k, &ids] {
      ids[k] = platform::thread_id();
      for (int i = 0; i < kLinesPerThread; ++i) LogPrint("t%d line %d\n", k, i);
    });
  }
  for (std::thread& t : threads) t.join();
  const std::vector<std::string> lines = log_test::split_lines(end_case());
  int current_thread = 0;
  std::vector<int> next_line(kThreads, 0);
  for (const std::string& line : lines) {
    if (std::sscanf(line.c_str(), "[THREAD %d]", &current_thread) == 1) continue;
    int k = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "t%d line %d", &k, &i), 2) << line;
    ASSERT_TRUE(k >= 0 && k < kThreads) << line;
    EXPECT_EQ(current_thread, ids[k]) << line;
    EXPECT_EQ(i, next_line[k]++) << line;
  }
  for (int k = 0; k < kThreads; ++k) EXPECT_EQ(next_line[k], kLinesPerThread);
}

TEST_F(TraceTest, IndentsThreeSpacesPerDepthButNeverEmptyLines) {
  struct Case {
    int depth;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {0, "x\n", "x\n"},
      {2, "x\n", "      x\n"},
      {2, "\n", "\n"},
      {1, "a\nb\n", "   a\n   b\n"},
      {1, "\n\nc\n", "\n\n   c\n"},
      {-2, "neg\n", "neg\n"},
      // The line is ended by the next marker line.
      {1, "part", "   part\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    LogResetForTests();
    LogAttach();
    begin_case();
    for (int i = 0; i < c.depth; ++i) LogDepthUp();
    for (int i = 0; i > c.depth; --i) LogDepthDown();
    LogPrint("%s", c.text);
    for (int i = 0; i < c.depth; ++i) LogDepthDown();
    for (int i = 0; i > c.depth; --i) LogDepthUp();
    EXPECT_EQ(end_case(), c.expected);
  }
}

TEST_F(TraceTest, PrefixedCallsStartANewLine) {
  struct Case {
    const char* name;
    std::function<void()> trace;
    const char* expected;
  };
  const Case cases[] = {
      {"api call ends partial line", [] { LogPrint("partial"); LogApiCall("Op(%d)\n", 5); },
       "partial\nTWAIN_Op(5)\n"},
      {"empty api call is completed by next print",
       [] { LogApiCall("%s", ""); LogPrint("Rest\n"); }, "TWAIN_Rest\n"},
      {"dib prefix", [] { LogDibCall("Rotate(%d)\n", 90); }, "DIB_Rotate(90)\n"},
      {"new line at line start adds nothing", [] { LogPrint("a\n"); LogNewLine(); }, "a\n"},
      {"new line ends partial line", [] { LogPrint("b"); LogNewLine(); }, "b\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogResetForTests();
    LogAttach();
    begin_case();
    c.trace();
    EXPECT_EQ(end_case(), c.expected);
  }
}

TEST_F(TraceTest, FormattedTextIsCutAt8191Characters) {
  const std::string long_text(9000, 'q');
  // Through a plain pointer: the text is deliberately used as the format.
  void (*print_text)(const char*, ...) = LogPrint;
  struct Case {
    const char* name;
    std::function<void()> trace;
    std::string expected;
  };
  const Case cases[] = {
      {"formatted", [&] { LogPrint("%s", long_text.c_str()); }, std::string(8191, 'q')},
      // No "%": copied as is, under the same limit.
      {"copied", [&] { print_text(long_text.c_str()); }, std::string(8191, 'q')},
      {"prefix shares the area",
       [&] { LogApiCall("%s", long_text.c_str()); }, "TWAIN_" + std::string(8185, 'q')},
      {"percent sign formats", [] { LogPrint("50%% off"); }, "50% off"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogResetForTests();
    LogAttach();
    begin_case();
    c.trace();
    EXPECT_EQ(end_case(), c.expected + "\n");
  }
}

TEST_F(TraceTest, TextBeforeOpeningSurvivesIntoTheNewLog) {
  LogPrint("early\n");
  TWAIN_LogFile(1);
  const std::string expected_start = "LogInitialize\n[THREAD " +
                                     std::to_string(platform::thread_id()) +
                                     "]\nearly\nTWAIN_LogFile(1)\n------ Start of log (";
  EXPECT_EQ(log_text().substr(0, expected_start.size()), expected_start);
}

TEST_F(TraceTest, WriteOutWithNoOutputStopsCollecting) {
  struct Case {
    const char* name;
    std::function<void()> before_open;
  };
  const Case cases[] = {
      {"buffer overflow", [] { LogPrint("%s\n", std::string(1500, 'x').c_str()); }},
      {"explicit flush", [] { LogFlush(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogResetForTests();
    LogAttach();
    c.before_open();
    LogPrint("lost line\n");
    TWAIN_LogFile(1);
    const std::string text = log_text();
    EXPECT_EQ(count_of(text, "LogInitialize"), 0);
    EXPECT_EQ(count_of(text, "lost line"), 0);
    EXPECT_EQ(count_of(text, "TWAIN_LogFile(1)"), 1);
  }
}

TEST_F(TraceTest, LevelBit2WritesOutAfterEveryCall) {
  for (int level : {1, 3}) {
    SCOPED_TRACE(level);
    LogResetForTests();
    LogAttach();
    TWAIN_LogFile(level);
    EXPECT_EQ(LogLevel(), level);
    LogPrint("pending line\n");
    const bool on_disk = count_of(read_all(LogFullPath()), "pending line") == 1;
    EXPECT_EQ(on_disk, (level & kLogFlushEachCall) != 0);
  }
}

TEST_F(TraceTest, UserInterfaceLinesLandInTheLog) {
  TWAIN_LogFile(1);
  platform::ui_trace("MessageBox(x): y");
  platform::ui_trace("already ended\n");
  const std::string text = log_text();
  EXPECT_EQ(count_of(text, "MessageBox(x): y\n"), 1);
  EXPECT_EQ(count_of(text, "already ended\n\n"), 0);
  EXPECT_EQ(count_of(text, "already ended\n"), 1);
}

TEST_F(TraceTest, DetachWritesShutdownAndFlushes) {
  TWAIN_LogFile(1);
  LogPrint("partial");
  LogDetach();
  EXPECT_FALSE(LogAttached());
  EXPECT_EQ(count_of(read_all(LogFullPath()), "partial\nLogShutdown\n"), 1);
}

class RecordingUi : public platform::UiBackend {
 public:
  struct Box {
    std::string caption, text;
    platform::UiIcon icon;
  };
  explicit RecordingUi(std::vector<Box>* boxes) : boxes_(boxes) {}
  const char* name() const override { return "recording"; }
  void message_box(const std::string& caption, const std::string& text,
                   platform::UiIcon icon) override {
    boxes_->push_back({caption, text, icon});
  }
  platform::UiAnswer ask(const std::string&, const std::string&, platform::UiButtons,
                         platform::UiAnswer default_answer) override {
    return default_answer;
  }

 private:
  std::vector<Box>* boxes_;
};

TEST_F(TraceTest, PrintBeforeAttachWarnsOnceAndAttaches) {
  std::vector<RecordingUi::Box> boxes;
  platform::ui_install(std::make_unique<RecordingUi>(&boxes));
  LogResetForTests();
  LogPrint("too early\n");
  LogPrint("later\n");
  platform::ui_install(nullptr);
  EXPECT_TRUE(LogAttached());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Orivane 3");
  EXPECT_EQ(boxes[0].text,
            "Orivane called before being initialized.\n"
            "If you are statically linking to Orivane, please make\n"
            "ORIVANE_Attach() your first Orivane call, and \n"
            "ORIVANE_Detach() your last.");
  EXPECT_EQ(boxes[0].icon, platform::UiIcon::Warning);
}

TEST_F(TraceTest, WriteToLogEndsTheLineOnlyWhenNeeded) {
  const std::string title = "[" + log_application_title() + "] ";
  struct Case {
    const char* text;
    std::string expected;
  };
  const Case cases[] = {
      {"hello", title + "hello\n"},
      {"done\n", title + "done\n"},
      {"cr\r", title + "cr\r\n"},  // "\r" ends the text, not the line
      {"", title + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    LogResetForTests();
    LogAttach();
    begin_case();
    TWAIN_WriteToLog(c.text);
    EXPECT_EQ(end_case(), c.expected);
  }
}

TEST_F(TraceTest, LogFileNameReturnsAndTracesThePath) {
  TWAIN_LogFile(1);
  const std::string path = TWAIN_LogFileName();
  EXPECT_EQ(path, run_ + "/orivane.log");
  EXPECT_EQ(count_of(log_text(), "TWAIN_LogFileName => '" + path + "'\n"), 1);
}

}  // namespace

namespace {

// A thread stuck while holding the log costs the others their text, never
// their memory: the wait ends and the line is dropped, not written unlocked.
TEST_F(TraceTest, StuckLockDropsTextAfterTheWait) {
  begin_case();
  std::atomic<bool> held{false}, release{false};
  std::thread holder([&] {
    LogLockForTests(true);
    held = true;
    while (!release) platform::sleep_ms(5);
    LogLockForTests(false);
  });
  while (!held) platform::sleep_ms(1);
  auto start = std::chrono::steady_clock::now();
  LogPrint("lost while the lock is held\n");
  auto waited = std::chrono::steady_clock::now() - start;
  release = true;
  holder.join();
  EXPECT_GE(waited, std::chrono::milliseconds(1900));
  LogPrint("after\n");
  const std::string text = end_case();
  EXPECT_EQ(text.find("lost while"), std::string::npos);
  EXPECT_NE(text.find("after\n"), std::string::npos);
}

}  // namespace
