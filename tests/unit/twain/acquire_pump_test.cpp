// The pump, the waiting text and auto-click without a source: what happens
// to the thread's own messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../test_support.h"
#include "orivane/twain_acquire.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "twain/acquisition/acquire.h"

namespace {

class PumpTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    platform::windows_reset_for_tests();
  }
  void TearDown() override { platform::windows_reset_for_tests(); }

  static void post_to_self(std::uint32_t message, std::uintptr_t wparam = 0) {
    platform::Message m;
    m.message = message;
    m.wparam = wparam;
    platform::queued_message_count();  // the queue exists from its first use
    ASSERT_TRUE(platform::post_thread_message(platform::thread_id(), m));
  }

  static std::vector<platform::Message> drain() {
    std::vector<platform::Message> out;
    platform::Message m;
    while (platform::peek_message(&m, true)) out.push_back(m);
    return out;
  }
};

TEST(WaitingText, ChosenByFullLocaleThenPrimaryLanguage) {
  struct Case {
    std::uint16_t lang;
    const char* expected;
  };
  const Case cases[] = {
      {0x0409, "Waiting for Model X..."},     {0x0809, "Waiting for Model X..."},
      {0x0407, "Warten auf: Model X..."},     {0x0c07, "Warten auf: Model X..."},
      {0x040c, "Attendre: Model X..."},       {0x0410, "Aspettare: Model X..."},
      {0x0416, "A espera para: Model X..."},  {0x0816, "A espera para: Model X..."},
      {0x080a, "Esperar: Model X..."},        {0x0411, "Waiting for Model X..."},
  };
  for (const Case& c : cases)
    EXPECT_EQ(twain::waiting_text(c.lang, "Model X"), c.expected) << std::hex << c.lang;
}

TEST(AutoClick, CaptionsMatchWithoutAmpersandsInAnyCase) {
  struct Case {
    const char* text;
    const char* caption;
    bool matches;
  };
  const Case cases[] = {
      {"&Scan", "", true},          {"SCAN NOW", "", true},      {"Start Scan", "", true},
      {"&Acquire", "", true},       {"Capture", "", true},       {"Take &Picture", "", true},
      {"Scan 2 pages", "", true},   {"Scanner", "", false},      {"Prescan", "", false},
      {"Cancel", "", false},        {"&Go", "go", true},         {"Scan", "go", false},
      {"Go!", "GO", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(twain::auto_click_matches(c.text, c.caption), c.matches)
        << c.text << " / " << c.caption;
}

TEST_F(PumpTest, AutoClickPressesTheFirstVisibleEnabledButton) {
  const platform::WindowHandle dialog = platform::window_create("Device dialog");
  const platform::WindowHandle hidden = platform::window_create_button(dialog, "Scan", 1);
  const platform::WindowHandle disabled = platform::window_create_button(dialog, "Scan", 2);
  const platform::WindowHandle panel = platform::window_create_button(dialog, "Options", 3);
  platform::window_create_button(panel, "&Scan now", 4);
  platform::window_set_visible(hidden, false);
  platform::window_enable(disabled, false);
  std::vector<platform::Message> to_dialog, to_panel;
  platform::window_set_procedure(dialog, [&](const platform::Message& m) { to_dialog.push_back(m); });
  platform::window_set_procedure(panel, [&](const platform::Message& m) { to_panel.push_back(m); });

  TWAIN_AutoClickButton(nullptr);
  post_to_self(twain::kMsgAutoClick);
  TWAIN_PumpMessages(2);

  EXPECT_TRUE(to_dialog.empty()) << "the click reaches the button's own parent";
  ASSERT_EQ(to_panel.size(), 1u);
  EXPECT_EQ(to_panel[0].message, platform::kMsgCommand);
  EXPECT_EQ(to_panel[0].wparam, 4u);
  EXPECT_EQ(platform::window_title(static_cast<platform::WindowHandle>(to_panel[0].lparam)),
            "&Scan now");
  EXPECT_FALSE(twain::acquisition().auto_click);
  EXPECT_TRUE(drain().empty());
}

TEST_F(PumpTest, AutoClickWithoutAMatchTriesAgainLater) {
  const platform::WindowHandle dialog = platform::window_create("Device dialog");
  platform::window_create_button(dialog, "Scan", 1);
  TWAIN_AutoClickButton("Go");
  post_to_self(twain::kMsgAutoClick);
  TWAIN_PumpMessages(2);
  EXPECT_TRUE(twain::acquisition().auto_click);
  const auto left = drain();
  ASSERT_EQ(left.size(), 1u) << "one retry queued, the round ended";
  EXPECT_EQ(left[0].message, twain::kMsgAutoClick);
}

TEST_F(PumpTest, QuitIsPutBackWithItsCodeAndEndsTheRound) {
  const platform::WindowHandle w = platform::window_create("App");
  int dispatched = 0;
  platform::window_set_procedure(w, [&](const platform::Message&) { ++dispatched; });
  post_to_self(platform::kMsgQuit, 7);
  platform::Message later;
  later.window = w;
  later.message = platform::kMsgUser;
  platform::post_message(later);

  TWAIN_PumpMessages(2);
  EXPECT_EQ(dispatched, 0) << "the round stops at the quit";
  TWAIN_PumpMessages(2);
  EXPECT_EQ(dispatched, 1);
  const auto left = drain();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].message, platform::kMsgQuit);
  EXPECT_EQ(left[0].wparam, 7u);
}

