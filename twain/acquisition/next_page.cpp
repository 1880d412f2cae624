// The next-page question asked between the pages of a document, in the
// user's language, and the library's file-name increment.
#include "twain/acquisition/next_page.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/app_identity.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/twain_acquire.h"
#include "platform/locale.h"
#include "platform/ui.h"
#include "platform/window.h"
#include "twain/session/session.h"

namespace twain {

NextPagePrompt& next_page_prompt() {
  static NextPagePrompt p;
  return p;
}

namespace {

struct NextPageText {
  int language;  // primary language id
  const char* text;
};

// English first: it is the answer when no entry matches.
constexpr NextPageText kTexts[] = {
    {0x09, "Would you like to scan more pages?"},
    {0x06, "Kunne du tænke dig at scanne mere sider?"},
    {0x13, "Wil u nog bijkomende pagina's scannen?"},
    {0x0C, "Souhaitez-vous numériser d'autres pages?"},
    {0x07, "Möchten Sie noch Seiten scannen?"},
    {0x10, "Continuare la scansione?"},
    {0x14, "Fortsette skanningen?"},
    {0x15, "Kontynuowac skanowanie?"},
    {0x16, "Quer fazer scan de mais páginas?"},
    {0x0A, "¿Queréis escanear más páginas?"},
    {0x1D, "Fortsätta skanna?"},
};

}  // namespace

const char* next_page_text(std::uint16_t lang_id) {
  for (const NextPageText& t : kTexts) {
    if (t.language == lang_id) return t.text;
  }
  for (const NextPageText& t : kTexts) {
    if (t.language == platform::locale_primary(lang_id)) return t.text;
  }
  return kTexts[0].text;
}

int AskForNextPage(platform::WindowHandle window) {
  const char* text = next_page_text(platform::locale_get());
  if (!platform::window_is_valid(window)) {
    window = platform::window_active();
    LogPrint("using hwnd=GetActiveWindow()=%08lx\n", static_cast<unsigned long>(window));
  }
  LogPrint("Prompt for next page => ");
  // Nobody at a terminal cannot place another sheet: a run without a person
  // ends its document instead of waiting for paper that never comes.
  const bool nobody = std::strcmp(platform::ui().name(), "non-interactive") == 0;
  const platform::UiAnswer wanted =
      nobody || next_page_prompt().default_answer == 0 ? platform::UiAnswer::No : platform::UiAnswer::Yes;
  const platform::UiAnswer answer =
      platform::ui().ask(core::app_identity().title, text, platform::UiButtons::YesNo, wanted);
  if (answer == platform::UiAnswer::No) {
    LogPrint("IDNO\n");
    return 0;
  }
  LogPrint("IDYES\n");
  return 1;
}

}  // namespace twain

int TWAIN_PromptToContinue(uintptr_t window) {
  LogApiCall("PromptToContinue(0x%08lx)\n", static_cast<unsigned long>(window));
  return twain::AskForNextPage(window);
}

int TWAIN_SetDefaultScanAotherPagePrompt(int answer) {
  LogApiCall("SetDefaultScanAotherPagePrompt(%d)\n", answer);
  const int previous = twain::next_page_prompt().default_answer;
  twain::next_page_prompt().default_answer = answer != 0 ? 1 : 0;
  return previous;
}

namespace {

// The next-page question's default answer: the program's setting.
const bool kNextPageRegistered =
    core::register_state({"twain.next_page_prompt", [] { twain::next_page_prompt() = twain::NextPagePrompt{}; }});

}  // namespace
