// Extended image information: the request table (enabling, reuse, limit) and
// reading answers as the device leaves them in the table, without a device.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "../test_support.h"
#include "dsm_fixture.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/twain.h"
#include "orivane/twain_acquire.h"
#include "orivane/twain_extinfo.h"
#include "orivane/twain_sources.h"
#include "orivane/twain_switches.h"
#include "platform/memblock.h"
#include "twain/acquisition/acquire.h"
#include "twain/acquisition/ext_info.h"
#include "twain/capabilities/item_values.h"

namespace {

std::string error_text() {
  char buf[512];
  TWAIN_GetLastErrorText(buf);
  return buf;
}

class ExtInfoTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    blocks_at_start_ = platform::mem_live_count();
  }
  void TearDown() override {
    twain::ext_info_reset();
    EXPECT_EQ(platform::mem_live_count(), blocks_at_start_) << "answer blocks leaked";
  }

  // Enables `code` and stores an answer as a device would: in the Item field
  // when it fits 4 bytes, else in a block of `block_bytes` (default: exactly
  // the values).
  void answer(unsigned code, int type, int count, const std::vector<unsigned char>& values,
              std::size_t block_bytes = SIZE_MAX) {
    ASSERT_EQ(TWAIN_EnableExtendedInfo(code, 1), 1);
    TW_INFO* info = twain::ext_info_find(code);
    ASSERT_NE(info, nullptr);
    info->ItemType = static_cast<TW_UINT16>(type);
    info->NumItems = static_cast<TW_UINT16>(count);
    info->ReturnCode = TWRC_SUCCESS;
    if (values.size() <= 4 && block_bytes == SIZE_MAX) {
      std::memcpy(&info->Item, values.data(), values.size());
      return;
    }
    if (block_bytes == SIZE_MAX) block_bytes = values.size();
    const platform::MemHandle h = platform::mem_alloc(block_bytes);
    std::memcpy(platform::mem_lock(h), values.data(), std::min(block_bytes, values.size()));
    platform::mem_unlock(h);
    info->Item = static_cast<TW_UINTPTR>(h);
  }

  std::size_t blocks_at_start_ = 0;
};

std::vector<unsigned char> u16s(std::initializer_list<int> v) {
  std::vector<unsigned char> out;
  for (int x : v) {
    out.push_back(static_cast<unsigned char>(x));
    out.push_back(static_cast<unsigned char>(x >> 8));
  }
  return out;
}

// TW_FIX32 as stored: Whole (signed 16 bits), then Frac (1/65536).
std::vector<unsigned char> fix32s(std::initializer_list<double> v) {
  std::vector<unsigned char> out;
  for (double x : v) {
    const auto whole = static_cast<std::int16_t>(std::floor(x));
    const auto frac = static_cast<std::uint16_t>((x - std::floor(x)) * 65536);
    for (unsigned part : {static_cast<unsigned>(static_cast<std::uint16_t>(whole)), unsigned{frac}}) {
      out.push_back(static_cast<unsigned char>(part));
      out.push_back(static_cast<unsigned char>(part >> 8));
    }
  }
  return out;
}

std::vector<unsigned char> text_item(const std::string& text, std::size_t item_bytes) {
  std::vector<unsigned char> out(item_bytes, 0);
  std::memcpy(out.data(), text.data(), std::min(text.size(), item_bytes));
  return out;
}

TEST_F(ExtInfoTest, FiveHundredTwelveCodesFitTheNextIsRefused) {
  for (unsigned k = 0; k < 512; ++k) ASSERT_EQ(TWAIN_EnableExtendedInfo(0x1200 + k, 1), 1) << k;
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
  EXPECT_EQ(TWAIN_EnableExtendedInfo(0x1200 + 512, 1), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FAILURE);
  EXPECT_NE(error_text().find("too many x-infos enabled"), std::string::npos);
  EXPECT_EQ(TWAIN_IsExtInfoEnabled(0x1200 + 512), 0);
  // Enabling a code already there needs no room.
  EXPECT_EQ(TWAIN_EnableExtendedInfo(0x1200 + 7, 1), 1);
}