TEST_F(PumpTest, FlushDispatchesWhatWaitsAndKeepsTheQuit) {
  const platform::WindowHandle w = platform::window_create("App");
  std::vector<std::uint32_t> seen;
  platform::window_set_procedure(w, [&](const platform::Message& m) {
    seen.push_back(m.message);
    // Posted while flushing: left for later.
    platform::Message again = m;
    again.message = m.message + 100;
    if (m.message < platform::kMsgUser + 100) platform::post_message(again);
  });
  for (std::uint32_t i = 0; i < 3; ++i) {
    platform::Message m;
    m.window = w;
    m.message = platform::kMsgUser + i;
    platform::post_message(m);
  }
  post_to_self(platform::kMsgQuit, 3);
  TWAIN_FlushMessageQueue();
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{platform::kMsgUser, platform::kMsgUser + 1,
                                              platform::kMsgUser + 2}));
  const auto left = drain();
  ASSERT_EQ(left.size(), 4u);
  EXPECT_EQ(left.back().message, platform::kMsgQuit);
}

TEST_F(PumpTest, WaitBelowStateFiveAnswersAtOnce) {
  EXPECT_EQ(twain::wait_for_state_change(-1, -1), 0);
  EXPECT_EQ(TWAIN_WaitForNativeXfer(0), 0u);
  EXPECT_EQ(TWAIN_MessageHook(nullptr), 0);
}

TEST_F(PumpTest, DestroyingAWindowDestroysItsControls) {
  const platform::WindowHandle dialog = platform::window_create("Dialog");
  const platform::WindowHandle group = platform::window_create_button(dialog, "Group", 1);
  const platform::WindowHandle inner = platform::window_create_button(group, "Inner", 2);
  const platform::WindowHandle other = platform::window_create_button(dialog, "Other", 3);
  EXPECT_EQ(platform::window_children(dialog),
            (std::vector<platform::WindowHandle>{group, inner, other}));
  EXPECT_EQ(platform::window_top(), dialog);
  ASSERT_TRUE(platform::window_destroy(dialog));
  for (platform::WindowHandle w : {group, inner, other}) EXPECT_FALSE(platform::window_is_valid(w));
}

TEST(Clipboard, OneSlotHoldsTheLastTextOrImage) {
  platform::clipboard_clear();
  EXPECT_FALSE(platform::clipboard_set_dib(nullptr, 4));
  EXPECT_EQ(platform::clipboard_get().format, platform::ClipboardFormat::Empty);
  ASSERT_TRUE(platform::clipboard_set_text("abc"));
  const unsigned char dib[] = {40, 0, 0, 0, 1, 2};
  ASSERT_TRUE(platform::clipboard_set_dib(dib, sizeof dib));
  const platform::ClipboardContent c = platform::clipboard_get();
  EXPECT_EQ(c.format, platform::ClipboardFormat::Dib);
  EXPECT_EQ(c.bytes, std::vector<std::uint8_t>(dib, dib + sizeof dib));
  platform::clipboard_clear();
}

}  // namespace
