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
  UiWindowFactory window_factory = nullptr;
  // The back end was chosen by the automatic rule (not selected or installed).
  bool automatic = false;
};

// Never destroyed: a box may be shown from a static destructor or a thread
// still running at exit.
UiState& ui_state() {
  static UiState* state = new UiState;
  return *state;
}

// Without windows: both ends must be a terminal, since a question written to
// a terminal but answered from a file (or the reverse) has no one on the
// other side.
UiKind kind_without_windows() {
  return ::isatty(0) && ::isatty(2) ? UiKind::Terminal : UiKind::NonInteractive;
}

UiKind automatic_kind() {
  if (const char* forced = std::getenv("QUILLET_UI")) {
    if (::strcasecmp(forced, "none") == 0) return UiKind::NonInteractive;
    if (::strcasecmp(forced, "terminal") == 0) return UiKind::Terminal;
    if (::strcasecmp(forced, "window") == 0) return UiKind::Window;
  }
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0') return UiKind::Window;
  return kind_without_windows();
}

// Caller holds the state mutex.
std::unique_ptr<UiBackend> make_backend(UiState& state, UiKind kind) {
  if (kind == UiKind::Auto) kind = automatic_kind();
  if (kind == UiKind::Window) {
    std::unique_ptr<UiBackend> window =
        state.window_factory != nullptr ? state.window_factory() : nullptr;
    if (window) return window;
    kind = kind_without_windows();
  }
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
    UiState& state = ui_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    replace_backend(state, make_backend(state, kind));
    state.automatic = false;
  } catch (...) {
  }
}

void ui_register_window_backend(UiWindowFactory factory) {
  UiState& state = ui_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.window_factory = factory;
  if (state.automatic && state.backend) {
    state.retired.push_back(std::move(state.backend));
    state.automatic = false;
  }
}

UiBackend& ui() {
  try {
    UiState& state = ui_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.backend) {
      state.backend = make_backend(state, UiKind::Auto);
      state.automatic = true;
    }
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
    state.automatic = false;
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

namespace {

std::string list_question(const std::vector<std::string>& names, std::size_t candidate) {
  std::string text = "Sources:\n";
  for (std::size_t i = 0; i < names.size(); ++i)
    text += (i == candidate ? "  > " : "    ") + names[i] + "\n";
  text += "Use \"" + names[candidate] + "\"? (No shows the next source)";
  return text;
}

}  // namespace

UiReviewEnd UiBackend::review(const UiReviewRequest& request, std::uintptr_t*) {
  const bool file_mode = !request.file.empty();
  const UiAnswer answer =
      file_mode ? ask("File review", "Keep " + request.file + "?", UiButtons::YesNoCancel,
                      UiAnswer::Yes)
                : ask("Review", "Keep this page?", UiButtons::YesNoCancel, UiAnswer::Yes);
  switch (answer) {
    case UiAnswer::Yes: return UiReviewEnd::Accept;
    case UiAnswer::No: return UiReviewEnd::Reject;
    case UiAnswer::Cancel: return UiReviewEnd::Cancel;
    default: return UiReviewEnd::Other;
  }
}

std::optional<std::size_t> UiBackend::choose_from_list(const std::string& caption,
                                                       const std::vector<std::string>& names,
                                                       std::size_t preselected) {
  if (names.empty() || preselected >= names.size()) return std::nullopt;
  if (names.size() == 1) return 0;
  for (std::size_t step = 0; step < names.size(); ++step) {
    const std::size_t candidate = (preselected + step) % names.size();
    const UiAnswer answer =
        ask(caption, list_question(names, candidate), UiButtons::YesNoCancel, UiAnswer::Yes);
    if (answer == UiAnswer::Yes) return candidate;
    if (answer == UiAnswer::Cancel) return std::nullopt;
  }
  return std::nullopt;
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