TEST_F(ExtInfoTest, FreedEntryIsReusedAndTheCountStays) {
  for (unsigned code : {TWEI_PAGESIDE, TWEI_DOCUMENTNUMBER, TWEI_PAGENUMBER})
    ASSERT_EQ(TWAIN_EnableExtendedInfo(code, 1), 1);
  twain::ExtInfoTable& t = twain::ext_info_table();
  ASSERT_EQ(t.NumInfos, 3u);
  EXPECT_EQ(TWAIN_EnableExtendedInfo(TWEI_DOCUMENTNUMBER, 0), 1);
  EXPECT_EQ(TWAIN_EnableExtendedInfo(TWEI_DOCUMENTNUMBER, 0), 0) << "already removed";
  EXPECT_EQ(TWAIN_IsExtInfoEnabled(TWEI_DOCUMENTNUMBER), 0);
  EXPECT_EQ(t.NumInfos, 3u) << "freeing does not lower the count";
  EXPECT_EQ(TWAIN_EnableExtendedInfo(TWEI_BARCODETEXT, 1), 1);
  EXPECT_EQ(t.Info[1].InfoID, TWEI_BARCODETEXT);
  EXPECT_EQ(t.NumInfos, 3u);
  EXPECT_EQ(TWAIN_EnableExtendedInfo(TWEI_FRAME, 1), 1);
  EXPECT_EQ(t.Info[3].InfoID, TWEI_FRAME);
  EXPECT_EQ(t.NumInfos, 4u);
}

TEST_F(ExtInfoTest, ReusingAnEntryReleasesTheAnswerLeftInIt) {
  answer(TWEI_BARCODETEXT, TWTY_STR255, 1, text_item("old", 256));
  EXPECT_EQ(TWAIN_EnableExtendedInfo(TWEI_BARCODETEXT, 0), 1);
  EXPECT_EQ(TWAIN_EnableExtendedInfo(TWEI_PAGESIDE, 1), 1);
  EXPECT_EQ(TWAIN_ExtendedInfoItemCount(TWEI_PAGESIDE), 0);
  EXPECT_EQ(platform::mem_live_count(), blocks_at_start_);
}

struct ReadCase {
  const char* name;
  int type;
  int count;
  std::vector<unsigned char> values;
  int index;
  int as_int;
  double as_float;
  const char* as_text;
};

TEST_F(ExtInfoTest, ValuesReadAsNumbersAndTexts) {
  const std::vector<ReadCase> cases = {
      {"one UINT16 in the Item field", TWTY_UINT16, 1, u16s({7}), 0, 7, 7, "7"},
      {"second of two UINT16 in the Item field", TWTY_UINT16, 2, u16s({7, 9}), 1, 9, 9, "9"},
      {"third of three UINT16 from a block", TWTY_UINT16, 3, u16s({7, 9, 11}), 2, 11, 11, "11"},
      {"negative INT16", TWTY_INT16, 1, u16s({-5}), 0, -5, -5, "-5"},
      {"INT32 from a block", TWTY_INT32, 2, {1, 0, 0, 0, 0x10, 0x27, 0, 0}, 1, 10000, 10000, "10000"},
      {"UINT32 beyond the int range", TWTY_UINT32, 1, {0xff, 0xff, 0xff, 0xff}, 0, 2147483647,
       4294967295.0, "4.29497e+09"},
      {"FIX32 truncated for the integer", TWTY_FIX32, 1, fix32s({-2.75}), 0, -2, -2.75, "-2.75"},
      {"BOOL true", TWTY_BOOL, 1, u16s({1}), 0, 1, 1, "TRUE(1)"},
      {"BOOL false", TWTY_BOOL, 1, u16s({0}), 0, 0, 0, "FALSE(0)"},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    answer(TWEI_PAGENUMBER, c.type, c.count, c.values);
    EXPECT_EQ(TWAIN_ExtendedInfoInt(TWEI_PAGENUMBER, c.index), c.as_int);
    EXPECT_DOUBLE_EQ(TWAIN_ExtendedInfoFloat(TWEI_PAGENUMBER, c.index), c.as_float);
    EXPECT_STREQ(TWAIN_ExtendedInfoString(TWEI_PAGENUMBER, c.index), c.as_text);
    EXPECT_EQ(TWAIN_ExtendedInfoItemCount(TWEI_PAGENUMBER), c.count);
    EXPECT_EQ(TWAIN_ExtendedInfoItemType(TWEI_PAGENUMBER), c.type);
    EXPECT_EQ(TWAIN_LastErrorCode(), 0);
    TWAIN_DisableExtendedInfo();
  }
}

