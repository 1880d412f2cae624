// Choosing the user-interface back end and tracing what it did.
#include "platform/ui.h"

#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {
namespace {

struct UiState {
  std::mutex mutex;
  std::unique_ptr<UiBackend> backend;
  // ui() hands out references, so a replaced back end is kept rather than
  // destroyed under a caller that is still inside one of its calls.
  std::vector<std::unique_ptr<UiBackend>> retired;
  std::function<void(const std::string&)> trace_sink;
};

// Never destroyed: a box may be shown from a static destructor or a thread
// still running at exit.
UiState& ui_state() {
  static UiState* state = new UiState;
  return *state;
}

UiKind automatic_kind() {
  if (const char* forced = std::getenv("QUILLET_UI")) {
    if (::strcasecmp(forced, "none") == 0) return UiKind::NonInteractive;
    if (::strcasecmp(forced, "terminal") == 0) return UiKind::Terminal;
  }
  // Both ends must be a terminal: a question written to a terminal but
  // answered from a file (or the reverse) has no one on the other side.
  return ::isatty(0) && ::isatty(2) ? UiKind::Terminal : UiKind::NonInteractive;
}

std::unique_ptr<UiBackend> make_backend(UiKind kind) {
  if (kind == UiKind::Auto) kind = automatic_kind();
  return kind == UiKind::Terminal ? make_terminal_ui() : make_noninteractive_ui();
}

// Used only when no back end could be made (out of memory): it needs no
// allocation to exist and never blocks.
class LastResortBackend final : public UiBackend {
 public:
  const char* name() const override { return "last-resort"; }
  void message_box(const std::string& caption, const std::string& text, UiIcon) override {
    ui_end_open_line();
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
  UiAnswer ask(const std::string&, const std::string&, UiButtons buttons,
               UiAnswer default_answer) override {
    return ui_default_answer(buttons, default_answer);
  }
};

UiBackend& last_resort_backend() {
  static LastResortBackend backend;
  return backend;
}

// Caller holds the state mutex.
void replace_backend(UiState& state, std::unique_ptr<UiBackend> backend) {
  if (state.backend) state.retired.push_back(std::move(state.backend));
  state.backend = std::move(backend);
}

}  // namespace

void ui_select(UiKind kind) {
  try {
    std::unique_ptr<UiBackend> backend = make_backend(kind);
    UiState& state = ui_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    replace_backend(state, std::move(backend));
  } catch (...) {
  }
}

UiBackend& ui() {
  try {
    UiState& state = ui_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.backend) state.backend = make_backend(UiKind::Auto);
    if (!state.backend) return last_resort_backend();
    return *state.backend;
  } catch (...) {
    return last_resort_backend();
  }
}

void ui_install(std::unique_ptr<UiBackend> backend) {
  try {
    UiState& state = ui_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    replace_backend(state, std::move(backend));
  } catch (...) {
  }
}

void ui_set_trace_sink(std::function<void(const std::string&)> sink) {
  UiState& state = ui_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.trace_sink = std::move(sink);
}

namespace {
std::atomic<bool> open_line{false};
}  // namespace

void ui_mark_open_line(bool open) { open_line.store(open); }

void ui_end_open_line() {
  if (open_line.exchange(false)) {
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
}

void ui_trace(const std::string& line) {
  try {
    std::function<void(const std::string&)> sink;
    {
      UiState& state = ui_state();
      std::lock_guard<std::mutex> lock(state.mutex);
      sink = state.trace_sink;
    }
    // Called unlocked: the sink writes the log, which may itself show a box.
    if (sink) sink(line);
  } catch (...) {
  }
}

const char* ui_answer_name(UiAnswer answer) {
  switch (answer) {
    case UiAnswer::Ok: return "Ok";
    case UiAnswer::Cancel: return "Cancel";
    case UiAnswer::Yes: return "Yes";
    case UiAnswer::No: return "No";
  }
  return "?";
}

bool ui_buttons_offer(UiButtons buttons, UiAnswer answer) {
  switch (buttons) {
    case UiButtons::Ok: return answer == UiAnswer::Ok;
    case UiButtons::YesNo: return answer == UiAnswer::Yes || answer == UiAnswer::No;
    case UiButtons::YesNoCancel: return answer != UiAnswer::Ok;
    case UiButtons::OkCancel: return answer == UiAnswer::Ok || answer == UiAnswer::Cancel;
  }
  return false;
}

UiAnswer ui_default_answer(UiButtons buttons, UiAnswer wanted) {
  if (ui_buttons_offer(buttons, wanted)) return wanted;
  for (UiAnswer fallback : {UiAnswer::Cancel, UiAnswer::No, UiAnswer::Ok}) {
    if (ui_buttons_offer(buttons, fallback)) return fallback;
  }
  return UiAnswer::Ok;
}

}  // namespace platform
