// Capability containers: the exact number conversions, the layouts of the
// four kinds, editing, and handles that must be refused.
#include "orivane/twain_container.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "../test_support.h"
#include "orivane/twain.h"
#include "platform/memblock.h"
#include "twain/capabilities/item_values.h"

namespace {

class ContainerTest : public testing::Test {
 protected:
  void SetUp() override { ResetForTests(); }
  void TearDown() override {
    for (CONTAINER c : made_) CONTAINER_Free(c);
  }
  // Keeps the container for freeing at the end of the test.
  CONTAINER keep(CONTAINER c) {
    EXPECT_NE(c, nullptr);
    made_.push_back(c);
    return c;
  }
  CONTAINER enumeration(int type, std::initializer_list<double> items) {
    CONTAINER c = keep(CONTAINER_Enumeration(type, static_cast<int>(items.size())));
    int i = 0;
    for (double v : items) EXPECT_TRUE(CONTAINER_SetItem(c, i++, v));
    return c;
  }

 private:
  std::vector<CONTAINER> made_;
};

TW_FIX32 fix32_item(CONTAINER c) {
  TW_FIX32 f;
  std::memcpy(&f, CONTAINER_ItemPointer(c, 0), sizeof f);
  return f;
}

TEST_F(ContainerTest, Fix32RoundsHalfAwayFromZero) {
  struct Case {
    double value;
    int whole;
    unsigned frac;
  };
  const Case cases[] = {
      {-0.5, -1, 32768},                 // -32768 / 65536
      {0.4999 / 65536, 0, 0},            // below half a unit
      {0.5 / 65536, 0, 1},               // exactly half: away from zero
      {-0.5 / 65536, -1, 65535},         // -1 / 65536
      {1.5, 1, 32768},
      {-1.25, -2, 49152},
      {150.5, 150, 32768},
      {32767.9999847412, 32767, 65535},  // the largest value
      {-32768, -32768, 0},
      {1e12, 32767, 65535},              // saturates rather than wrapping
      {NAN, 0, 0},
  };
  for (const Case& c : cases) {
    CONTAINER one = keep(CONTAINER_OneValue(TWTY_FIX32, c.value));
    TW_FIX32 f = fix32_item(one);
    EXPECT_EQ(f.Whole, c.whole) << c.value;
    EXPECT_EQ(f.Frac, c.frac) << c.value;
  }
}

TEST_F(ContainerTest, Fix32RoundTripsEveryEighth) {
  CONTAINER one = keep(CONTAINER_OneValue(TWTY_FIX32, 0));
  for (double v = -32768; v <= 32767.875; v += 0.125) {
    ASSERT_TRUE(CONTAINER_SetItem(one, 0, v));
    ASSERT_EQ(CONTAINER_FloatItem(one, 0), v);
  }
  ASSERT_TRUE(CONTAINER_SetItem(one, 0, 32767.9999847412));
  EXPECT_NEAR(CONTAINER_FloatItem(one, 0), 32767.9999847412, 0.000015);
}

TEST_F(ContainerTest, IntegerItemsTruncateAndCutToTheirWidth) {
  struct Case {
    int type;
    double in;
    double out;
  };
  const Case cases[] = {
      {TWTY_INT8, -3.9, -3},          {TWTY_INT8, 200, -56},
      {TWTY_UINT8, 256, 0},           {TWTY_INT16, 40000.7, -25536},
      {TWTY_UINT16, -1, 65535},       {TWTY_UINT16, 150.99, 150},
      {TWTY_INT32, -2.5, -2},         {TWTY_UINT32, 4294967295.0, 4294967295.0},
      {TWTY_UINT32, 4294967296.0, 0}, {TWTY_BOOL, 2, 2},
  };
  for (const Case& c : cases) {
    CONTAINER one = keep(CONTAINER_OneValue(c.type, c.in));
    EXPECT_EQ(CONTAINER_FloatItem(one, 0), c.out) << "type " << c.type << " value " << c.in;
  }
  // The Int readers round half away from zero.
  CONTAINER f = keep(CONTAINER_OneValue(TWTY_FIX32, -2.5));
  EXPECT_EQ(CONTAINER_IntItem(f, 0), -3);
  EXPECT_EQ(CONTAINER_CurrentValueInt(f), -3);
}

TEST_F(ContainerTest, OneValueLayout) {
  struct Case {
    int type;
    std::size_t block;
  };
  // Small items sit in a 4-byte slot; larger ones make the block longer.
  for (const Case& c : {Case{TWTY_INT8, 6}, Case{TWTY_UINT32, 6}, Case{TWTY_FIX32, 6},
                        Case{TWTY_FRAME, 18}, Case{TWTY_STR32, 36}, Case{TWTY_STR255, 258}}) {
    CONTAINER one = keep(CONTAINER_OneValue(c.type, 1));
    auto h = reinterpret_cast<platform::MemHandle>(CONTAINER_Handle(one));
    EXPECT_EQ(platform::mem_size(h), c.block) << c.type;
    EXPECT_EQ(CONTAINER_Format(one), TWON_ONEVALUE);
    EXPECT_EQ(CONTAINER_ItemType(one), c.type);
    EXPECT_EQ(CONTAINER_ItemCount(one), 1);
    EXPECT_TRUE(CONTAINER_IsValid(one));
  }
  EXPECT_EQ(CONTAINER_OneValue(99, 1), nullptr);
}

TEST_F(ContainerTest, RangeWithStepZeroCountsStepsOfOne) {
  CONTAINER r = keep(CONTAINER_Range(TWTY_UINT16, 0, 100, 0));
  EXPECT_EQ(CONTAINER_ItemCount(r), 101);
  EXPECT_EQ(CONTAINER_FloatItem(r, 5), 5);
  EXPECT_EQ(CONTAINER_FloatItem(r, 200), 100);  // clamped to the maximum
  EXPECT_EQ(CONTAINER_FloatItem(r, -1), -1);
  EXPECT_EQ(CONTAINER_StepSize(r), 0);
  // A stored step of 0 is not a valid range, though it can be read.
  EXPECT_FALSE(CONTAINER_IsValid(r));
}

TEST_F(ContainerTest, RangeItemsAndIndexes) {
  CONTAINER r = keep(CONTAINER_Range(TWTY_FIX32, 50, 600, 0.5));
  EXPECT_TRUE(CONTAINER_IsValid(r));
  EXPECT_EQ(CONTAINER_ItemCount(r), 1101);
  EXPECT_EQ(CONTAINER_CurrentValue(r), 50);  // default and current start at min
  EXPECT_EQ(CONTAINER_DefaultValue(r), 50);
  EXPECT_EQ(CONTAINER_FindValue(r, 300.5), 501);
  EXPECT_EQ(CONTAINER_FindValue(r, 300.25), -1);  // between steps
  EXPECT_EQ(CONTAINER_FindValue(r, 600), 1100);
  EXPECT_EQ(CONTAINER_FindValue(r, 49.5), -1);
  ASSERT_TRUE(CONTAINER_SetCurrentIndex(r, 500));
  EXPECT_EQ(CONTAINER_CurrentValue(r), 300);
  EXPECT_EQ(CONTAINER_CurrentIndex(r), 500);
  EXPECT_FALSE(CONTAINER_SetCurrentIndex(r, 1101));
  EXPECT_EQ(CONTAINER_MinValue(r), 50);
  EXPECT_EQ(CONTAINER_MaxValue(r), 600);
  // A range whose last step overshoots ends at its maximum.
  CONTAINER odd = keep(CONTAINER_Range(TWTY_INT32, 0, 10, 4));
  EXPECT_EQ(CONTAINER_ItemCount(odd), 3);
  EXPECT_EQ(CONTAINER_FindValue(odd, 8), 2);
  EXPECT_EQ(CONTAINER_FindValue(odd, 10), -1);
  // Item types that do not fit a range slot are refused; so is an upside-down range's count.
  EXPECT_EQ(CONTAINER_Range(TWTY_FRAME, 0, 1, 1), nullptr);
  EXPECT_EQ(CONTAINER_ItemCount(keep(CONTAINER_Range(TWTY_INT16, 10, 0, 1))), 0);
}

TEST_F(ContainerTest, FindValueTakesTheHighestIndex) {
  CONTAINER e = enumeration(TWTY_UINT16, {100, 200, 200});
  EXPECT_EQ(CONTAINER_FindValue(e, 200), 2);
  EXPECT_EQ(CONTAINER_FindValue(e, 100), 0);
  EXPECT_EQ(CONTAINER_FindValue(e, 300), -1);
  EXPECT_TRUE(CONTAINER_ContainsValue(e, 100));
  EXPECT_FALSE(CONTAINER_ContainsValue(e, 100.5));
}

TEST_F(ContainerTest, DeleteItemLeavesTheIndexesAlone) {
  CONTAINER e = enumeration(TWTY_UINT16, {0, 1, 2});
  ASSERT_TRUE(CONTAINER_SetCurrentIndex(e, 2));
  ASSERT_TRUE(CONTAINER_SetDefaultIndex(e, 1));
  ASSERT_TRUE(CONTAINER_DeleteItem(e, 0));
  EXPECT_EQ(CONTAINER_ItemCount(e), 2);
  EXPECT_EQ(CONTAINER_FloatItem(e, 0), 1);
  EXPECT_EQ(CONTAINER_FloatItem(e, 1), 2);
  EXPECT_EQ(CONTAINER_CurrentIndex(e), 2);    // now past the end
  EXPECT_EQ(CONTAINER_CurrentValue(e), -1);
  EXPECT_EQ(CONTAINER_DefaultValue(e), 2);
  EXPECT_FALSE(CONTAINER_DeleteItem(e, 2));
  EXPECT_FALSE(CONTAINER_DeleteItem(keep(CONTAINER_OneValue(TWTY_UINT16, 1)), 0));
}

TEST_F(ContainerTest, InsertItemGrowsAndShifts) {
  CONTAINER a = keep(CONTAINER_Array(TWTY_UINT32, 0));
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(CONTAINER_InsertItem(a, -1, i));  // append
  ASSERT_TRUE(CONTAINER_InsertItem(a, 0, 4000000000.0));
  ASSERT_TRUE(CONTAINER_InsertItem(a, 500, 7));  // past the end: appended
  ASSERT_EQ(CONTAINER_ItemCount(a), 102);
  EXPECT_EQ(CONTAINER_FloatItem(a, 0), 4000000000.0);
  EXPECT_EQ(CONTAINER_FloatItem(a, 1), 0);
  EXPECT_EQ(CONTAINER_FloatItem(a, 100), 99);
  EXPECT_EQ(CONTAINER_FloatItem(a, 101), 7);
  EXPECT_TRUE(CONTAINER_IsValid(a));

  CONTAINER e = enumeration(TWTY_UINT16, {1, 2});
  ASSERT_TRUE(CONTAINER_SetCurrentIndex(e, 1));
  ASSERT_TRUE(CONTAINER_InsertItem(e, 1, 9));
  EXPECT_EQ(CONTAINER_FloatItem(e, 1), 9);
  EXPECT_EQ(CONTAINER_FloatItem(e, 2), 2);
  EXPECT_EQ(CONTAINER_CurrentIndex(e), 1);
  EXPECT_FALSE(CONTAINER_InsertItem(keep(CONTAINER_Range(TWTY_UINT16, 0, 9, 1)), 0, 3));
}

TEST_F(ContainerTest, ValuesByKind) {
  struct Case {
    const char* name;
    CONTAINER c;
    double current, def, min, max;
    int current_index;
  };
  CONTAINER e = enumeration(TWTY_INT16, {5, -3, 8});
  CONTAINER_SetCurrentIndex(e, 2);
  CONTAINER_SetDefaultIndex(e, 1);
  CONTAINER a = keep(CONTAINER_Array(TWTY_INT16, 2));
  CONTAINER_SetItem(a, 0, 4);
  CONTAINER_SetItem(a, 1, -9);
  const Case cases[] = {
      {"enum", e, 8, -3, -3, 8, 2},
      {"array", a, -1, -1, -9, 4, -1},
      {"one value", keep(CONTAINER_OneValue(TWTY_INT16, 7)), 7, 7, 7, 7, 0},
      {"range", keep(CONTAINER_Range(TWTY_INT16, -10, 10, 5)), -10, -10, -10, 10, 0},
      {"empty enum", keep(CONTAINER_Enumeration(TWTY_INT16, 0)), -1, -1, -1, -1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CONTAINER_CurrentValue(c.c), c.current) << c.name;
    EXPECT_EQ(CONTAINER_DefaultValue(c.c), c.def) << c.name;
    EXPECT_EQ(CONTAINER_MinValue(c.c), c.min) << c.name;
    EXPECT_EQ(CONTAINER_MaxValue(c.c), c.max) << c.name;
    EXPECT_EQ(CONTAINER_CurrentIndex(c.c), c.current_index) << c.name;
  }
  EXPECT_EQ(CONTAINER_StepSize(e), -1);
  EXPECT_FALSE(CONTAINER_SetCurrentIndex(a, 0));
  EXPECT_FALSE(CONTAINER_SetCurrentIndex(keep(CONTAINER_OneValue(TWTY_INT16, 1)), 0));
}

TEST_F(ContainerTest, FormatItemByType) {
  char out[1024];
  CONTAINER b = keep(CONTAINER_OneValue(TWTY_BOOL, 1));
  ASSERT_TRUE(CONTAINER_FormatItem(b, 0, out));
  EXPECT_STREQ(out, "TRUE");
  CONTAINER f = keep(CONTAINER_OneValue(TWTY_FIX32, 0.25));
  ASSERT_TRUE(CONTAINER_FormatItem(f, 0, out));
  EXPECT_STREQ(out, "0.25");
  CONTAINER frame = keep(CONTAINER_Array(TWTY_FRAME, 2));
  ASSERT_TRUE(CONTAINER_SetItemFrame(frame, 1, 0.5, 1, 8.5, 11));
  ASSERT_TRUE(CONTAINER_FormatItem(frame, 1, out));
  EXPECT_STREQ(out, "{0.5, 1, 8.5, 11}");
  double l = 9, t = 9, r = 9, bottom = 9;
  EXPECT_TRUE(CONTAINER_GetItemFrame(frame, 1, &l, &t, &r, &bottom));
  EXPECT_EQ(r, 8.5);
  EXPECT_FALSE(CONTAINER_GetItemFrame(b, 0, &l, &t, &r, &bottom));
  EXPECT_EQ(l + t + r + bottom, 0);  // zeroed even on failure

  // A text is cut to fit its item with the terminator; shown up to 32 characters.
  const std::string long_text(40, 'x');
  CONTAINER s = keep(CONTAINER_OneValue(TWTY_STR32, 0));
  ASSERT_TRUE(CONTAINER_SetItemString(s, 0, long_text.c_str()));
  EXPECT_EQ(std::string(static_cast<const char*>(CONTAINER_ItemPointer(s, 0))), long_text.substr(0, 33));
  ASSERT_TRUE(CONTAINER_FormatItem(s, 0, out));
  EXPECT_EQ(std::string(out), long_text.substr(0, 32));
  EXPECT_FALSE(CONTAINER_SetItemString(b, 0, "text"));
  EXPECT_FALSE(CONTAINER_FormatItem(b, 1, out));
  EXPECT_STREQ(out, "");
}

TEST_F(ContainerTest, CopyAndEqual) {
  CONTAINER e = enumeration(TWTY_UINT16, {1, 2, 3});
  CONTAINER copy = keep(CONTAINER_Copy(e));
  EXPECT_TRUE(CONTAINER_Equal(e, copy));
  EXPECT_TRUE(CONTAINER_Equal(e, e));
  CONTAINER_SetCurrentIndex(copy, 1);
  EXPECT_FALSE(CONTAINER_Equal(e, copy));  // the indexes count for enumerations
  CONTAINER_SetCurrentIndex(copy, 0);
  CONTAINER_SetItem(copy, 2, 4);
  EXPECT_FALSE(CONTAINER_Equal(e, copy));

  CONTAINER r1 = keep(CONTAINER_Range(TWTY_FIX32, 0, 10, 1));
  CONTAINER r2 = keep(CONTAINER_Range(TWTY_FIX32, 0, 10, 1));
  EXPECT_TRUE(CONTAINER_Equal(r1, r2));
  CONTAINER_SetCurrentIndex(r2, 3);
  EXPECT_FALSE(CONTAINER_Equal(r1, r2));
  EXPECT_FALSE(CONTAINER_Equal(r1, keep(CONTAINER_Range(TWTY_INT32, 0, 10, 1))));
}

TEST_F(ContainerTest, FreedAndForeignHandlesAreRefused) {
  CONTAINER c = CONTAINER_OneValue(TWTY_UINT16, 5);
  const auto block = reinterpret_cast<platform::MemHandle>(CONTAINER_Handle(c));
  CONTAINER_Free(c);
  EXPECT_FALSE(platform::mem_is_valid(block));
  platform::MemHandle not_a_container = block;
  CONTAINER foreign = reinterpret_cast<CONTAINER>(&not_a_container);
  for (CONTAINER bad : {c, foreign, static_cast<CONTAINER>(nullptr)}) {
    EXPECT_FALSE(CONTAINER_IsValid(bad));
    EXPECT_EQ(CONTAINER_Format(bad), -1);
    EXPECT_EQ(CONTAINER_ItemCount(bad), -1);
    EXPECT_EQ(CONTAINER_FloatItem(bad, 0), -1);
    EXPECT_EQ(CONTAINER_CurrentValue(bad), -1);
    EXPECT_EQ(CONTAINER_Handle(bad), nullptr);
    EXPECT_EQ(CONTAINER_Copy(bad), nullptr);
    EXPECT_FALSE(CONTAINER_SetItem(bad, 0, 1));
    EXPECT_FALSE(CONTAINER_Equal(bad, bad));
    CONTAINER_Free(bad);  // no effect, no crash
  }
  // A released container leaves its block to its owner.
  CONTAINER r = CONTAINER_OneValue(TWTY_UINT16, 5);
  const auto kept = reinterpret_cast<platform::MemHandle>(CONTAINER_Handle(r));
  CONTAINER_Release(r);
  EXPECT_TRUE(platform::mem_is_valid(kept));
  EXPECT_FALSE(CONTAINER_IsValid(r));
  platform::mem_free(kept);
}

TEST_F(ContainerTest, BlocksThatLieAboutTheirItemsAreReadSafely) {
  // An enumeration claiming a million UINT16 items in a 20-byte block.
  const platform::MemHandle h = platform::mem_alloc(20);
  auto* p = static_cast<unsigned char*>(platform::mem_lock(h));
  const TW_UINT16 type = TWTY_UINT16;
  const TW_UINT32 count = 1000000;
  std::memcpy(p, &type, 2);
  std::memcpy(p + 2, &count, 4);
  std::memcpy(p + 14, "\x07\x00\x09\x00\x0b\x00", 6);
  platform::mem_unlock(h);
  CONTAINER c = keep(CONTAINER_Wrap(TWON_ENUMERATION, reinterpret_cast<TW_HANDLE>(h)));
  EXPECT_FALSE(CONTAINER_IsValid(c));
  EXPECT_EQ(CONTAINER_ItemCount(c), 3);  // what the block holds
  EXPECT_EQ(CONTAINER_MaxValue(c), 11);
  EXPECT_EQ(CONTAINER_FindValue(c, 9), 1);
  EXPECT_EQ(CONTAINER_FloatItem(c, 3), -1);
  // A range block too short for its slots is not read at all.
  const platform::MemHandle tiny = platform::mem_alloc(4);
  CONTAINER r = keep(CONTAINER_Wrap(TWON_RANGE, reinterpret_cast<TW_HANDLE>(tiny)));
  EXPECT_EQ(CONTAINER_ItemCount(r), -1);
  EXPECT_EQ(CONTAINER_MaxValue(r), -1);
  EXPECT_EQ(CONTAINER_Wrap(TWON_ONEVALUE, nullptr), nullptr);
}

}  // namespace