TEST_F(ExtInfoTest, TextsAreCutToTheirTypeAndTheBuffer) {
  const std::string long_text(1100, 'x');
  struct Case {
    int type;
    std::size_t item_bytes;
    std::size_t expected;
  };
  for (const Case& c : {Case{TWTY_STR32, 34, 32}, Case{TWTY_STR64, 66, 64}, Case{TWTY_STR128, 130, 128},
                        Case{TWTY_STR255, 256, 255}, Case{TWTY_STR1024, 1026, 1023}}) {
    SCOPED_TRACE(c.type);
    answer(TWEI_BARCODETEXT, c.type, 1, text_item(long_text, c.item_bytes));
    EXPECT_EQ(std::string(TWAIN_ExtendedInfoString(TWEI_BARCODETEXT, 0)), long_text.substr(0, c.expected));
    char small[6];
    EXPECT_EQ(TWAIN_GetExtendedInfoString(TWEI_BARCODETEXT, 0, small, sizeof small), 1);
    EXPECT_STREQ(small, "xxxxx");
    TWAIN_DisableExtendedInfo();
  }
  // A text shorter than its item ends at its zero.
  answer(TWEI_BARCODETEXT, TWTY_STR255, 2, [] {
    auto v = text_item("first", 256);
    auto second = text_item("QUILLET-0042", 256);
    v.insert(v.end(), second.begin(), second.end());
    return v;
  }());
  EXPECT_STREQ(TWAIN_ExtendedInfoString(TWEI_BARCODETEXT, 1), "QUILLET-0042");
}

TEST_F(ExtInfoTest, FramesReadAsFourReals) {
  answer(TWEI_FRAME, TWTY_FRAME, 2, fix32s({0, 0, 1, 1, 0.5, 1.25, 8.5, 11}));
  EXPECT_STREQ(TWAIN_ExtendedInfoString(TWEI_FRAME, 1), "{0.5, 1.25, 8.5, 11}");
  double l = 0, t = 0, r = 0, b = 0;
  ASSERT_EQ(TWAIN_ExtendedInfoFrame(TWEI_FRAME, 1, &l, &t, &r, &b), 1);
  EXPECT_EQ(l, 0.5);
  EXPECT_EQ(t, 1.25);
  EXPECT_EQ(r, 8.5);
  EXPECT_EQ(b, 11);
  EXPECT_EQ(TWAIN_ExtendedInfoFrame(TWEI_FRAME, 2, &l, &t, &r, &b), 0) << "index outside";
  answer(TWEI_PAGESIDE, TWTY_UINT16, 1, u16s({1}));
  EXPECT_EQ(TWAIN_ExtendedInfoFrame(TWEI_PAGESIDE, 0, &l, &t, &r, &b), 0) << "not a frame";
}

TEST_F(ExtInfoTest, UnknownTypesReadAsAPlaceholderText) {
  for (int type : {TWTY_UNI512, TWTY_HANDLE, 40, 0xffff}) {
    SCOPED_TRACE(type);
    const std::size_t bytes = twain::item_size(type);
    if (bytes > 4) {
      answer(TWEI_MAGDATA, type, 1, std::vector<unsigned char>(bytes, 0));
    } else {
      answer(TWEI_MAGDATA, type, 1, std::vector<unsigned char>(4, 0));
    }
    EXPECT_STREQ(TWAIN_ExtendedInfoString(TWEI_MAGDATA, 0), "<value of unknown type>");
    TWAIN_DisableExtendedInfo();
  }
}

