// The back end for a person at a terminal: boxes and questions on standard
// error, answers read as lines from standard input.
#include "platform/ui.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <vector>

namespace platform {
namespace {

// A person who keeps typing something else gets the default after this many
// tries instead of a question that never ends (a script feeding junk).
constexpr int kMaxAttempts = 3;
// Longer answers are junk; the rest of the line is read and dropped.
constexpr std::size_t kMaxAnswerLength = 64;
// A file name typed into the save dialog: the longest path there is.
constexpr std::size_t kMaxPathLength = 4096;
// Interrupted reads are retried this often before the input counts as closed.
constexpr int kMaxInterruptedReads = 8;

constexpr UiAnswer kAllAnswers[] = {UiAnswer::Yes, UiAnswer::No, UiAnswer::Ok,
                                    UiAnswer::Cancel};

char answer_letter(UiAnswer answer) {
  switch (answer) {
    case UiAnswer::Ok: return 'o';
    case UiAnswer::Cancel: return 'c';
    case UiAnswer::Yes: return 'y';
    case UiAnswer::No: return 'n';
  }
  return '?';
}

char to_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char to_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equals_ignoring_case(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (to_lower(a[i]) != to_lower(b[i])) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// "[Y/n/c]": the offered answers by letter, the default in capitals.
std::string choices_text(UiButtons buttons, UiAnswer default_answer) {
  std::string text = "[";
  for (UiAnswer a : kAllAnswers) {
    if (!ui_buttons_offer(buttons, a)) continue;
    if (text.size() > 1) text += '/';
    text += a == default_answer ? to_upper(answer_letter(a)) : answer_letter(a);
  }
  return text + "]";
}

std::string trim(const std::string& s) {
  const char* blanks = " \t\r\n";
  const std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// The offered answer `typed` names by letter or by word; false if none.
bool parse_answer(const std::string& typed, UiButtons buttons, UiAnswer* out_answer) {
  for (UiAnswer a : kAllAnswers) {
    if (!ui_buttons_offer(buttons, a)) continue;
    const char letter[2] = {answer_letter(a), '\0'};
    if (equals_ignoring_case(typed, letter) || equals_ignoring_case(typed, ui_answer_name(a))) {
      *out_answer = a;
      return true;
    }
  }
  return false;
}

// Reads one line (without its end, at most `max_length` characters kept);
// false when the input is closed or broken before anything was read.
bool read_line(std::FILE* in, std::string* out_line, std::size_t max_length = kMaxAnswerLength) {
  out_line->clear();
  bool got_any = false;
  int interrupted = 0;
  for (;;) {
    const int c = std::getc(in);
    if (c == EOF) {
      if (std::ferror(in) && errno == EINTR && ++interrupted <= kMaxInterruptedReads) {
        std::clearerr(in);
        continue;
      }
      return got_any;
    }
    got_any = true;
    if (c == '\n') return true;
    if (out_line->size() <= max_length) out_line->push_back(static_cast<char>(c));
  }
}

void write_text(std::FILE* out, const std::string& text) {
  if (out == stderr) ui_end_open_line();
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

// The extension of a name's last component, with its dot ("" when none).
std::string extension_of(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return name.substr(dot);
}

// The patterns of a type ("*.tif;*.tiff") as extensions with their dots.
std::vector<std::string> pattern_extensions(const std::string& pattern) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= pattern.size()) {
    std::size_t end = pattern.find(';', start);
    if (end == std::string::npos) end = pattern.size();
    const std::string one = pattern.substr(start, end - start);
    if (one.rfind("*.", 0) == 0) out.push_back(one.substr(1));
    start = end + 1;
  }
  return out;
}

// The type a typed extension names, else `fallback`.
int type_of_extension(const UiSaveRequest& request, const std::string& extension, int fallback) {
  for (std::size_t i = 0; i < request.types.size(); ++i) {
    for (const std::string& e : pattern_extensions(request.types[i].pattern)) {
      if (equals_ignoring_case(extension, e.c_str())) return static_cast<int>(i);
    }
  }
  return fallback;
}

class TerminalUi final : public UiBackend {
 public:
  TerminalUi(std::FILE* in, std::FILE* out) : in_(in), out_(out) {}

  const char* name() const override { return "terminal"; }

  void message_box(const std::string& caption, const std::string& text, UiIcon) override {
    try {
      std::lock_guard<std::mutex> lock(mutex_);
      std::string line = caption + ": " + text;
      if (line.back() != '\n') line += '\n';
      write_text(out_, line);
      ui_trace("MessageBox(" + caption + "): " + text);
    } catch (...) {
    }
  }

  void progress_show(const std::string& caption) override {
    progress_caption_ = caption;
    progress_update(0);
  }
  void progress_update(double fraction) override {
    if (progress_caption_.empty()) return;
    const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100);
    std::fprintf(out_, "\r%s %3d%%\033[K", progress_caption_.c_str(), percent);
    std::fflush(out_);
    ui_mark_open_line(true);
  }
  void progress_close() override {
    if (progress_caption_.empty()) return;
    progress_caption_.clear();
    ui_mark_open_line(false);
    std::fputc('\n', out_);
    std::fflush(out_);
  }

  bool save_dialog(const UiSaveRequest& request, UiSaveAnswer* out_answer) override {
    try {
      std::lock_guard<std::mutex> lock(mutex_);
      std::string how;
      const bool chosen = save_locked(request, out_answer, &how);
      ui_trace("Save dialog(" + request.title + ") => " + how);
      return chosen;
    } catch (...) {
      return false;
    }
  }

  UiAnswer ask(const std::string& caption, const std::string& text, UiButtons buttons,
               UiAnswer default_answer) override {
    const UiAnswer fallback = ui_default_answer(buttons, default_answer);
    try {
      // One question at a time: two threads asking at once would interleave
      // their prompts and steal each other's answers.
      std::lock_guard<std::mutex> lock(mutex_);
      std::string how;
      const UiAnswer answer = ask_locked(caption, text, buttons, fallback, &how);
      ui_trace("Question(" + caption + "): " + text + " => " + how);
      return answer;
    } catch (...) {
      return fallback;
    }
  }

 private:
  UiAnswer ask_locked(const std::string& caption, const std::string& text, UiButtons buttons,
                      UiAnswer fallback, std::string* out_how) {
    const std::string prompt = caption + ": " + text + " " + choices_text(buttons, fallback) + " ";
    std::string line;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
      write_text(out_, prompt);
      if (!read_line(in_, &line)) {
        write_text(out_, "\n");  // end the prompt line the answer never ended
        *out_how = std::string("default answer ") + ui_answer_name(fallback) + " (input closed)";
        return fallback;
      }
      const std::string typed = trim(line);
      if (typed.empty()) {
        *out_how = std::string("default answer ") + ui_answer_name(fallback) + " (Enter)";
        return fallback;
      }
      UiAnswer answer = fallback;
      if (parse_answer(typed, buttons, &answer)) {
        *out_how = ui_answer_name(answer);
        return answer;
      }
      write_text(out_, "Please answer " + choices_text(buttons, fallback) + ".\n");
    }
    *out_how = std::string("default answer ") + ui_answer_name(fallback) + " (no valid answer)";
    write_text(out_, std::string("Taking ") + ui_answer_name(fallback) + ".\n");
    return fallback;
  }

