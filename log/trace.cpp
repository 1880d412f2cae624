// The core of the trace log: the one set of log state, the line buffer and
// the print operations every other subsystem writes through.
#include "log/trace.h"


#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "platform/ui.h"

namespace {

constexpr std::size_t kLineBufferBytes = 1024;
constexpr std::size_t kLineBufferMaxChars = kLineBufferBytes - 1;
constexpr std::size_t kFormatAreaBytes = 8192;
constexpr int kIndentSpacesPerLevel = 3;
constexpr std::uint32_t kPipeCheckIntervalMs = 2000;
constexpr std::size_t kMaxPathChars = 260;

// Lock waits are bounded: a thread stuck inside the log (or a crashed holder)
// must not hang every other thread, so after the wait the operation gives up
// and its text is lost (see LockHold).
constexpr int kLockWaitFileMs = 1000;
constexpr int kLockWaitPrintMs = 2000;
constexpr int kLockWaitPrefixedMs = 3000;

constexpr const char* kDefaultProduct = "Orivane (x86)";
constexpr const char* kDefaultLogName = "orivane.log";
constexpr const char* kNotInitializedCaption = "Orivane 3";
constexpr const char* kNotInitializedText =
    "Orivane called before being initialized.\n"
    "If you are statically linking to Orivane, please make\n"
    "ORIVANE_Attach() your first Orivane call, and \n"
    "ORIVANE_Detach() your last.";

struct TraceLog {
  std::timed_mutex lock;

  // Read without the lock on the hot path, hence atomic.
  std::atomic<bool> attached{false};
  std::atomic<bool> warning_showing{false};
  std::atomic<bool> active{true};
  std::atomic<int> level{0};
  std::atomic<int> depth{0};
  std::atomic<int> pipe{-1};
  std::atomic<bool> pipe_checked{false};
  std::atomic<std::uint32_t> last_pipe_check_ms{0};

  // Changed only under the lock.
  std::string folder;  // "" until set: the default folder
  std::string name = kDefaultLogName;
  std::string full_path;  // "" until the file is opened or the log moved
  std::FILE* file = nullptr;
  char buffer[kLineBufferBytes] = {};
  std::size_t fill = 0;
  bool at_line_start = false;
  int last_thread = 0;
  std::string product = kDefaultProduct;
  std::string version;
};

// Never destroyed: objects torn down at exit may still trace.
TraceLog& trace_log() {
  static TraceLog* const log = new TraceLog;
  return *log;
}

// Thrown when the lock could not be had in time; every public operation
// catches it and drops its trace text. Going on without the lock would let
// two threads fill the line buffer at once and write past its end.
struct LockTimeout {};

class LockHold {
 public:
  explicit LockHold(int wait_ms)
      : owned_(trace_log().lock.try_lock_for(std::chrono::milliseconds(wait_ms))) {
    if (!owned_) throw LockTimeout{};
  }
  ~LockHold() {
    if (owned_) trace_log().lock.unlock();
  }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;