TEST_F(ExtInfoTest, ReadingFailures) {
  answer(TWEI_PAGENUMBER, TWTY_UINT16, 1, u16s({3}));
  answer(TWEI_BARCODETEXT, TWTY_STR255, 1, text_item("abc", 256));
  struct Case {
    const char* name;
    unsigned code;
    int index;
    int error;
    const char* text;
  };
  for (const Case& c : {Case{"code below the first TWEI_ code", 0x11ff, 0, ERR_BAD_PARAMETER, "getting x-info"},
                        Case{"negative index", TWEI_PAGENUMBER, -1, ERR_BAD_PARAMETER, "getting x-info"},
                        Case{"code not enabled", TWEI_CAMERA, 0, 0, ""},
                        Case{"index beyond the answer", TWEI_PAGENUMBER, 1, 0, ""},
                        Case{"text read as a number", TWEI_BARCODETEXT, 0, ERR_FAILURE,
                             "type mismatch reading x-info"}}) {
    SCOPED_TRACE(c.name);
    TWAIN_ClearError();
    EXPECT_EQ(TWAIN_ExtendedInfoInt(c.code, c.index), -1);
    EXPECT_EQ(TWAIN_LastErrorCode(), c.error);
    EXPECT_NE(error_text().find(c.text), std::string::npos) << error_text();
    TWAIN_ClearError();
    EXPECT_EQ(TWAIN_ExtendedInfoFloat(c.code, c.index), -1);
    EXPECT_EQ(TWAIN_LastErrorCode(), c.error);
  }
  EXPECT_STREQ(TWAIN_ExtendedInfoString(TWEI_CAMERA, 0), "");
  EXPECT_STREQ(TWAIN_ExtendedInfoString(TWEI_PAGENUMBER, 5), "");
  TWAIN_ClearError();
  EXPECT_EQ(TWAIN_GetExtendedInfoString(TWEI_PAGENUMBER, 0, nullptr, 10), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_PARAMETER);
  EXPECT_NE(error_text().find("TWAIN_GetExtendedInfoString:NULL buffer"), std::string::npos);
  TWAIN_ClearError();
  char untouched[2] = {'z', 'z'};
  EXPECT_EQ(TWAIN_GetExtendedInfoString(TWEI_PAGENUMBER, 0, untouched, 0), 0);
  EXPECT_EQ(untouched[0], 'z');
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_PARAMETER);
}

TEST_F(ExtInfoTest, ABlockSmallerThanTheAnswerIsNotRead) {
  // Three values announced, room for two in the block.
  answer(TWEI_PAGENUMBER, TWTY_UINT32, 3, std::vector<unsigned char>(12, 1), 8);
  EXPECT_EQ(TWAIN_ExtendedInfoInt(TWEI_PAGENUMBER, 0), -1);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FAILURE);
  EXPECT_NE(error_text().find("GlobalLock(xinfo.Item)"), std::string::npos);
  EXPECT_STREQ(TWAIN_ExtendedInfoString(TWEI_PAGENUMBER, 0), "");
  // A stale handle in place of the block.
  answer(TWEI_BARCODETEXT, TWTY_STR255, 1, text_item("abc", 256));
  TW_INFO* info = twain::ext_info_find(TWEI_BARCODETEXT);
  platform::mem_free(static_cast<platform::MemHandle>(info->Item));
  EXPECT_STREQ(TWAIN_ExtendedInfoString(TWEI_BARCODETEXT, 0), "");
  double l, t, r, b;
  answer(TWEI_FRAME, TWTY_FRAME, 1, fix32s({1, 2, 3, 4}), 15);
  EXPECT_EQ(TWAIN_ExtendedInfoFrame(TWEI_FRAME, 0, &l, &t, &r, &b), 0);
}

