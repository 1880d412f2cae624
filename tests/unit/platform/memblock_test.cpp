#include "platform/memblock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "platform/window.h"

namespace platform {
namespace {

unsigned char* bytes(MemHandle h) { return static_cast<unsigned char*>(mem_lock(h)); }

TEST(MemBlock, ResizeKeepsContentsAndZeroesNewBytes) {
  MemHandle h = mem_alloc(4);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(std::memcmp(bytes(h), "\0\0\0\0", 4), 0) << "alloc zero-fills";
  std::memcpy(bytes(h), "abcd", 4);
  ASSERT_EQ(mem_realloc(h, 4096), h);
  EXPECT_EQ(std::memcmp(bytes(h), "abcd", 4), 0);
  for (int i = 4; i < 4096; ++i) ASSERT_EQ(bytes(h)[i], 0) << "grown byte " << i;
  // Bytes cut by a shrink come back as zero, not as what they were.
  ASSERT_EQ(mem_realloc(h, 2), h);
  ASSERT_EQ(mem_realloc(h, 6), h);
  EXPECT_EQ(std::memcmp(bytes(h), "ab\0\0\0\0", 6), 0);
  // A zero-size block is still a block whose lock gives an address.
  ASSERT_EQ(mem_realloc(h, 0), h);
  EXPECT_EQ(mem_size(h), 0u);
  EXPECT_NE(mem_lock(h), nullptr);
  EXPECT_TRUE(mem_free(h));
  MemHandle empty = mem_alloc(0);
  EXPECT_TRUE(mem_is_valid(empty));
  EXPECT_TRUE(mem_free(empty));
}

TEST(MemBlock, AbsurdSizesAreRefusedAndLeaveTheBlockAlone) {
  for (std::size_t size : {SIZE_MAX, SIZE_MAX / 2, (std::size_t{1} << 32) + 1}) {
    EXPECT_EQ(mem_alloc(size), 0u) << size;
  }
  MemHandle h = mem_alloc(8);
  std::memcpy(bytes(h), "12345678", 8);
  EXPECT_EQ(mem_realloc(h, SIZE_MAX), 0u);
  EXPECT_EQ(mem_size(h), 8u);
  EXPECT_EQ(std::memcmp(bytes(h), "12345678", 8), 0);
  mem_free(h);
}

TEST(MemBlock, UnlockNeedsAMatchingLock) {
  MemHandle h = mem_alloc(16);
  EXPECT_FALSE(mem_unlock(h));
  EXPECT_EQ(mem_lock(h), mem_lock(h));
  EXPECT_TRUE(mem_unlock(h));
  EXPECT_TRUE(mem_unlock(h));
  EXPECT_FALSE(mem_unlock(h));
  mem_free(h);
}

TEST(MemBlock, StaleAndForeignHandlesAreRefused) {
  MemHandle freed = mem_alloc(8);
  ASSERT_TRUE(mem_free(freed));
  // The freed slot is the next one taken; the generation must tell them apart.
  MemHandle live = mem_alloc(8);
  ASSERT_NE(live, freed);
  windows_reset_for_tests();
  const WindowHandle window = window_create("not a block");
  int local = 0;
  const MemHandle refused[] = {
      freed,  // also: a double free
      1,
      0xdeadbeef,
      reinterpret_cast<MemHandle>(&local),
      reinterpret_cast<MemHandle>(bytes(live)),  // the block's address, not its handle
      (live & ~MemHandle{0xffffff}) | 0xfffffe,  // a slot never handed out
      window,
  };
  for (MemHandle h : refused) {
    SCOPED_TRACE(h);
    EXPECT_FALSE(mem_is_valid(h));
    EXPECT_EQ(mem_lock(h), nullptr);
    EXPECT_FALSE(mem_unlock(h));
    EXPECT_EQ(mem_size(h), 0u);
    EXPECT_EQ(mem_realloc(h, 4), 0u);
    EXPECT_FALSE(mem_free(h));
  }
  EXPECT_EQ(mem_size(live), 8u) << "no refused call may touch the live block";
  EXPECT_TRUE(mem_free(0));
  EXPECT_FALSE(mem_is_valid(0));
  mem_free(live);
  window_destroy(window);
}

TEST(MemBlock, LiveCountFollowsAllocAndFreeAcrossThreads) {
  const std::size_t before = mem_live_count();
  constexpr int kThreads = 4;
  constexpr int kBlocks = 500;
  std::vector<std::vector<MemHandle>> kept(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &kept] {
      for (int i = 0; i < kBlocks; ++i) {
        MemHandle h = mem_alloc(static_cast<std::size_t>(i % 7));
        // Every other block is freed at once so slots get reused under contention.
        if (i % 2 == 0) mem_free(h); else kept[t].push_back(h);
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<MemHandle> distinct;
  for (const auto& handles : kept) distinct.insert(handles.begin(), handles.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kBlocks / 2));
  EXPECT_EQ(mem_live_count(), before + distinct.size());
  for (MemHandle h : distinct) EXPECT_TRUE(mem_free(h));
  EXPECT_EQ(mem_live_count(), before);
}

}  // namespace
}  // namespace platform