  // The types, then the name: an empty line cancels, a name without an
  // extension is of the preselected type, one with an extension of the type
  // it names. A name that exists is taken only when the user says so.
  bool save_locked(const UiSaveRequest& request, UiSaveAnswer* out_answer, std::string* out_how) {
    if (request.types.empty()) {
      *out_how = "cancelled (no file types)";
      return false;
    }
    const int preselected = std::clamp(request.chosen_type, 0, static_cast<int>(request.types.size()) - 1);
    write_text(out_, request.title + "\n");
    for (std::size_t i = 0; i < request.types.size(); ++i) {
      const char* mark = static_cast<int>(i) == preselected ? "  * " : "    ";
      write_text(out_, mark + request.types[i].label + "\n");
    }
    std::string line;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
      write_text(out_, "File name (Enter to cancel): ");
      if (!read_line(in_, &line, kMaxPathLength)) {
        write_text(out_, "\n");
        *out_how = "cancelled (input closed)";
        return false;
      }
      const std::string typed = trim(line);
      if (typed.empty() || typed.size() > kMaxPathLength) {
        *out_how = "cancelled";
        return false;
      }
      const std::string extension = extension_of(typed);
      const int type = extension.empty() ? preselected : type_of_extension(request, extension, preselected);
      std::string final_name = typed;
      if (extension.empty()) {
        const std::vector<std::string> own = pattern_extensions(request.types[type].pattern);
        if (!own.empty()) final_name += own.front();
      }
      std::string ignored;
      if (request.ask_overwrite && ::access(final_name.c_str(), F_OK) == 0 &&
          ask_locked("Save", final_name + " exists. Replace it?", UiButtons::YesNo, UiAnswer::No, &ignored) !=
              UiAnswer::Yes) {
        continue;
      }
      out_answer->path = typed;
      out_answer->type = type;
      *out_how = typed;
      return true;
    }
    *out_how = "cancelled (no name taken)";
    return false;
  }

  std::FILE* in_;
  std::FILE* out_;
  std::mutex mutex_;
  std::string progress_caption_;  // empty while no progress line is shown
};

}  // namespace

std::unique_ptr<UiBackend> make_terminal_ui() { return make_terminal_ui(stdin, stderr); }

std::unique_ptr<UiBackend> make_terminal_ui(std::FILE* input, std::FILE* output) {
  try {
    return std::make_unique<TerminalUi>(input, output);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace platform