 private:
  bool owned_;
};

std::string clip(std::string text, std::size_t max_chars) {
  if (text.size() > max_chars) text.resize(max_chars);
  return text;
}

std::string resolved_folder(const TraceLog& t) {
  return t.folder.empty() ? log_detail::default_log_folder() : t.folder;
}

std::string current_full_path(const TraceLog& t) {
  return t.full_path.empty() ? clip(resolved_folder(t) + t.name, kMaxPathChars) : t.full_path;
}

// Formats a trace text into `area` behind `prefix`. A format without "%" is
// copied as it is, so texts that merely contain user data cannot be misread
// as conversions.
void format_text(char (&area)[kFormatAreaBytes], const char* prefix, const char* format,
                 va_list args) {
  std::size_t used = 0;
  if (prefix != nullptr) {
    used = std::min(std::strlen(prefix), kFormatAreaBytes - 1);
    std::memcpy(area, prefix, used);
  }
  char* rest = area + used;
  const std::size_t room = kFormatAreaBytes - used;
  if (format == nullptr) {
    rest[0] = '\0';
  } else if (std::strchr(format, '%') == nullptr) {
    const std::size_t n = std::min(std::strlen(format), room - 1);
    std::memcpy(rest, format, n);
    rest[n] = '\0';
  } else if (std::vsnprintf(rest, room, format, args) < 0) {
    rest[0] = '\0';
  }
}

// Writing out: the only path from the buffer to the outputs. With neither
// output open the text is dropped and collecting stops until one opens. The
// active flag is read without the lock, so it is stored once, at the end:
// other threads must never see it cleared while an output is open.
void write_out_locked(TraceLog& t) {
  t.buffer[t.fill] = '\0';
  bool active = false;
  const int pipe = t.pipe;
  if (pipe >= 0) {
    if (log_detail::pipe_send(pipe, t.buffer, t.fill)) {
      active = true;
    } else {
      log_detail::pipe_close(pipe);
      t.pipe = -1;
    }
  }
  if (t.file != nullptr) {
    std::fwrite(t.buffer, 1, t.fill, t.file);
    active = true;
  }
  t.active = active;
  t.fill = 0;
}

// The file stream is unbuffered, so every write-out already reaches the
// kernel and survives a crash of the process; flushing only has to cover the
// stream itself.
void flush_file_locked(TraceLog& t) {
  if (t.file != nullptr) std::fflush(t.file);
}

void put_char_locked(TraceLog& t, char c) {
  if (t.fill >= kLineBufferMaxChars) write_out_locked(t);
  t.buffer[t.fill++] = c;
}

void put_text_locked(TraceLog& t, const char* text) {
  while (*text != '\0') put_char_locked(t, *text++);
}

// At a line start: mark a change of the writing thread, and indent by the
// nesting depth unless the line is empty.
void begin_line_locked(TraceLog& t, char first) {
  const int thread = platform::thread_id();
  if (thread != t.last_thread) {
    t.last_thread = thread;
    char line[32];
    std::snprintf(line, sizeof line, "[THREAD %d]\n", thread);
    put_text_locked(t, line);
  }
  if (first == '\n') return;
  const int depth = t.depth;
  for (int i = 0; i < kIndentSpacesPerLevel * depth; ++i) put_char_locked(t, ' ');
}

void append_locked(TraceLog& t, const char* text) {
  const char* p = text;
  while (*p != '\0') {
    if (t.at_line_start) begin_line_locked(t, *p);
    char c;
    do {
      c = *p++;
      put_char_locked(t, c);
      t.at_line_start = (c == '\n');
    } while (c != '\n' && *p != '\0');
  }
  // A listening viewer sees each complete line at once.
  if (t.pipe >= 0 && p != text && p[-1] == '\n') write_out_locked(t);
  if (t.level & kLogFlushEachCall) {
    write_out_locked(t);
    flush_file_locked(t);
  }
}

void end_line_locked(TraceLog& t) {
  if (!t.at_line_start) append_locked(t, "\n");
}

void ensure_attached() {
  TraceLog& t = trace_log();
  if (t.attached) return;
  // The box itself may trace; show it once, not recursively.
  if (t.warning_showing.exchange(true)) return;
  try {
    platform::ui().message_box(kNotInitializedCaption, kNotInitializedText,
                               platform::UiIcon::Warning);
  } catch (...) {
  }
  LogAttach();
  t.warning_showing = false;
}

// Connects to a log viewer when none is connected, at most once per interval.
// A viewer that connects gets the header first so it sees where it stands.
void check_pipe() {
  TraceLog& t = trace_log();
  if (t.pipe >= 0) return;
  const std::uint32_t now = platform::tick_count_ms();
  if (t.pipe_checked && now - t.last_pipe_check_ms < kPipeCheckIntervalMs) return;
  int error = 0;
  long foreign_uid = -1;
  bool connected = false;
  {
    LockHold hold(kLockWaitPrintMs);
    // Another thread may have checked while this one waited.
    if (t.pipe >= 0 || (t.pipe_checked && now - t.last_pipe_check_ms < kPipeCheckIntervalMs)) {
      return;
    }
    const int fd = log_detail::pipe_connect(&error, &foreign_uid);
    if (fd >= 0) {
      t.pipe = fd;
      t.active = true;
      connected = true;
    }
    t.pipe_checked = true;
    t.last_pipe_check_ms = now;
  }
  if (foreign_uid >= 0) {
    LogPrint("*Pipe Check: the listener runs as user %ld, not as this user: not connected\n",
             foreign_uid);
  } else if (error != 0) {
    LogPrint("*Pipe Check: GLE(%d)\n", error);
  }
  if (connected) log_detail::write_header();
}

void print_formatted(const char* prefix, int wait_ms, bool end_line_first, const char* format,
                     va_list args) {
  ensure_attached();
  check_pipe();
  TraceLog& t = trace_log();
  if (!t.active) return;
  char area[kFormatAreaBytes];
  format_text(area, prefix, format, args);
  LockHold hold(wait_ms);
  if (end_line_first) end_line_locked(t);
  append_locked(t, area);
}

// A window's line may come while a call's line waits for its result (the
// device's dialog shows inside the call that enables it): it starts a line
// of its own.
void trace_ui_line(const std::string& line) {
  LogNewLine();
  if (!line.empty() && line.back() == '\n') {
    LogPrint("%s", line.c_str());
  } else {
    LogPrint("%s\n", line.c_str());
  }
}

void close_outputs_locked(TraceLog& t) {
  if (t.file != nullptr) std::fclose(t.file);
  t.file = nullptr;
  const int pipe = t.pipe.exchange(-1);
  if (pipe >= 0) log_detail::pipe_close(pipe);
}

}  // namespace

