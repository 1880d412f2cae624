// The back end for runs with no one watching (scripts, services, pipes):
// boxes go to standard error, questions take their default, nothing blocks.
#include "platform/ui.h"

#include <cstdio>

namespace platform {
namespace {

// "<caption>: <text>" ending in exactly one newline, written in one call so
// that lines from several threads do not interleave mid-line.
void write_to_stderr(const std::string& caption, const std::string& text) {
  std::string line = caption + ": " + text;
  if (line.back() != '\n') line += '\n';
  ui_end_open_line();
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

class NonInteractiveUi final : public UiBackend {
 public:
  const char* name() const override { return "non-interactive"; }

  void message_box(const std::string& caption, const std::string& text, UiIcon) override {
    try {
      write_to_stderr(caption, text);
      ui_trace("MessageBox(" + caption + "): " + text);
    } catch (...) {
    }
  }

  UiAnswer ask(const std::string& caption, const std::string& text, UiButtons buttons,
               UiAnswer default_answer) override {
    const UiAnswer answer = ui_default_answer(buttons, default_answer);
    try {
      const std::string taken = std::string("default answer ") + ui_answer_name(answer) +
                                " (no one to ask)";
      write_to_stderr(caption, text + (text.empty() || text.back() != '\n' ? "\n" : "") +
                                   "=> " + taken);
      ui_trace("Question(" + caption + "): " + text + " => " + taken);
    } catch (...) {
    }
    return answer;
  }
};

}  // namespace

std::unique_ptr<UiBackend> make_noninteractive_ui() {
  try {
    return std::make_unique<NonInteractiveUi>();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace platform