TEST_F(ExtInfoTest, DisablingReleasesAnswersAndKeepsTheCodes) {
  answer(TWEI_BARCODETEXT, TWTY_STR255, 1, text_item("abc", 256));
  answer(TWEI_PAGESIDE, TWTY_UINT16, 1, u16s({2}));
  ASSERT_GT(platform::mem_live_count(), blocks_at_start_);
  TWAIN_DisableExtendedInfo();
  EXPECT_EQ(platform::mem_live_count(), blocks_at_start_);
  EXPECT_EQ(TWAIN_IsExtInfoEnabled(TWEI_BARCODETEXT), 1);
  EXPECT_EQ(TWAIN_ExtendedInfoItemCount(TWEI_BARCODETEXT), 0);
  EXPECT_EQ(TWAIN_ExtendedInfoItemCount(TWEI_PAGESIDE), 0);
  EXPECT_EQ(TWAIN_ExtendedInfoItemType(TWEI_CAMERA), -1);
}

TEST_F(ExtInfoTest, RetrievalWithNothingEnabledAsksNothing) {
  EXPECT_EQ(twain::RetrieveExtendedImageInfo(), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
}

// Through the Source Manager and the virtual scanner: the table goes to the
// device after a native transfer and its answers are read back.
using ExtInfoDeviceTest = twain_test::DsmTest;

TEST_F(ExtInfoDeviceTest, AnswersArriveWithANativeTransfer) {
  use_devices("[device]\nproduct = Virtual Scanner\nfeeder = no\n");
  ASSERT_EQ(TWAIN_OpenSource("Virtual Scanner"), 1) << error_text();
  TWAIN_SetHideUI(1);
  constexpr unsigned kChecksum = 0x8001;  // the virtual scanner's page checksum
  for (unsigned code : {unsigned{TWEI_PAGESIDE}, unsigned{TWEI_PAGENUMBER}, kChecksum, unsigned{TWEI_CAMERA}})
    ASSERT_EQ(TWAIN_EnableExtendedInfo(code, 1), 1);
  const uintptr_t page = TWAIN_AcquireNative(0, 0);
  ASSERT_NE(page, 0u) << error_text();
  EXPECT_EQ(TWAIN_ExtendedInfoInt(TWEI_PAGESIDE, 0), TWCS_TOP);
  EXPECT_EQ(TWAIN_ExtendedInfoInt(TWEI_PAGENUMBER, 0), 1);
  const std::string checksum = TWAIN_ExtendedInfoString(kChecksum, 0);
  EXPECT_EQ(checksum.size(), 16u) << checksum;
  EXPECT_EQ(checksum.find_first_not_of("0123456789abcdef"), std::string::npos) << checksum;
  EXPECT_EQ(TWAIN_ExtendedInfoItemCount(TWEI_CAMERA), 0) << "not answered by the device";
  EXPECT_STREQ(TWAIN_ExtendedInfoString(TWEI_CAMERA, 0), "");
  // Post-processing gave the page a resolution.
  EXPECT_GT(DIB_XResolution(static_cast<DIB_HANDLE>(page)), 0);
  DIB_Free(static_cast<DIB_HANDLE>(page));
  TWAIN_DisableExtendedInfo();
  EXPECT_EQ(TWAIN_ExtendedInfoItemCount(kChecksum), 0);
  const std::string log = trace();
  EXPECT_NE(log.find("RetrieveExtendedImageInfo\n"), std::string::npos);
  EXPECT_NE(log.find("PostProcessDib took ["), std::string::npos);
}

TEST_F(ExtInfoDeviceTest, SupportIsAskedOfTheDevice) {
  ASSERT_EQ(TWAIN_OpenSource("Virtual Scanner"), 1) << error_text();
  EXPECT_EQ(TWAIN_IsExtendedInfoSupported(), 1);
}

}  // namespace