void LogPrint(const char* format, ...) {
  if (format == nullptr) {
    LogFlush();
    return;
  }
  try {
    va_list args;
    va_start(args, format);
    print_formatted(nullptr, kLockWaitPrintMs, false, format, args);
    va_end(args);
  } catch (...) {
  }
}

void LogApiCall(const char* format, ...) {
  try {
    va_list args;
    va_start(args, format);
    print_formatted("TWAIN_", kLockWaitPrefixedMs, true, format, args);
    va_end(args);
  } catch (...) {
  }
}

void LogDibCall(const char* format, ...) {
  try {
    va_list args;
    va_start(args, format);
    print_formatted("DIB_", kLockWaitPrefixedMs, true, format, args);
    va_end(args);
  } catch (...) {
  }
}

void LogNewLine() {
  try {
    TraceLog& t = trace_log();
    if (!t.active) return;
    LockHold hold(kLockWaitPrefixedMs);
    end_line_locked(t);
  } catch (...) {
  }
}

void LogFlush() {
  try {
    TraceLog& t = trace_log();
    bool pending;
    {
      LockHold hold(kLockWaitPrintMs);
      pending = t.fill > 0;
    }
    if (pending) check_pipe();
    LockHold hold(kLockWaitPrintMs);
    write_out_locked(t);
    flush_file_locked(t);
  } catch (...) {
  }
}

void LogDepthUp() { ++trace_log().depth; }
void LogDepthDown() { --trace_log().depth; }
int LogDepth() { return trace_log().depth; }

int LogLevel() { return trace_log().level; }
void LogSetLevelOnly(int level) { trace_log().level = level; }

void LogSetHeaderTexts(const std::string& product, const std::string& version) {
  try {
    TraceLog& t = trace_log();
    LockHold hold(kLockWaitFileMs);
    t.product = product;
    t.version = version;
  } catch (...) {
  }
}

void LogAttach() {
  try {
    TraceLog& t = trace_log();
    {
      LockHold hold(kLockWaitFileMs);
      t.fill = 0;
    }
    t.attached = true;
    platform::ui_set_trace_sink(trace_ui_line);
    LogPrint("LogInitialize\n");
  } catch (...) {
  }
}

