#include "platform/window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/clock.h"
#include "platform/memblock.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { windows_reset_for_tests(); }
  void TearDown() override { windows_reset_for_tests(); }
};

Message user_message(WindowHandle w, std::uintptr_t tag) { return Message{w, kMsgUser, tag, 0}; }

// The tag of the oldest queued message, taking it; 0 when the queue is empty.
std::uintptr_t take() {
  Message m;
  return peek_message(&m, true) ? m.wparam : 0;
}

TEST_F(WindowTest, RecordKeepsItsFacts) {
  WindowHandle w = window_create("Scan");
  ASSERT_NE(w, 0u);
  EXPECT_EQ(window_title(w), "Scan");
  EXPECT_EQ(window_thread(w), thread_id());
  EXPECT_TRUE(window_enable(w, false)) << "returns the previous state";
  EXPECT_FALSE(window_is_enabled(w));
  EXPECT_FALSE(window_enable(w, true));
  EXPECT_TRUE(window_activate(w));
  EXPECT_EQ(window_active(), w);
  window_destroy(w);
  EXPECT_EQ(window_active(), 0u);
}

TEST_F(WindowTest, FindReturnsFirstCreatedEvenAfterSlotReuse) {
  WindowHandle filler = window_create("filler");
  WindowHandle first = window_create("Twin");
  window_destroy(filler);
  WindowHandle second = window_create("Twin");  // takes the lower, freed slot
  EXPECT_EQ(window_find("Twin"), first);
  window_destroy(first);
  EXPECT_EQ(window_find("Twin"), second);
}

TEST_F(WindowTest, StaleAndForeignHandlesAreRefused) {
  WindowHandle destroyed = window_create("gone");
  window_destroy(destroyed);
  WindowHandle reused = window_create("new");  // same slot, new generation
  WindowHandle before_reset = window_create("before");
  windows_reset_for_tests();
  MemHandle block = mem_alloc(4);
  for (WindowHandle w : {WindowHandle{1}, WindowHandle{0xdeadbeef}, destroyed, reused,
                         before_reset, WindowHandle{block}}) {
    SCOPED_TRACE(w);
    EXPECT_FALSE(window_is_valid(w));
    EXPECT_FALSE(window_destroy(w));
    EXPECT_FALSE(window_enable(w, true));
    EXPECT_EQ(window_thread(w), 0);
    EXPECT_EQ(window_title(w), "");
    EXPECT_FALSE(window_activate(w));
    EXPECT_FALSE(post_message(user_message(w, 1)));
  }
  EXPECT_EQ(window_find("before"), 0u);
  EXPECT_EQ(window_create("owned", destroyed), 0u) << "an invalid owner is refused";
  mem_free(block);
}

TEST_F(WindowTest, QueueIsFirstInFirstOutAndDestroyDropsOnlyThatWindowsMessages) {
  WindowHandle doomed = window_create("doomed");
  WindowHandle kept = window_create("kept");
  post_message(user_message(doomed, 1));
  post_message(user_message(kept, 2));
  post_message(user_message(doomed, 3));
  ASSERT_TRUE(post_thread_message(thread_id(), user_message(0, 4)));
  Message m;
  ASSERT_TRUE(peek_message(&m, false));
  EXPECT_EQ(m.wparam, 1u) << "a look leaves the message queued";
  ASSERT_TRUE(window_destroy(doomed));
  EXPECT_EQ(queued_message_count(), 2u);
  EXPECT_EQ(take(), 2u);
  EXPECT_EQ(take(), 4u);
  EXPECT_EQ(take(), 0u);
}

TEST_F(WindowTest, ThreadMessageNeedsAThreadThatUsedItsQueue) {
  EXPECT_FALSE(post_thread_message(0x7ffffff0, user_message(0, 1)));
  queued_message_count();  // the calling thread now has a queue
  EXPECT_TRUE(post_thread_message(thread_id(), user_message(0, 1)));
  EXPECT_EQ(take(), 1u);
}

TEST_F(WindowTest, WaitTimesOutOnEmptyQueue) {
  const auto start = Clock::now();
  EXPECT_FALSE(wait_message(40));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(35));
  EXPECT_LT(waited, std::chrono::seconds(2));
}

TEST_F(WindowTest, PostFromAnotherThreadWakesTheOwnersWait) {
  std::promise<WindowHandle> created;
  auto worker = std::async(std::launch::async, [&created] {
    WindowHandle w = window_create("worker");
    created.set_value(w);
    const auto start = Clock::now();
    const bool woke = wait_message(5000);
    const bool in_time = Clock::now() - start < std::chrono::seconds(4);
    Message m;
    return woke && in_time && peek_message(&m, true) && m.window == w && m.wparam == 42;
  });
  WindowHandle w = created.get_future().get();
  EXPECT_NE(window_thread(w), thread_id());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it start waiting
  ASSERT_TRUE(post_message(user_message(w, 42)));
  EXPECT_TRUE(worker.get()) << "the post must wake the wait, not its timeout";
  EXPECT_EQ(queued_message_count(), 0u) << "nothing lands in the poster's queue";
}

}  // namespace
}  // namespace platform
