// Auto-click: some sources show a dialog that does nothing until its scan
// button is pressed, even when the application only wants the pages. When a
// wait starts, a private thread message runs a search for that button among
// the controls of the topmost window and of the foreground window; the first
// visible, enabled button with the wanted caption is pressed by sending its
// parent the command message a click sends. Until one is found the search
// runs again on every round of the wait.
#include "twain/acquisition/acquire.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <string_view>

#include "log/trace.h"
#include "platform/clock.h"

namespace twain {
namespace {

// Longest caption kept.
constexpr std::size_t kMaxCaption = 63;

// Captions of a scan button when the application names none.
constexpr std::array<std::string_view, 6> kUsualCaptions = {
    "scan", "scan now", "start scan", "acquire", "capture", "take picture"};

std::string lower_without_ampersands(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '&') out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return out;
}

bool clickable(platform::WindowHandle w) {
  return platform::window_is_button(w) && platform::window_is_visible(w) &&
         platform::window_is_enabled(w);
}

platform::WindowHandle find_button_under(platform::WindowHandle top, const std::string& caption) {
  if (top == 0) return 0;
  for (platform::WindowHandle child : platform::window_children(top))
    if (clickable(child) && auto_click_matches(platform::window_title(child), caption)) return child;
  return 0;
}

void click(platform::WindowHandle button) {
  platform::Message m;
  m.window = platform::window_parent(button);
  m.message = platform::kMsgCommand;
  m.wparam = static_cast<std::uintptr_t>(platform::window_control_id(button));
  m.lparam = static_cast<std::intptr_t>(button);
  LogPrint("AutoClick: pressing '%s'\n", platform::window_title(button).c_str());
  platform::post_message(m);
}

}  // namespace

bool auto_click_matches(const std::string& text, const std::string& caption) {
  const std::string t = lower_without_ampersands(text);
  if (!caption.empty()) return t == lower_without_ampersands(caption);
  if (std::find(kUsualCaptions.begin(), kUsualCaptions.end(), t) != kUsualCaptions.end())
    return true;
  return t.compare(0, 5, "scan ") == 0;
}

void auto_click_post() {
  platform::Message m;
  m.message = kMsgAutoClick;
  platform::post_thread_message(platform::thread_id(), m);
}

bool auto_click_run() {
  Acquisition& a = acquisition();
  if (!a.auto_click) return false;
  platform::WindowHandle button = find_button_under(platform::window_top(), a.auto_click_caption);
  if (button == 0) button = find_button_under(platform::window_active(), a.auto_click_caption);
  if (button != 0) {
    click(button);
    a.auto_click = false;
    return false;
  }
  auto_click_post();
  return true;
}

}  // namespace twain

void TWAIN_AutoClickButton(const char* caption) {
  twain::Acquisition& a = twain::acquisition();
  a.auto_click = true;
  a.auto_click_caption = caption ? std::string(caption).substr(0, twain::kMaxCaption) : "";
}