void LogDetach() {
  try {
    TraceLog& t = trace_log();
    LogNewLine();
    LogPrint("LogShutdown\n");
    LogFlush();
    platform::ui_set_trace_sink(nullptr);
    LockHold hold(kLockWaitFileMs);
    const int pipe = t.pipe.exchange(-1);
    if (pipe >= 0) log_detail::pipe_close(pipe);
    t.attached = false;
  } catch (...) {
  }
}

bool LogAttached() { return trace_log().attached; }

std::string LogFullPath() {
  try {
    TraceLog& t = trace_log();
    LockHold hold(kLockWaitPrintMs);
    return current_full_path(t);
  } catch (...) {
    return std::string();
  }
}

void LogResetForTests() {
  TraceLog& t = trace_log();
  platform::ui_set_trace_sink(nullptr);
  LockHold hold(kLockWaitFileMs);
  close_outputs_locked(t);
  t.attached = false;
  t.warning_showing = false;
  t.active = true;
  t.level = 0;
  t.depth = 0;
  t.folder.clear();
  t.name = kDefaultLogName;
  t.full_path.clear();
  t.pipe_checked = false;
  t.last_pipe_check_ms = 0;
  t.fill = 0;
  t.at_line_start = false;
  t.last_thread = 0;
  t.product = kDefaultProduct;
  t.version.clear();
}

namespace log_detail {

bool open_log_file(int level) {
  TraceLog& t = trace_log();
  LockHold hold(kLockWaitFileMs);
  const bool was_open = t.file != nullptr;
  if (!was_open) {
    // Without a private default folder there is no safe place to put a log
    // that names no folder (never the current or a shared folder).
    const std::string folder = resolved_folder(t);
    t.full_path = clip(folder + t.name, kMaxPathChars);
    if (!folder.empty()) t.file = open_log_stream(t.full_path, LogOpenMode::Replace);
    if (t.file == nullptr) {
      const std::string fallback = fallback_log_folder();
      if (!fallback.empty()) {
        t.full_path = clip(fallback + t.name, kMaxPathChars);
        t.file = open_log_stream(t.full_path, LogOpenMode::Replace);
      }
    }
  }
  t.active = true;
  t.level = level;
  return was_open;
}

void close_log_file() {
  TraceLog& t = trace_log();
  LockHold hold(kLockWaitFileMs);
  write_out_locked(t);
  if (t.file != nullptr) std::fclose(t.file);
  t.file = nullptr;
  t.level = 0;
}

std::string relocate_log(const std::string& folder, const std::string& name) {
  TraceLog& t = trace_log();
  LockHold hold(kLockWaitFileMs);
  const std::string old_path = current_full_path(t);
  t.folder = clip(folder, kMaxPathChars);
  t.name = clip(name, kMaxPathChars);
  t.full_path = clip(t.folder + t.name, kMaxPathChars);
  // Letter case makes a different name on this system: only the very same
  // path leaves the open file alone.
  if (t.file == nullptr || old_path == t.full_path) {
    return std::string();
  }
  std::fclose(t.file);
  t.file = nullptr;
  std::string error;
  if (const int move_error = move_file(old_path, t.full_path); move_error != 0) {
    error = "*!MoveFile GLE(" + std::to_string(move_error) + ")";
    t.full_path = old_path;
  }
  t.file = open_log_stream(t.full_path, LogOpenMode::Append);
  if (t.file == nullptr) error = "*fopen failed.";
  return error;
}

std::string log_folder() {
  LockHold hold(kLockWaitFileMs);
  return resolved_folder(trace_log());
}

std::string log_name() {
  LockHold hold(kLockWaitFileMs);
  return trace_log().name;
}

std::string header_product() {
  LockHold hold(kLockWaitPrintMs);
  return trace_log().product;
}

std::string header_version() {
  LockHold hold(kLockWaitPrintMs);
  return trace_log().version;
}

}  // namespace log_detail

void LogLockForTests(bool take) {
  if (take) {
    trace_log().lock.lock();
  } else {
    trace_log().lock.unlock();
  }
}
