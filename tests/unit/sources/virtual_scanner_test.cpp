// The virtual scanner as an application negotiates with it through the
// Source Manager: the container each capability answers in, setting values on
// and between the offered steps, refusals and their condition codes,
// narrowing, resets, units, image layout, and the devices a config describes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "../dsm/dsm_harness.h"

namespace dsm_test {
namespace {

constexpr double kFix32 = 1.0 / 65536;

// An application with the Source Manager open and a virtual device opened.
class VirtualScanner : public DsmTest {
 protected:
  // Opens the device named `product` (the default one when empty) of the
  // config `text` (the built-in device when null).
  void open(const char* text = nullptr, const std::string& product = "") {
    if (text != nullptr) use_config(text);
    app_.emplace();
    ASSERT_EQ(app_->open_dsm(), TWRC_SUCCESS);
    source_.emplace(*app_, product);
    ASSERT_EQ(source_->rc, TWRC_SUCCESS) << "cannot open '" << product << "'";
  }
  void TearDown() override {
    source_.reset();
    app_.reset();
  }
  OpenSource& src() { return *source_; }

  TW_UINT16 layout(TW_UINT16 msg, TW_IMAGELAYOUT& l) {
    return src().call(DG_IMAGE, DAT_IMAGELAYOUT, msg, &l);
  }
  static TW_IMAGELAYOUT layout_of(std::array<double, 4> f) {
    TW_IMAGELAYOUT l{};
    fix32_store(reinterpret_cast<unsigned char*>(&l.Frame.Left), f[0]);
    fix32_store(reinterpret_cast<unsigned char*>(&l.Frame.Top), f[1]);
    fix32_store(reinterpret_cast<unsigned char*>(&l.Frame.Right), f[2]);
    fix32_store(reinterpret_cast<unsigned char*>(&l.Frame.Bottom), f[3]);
    l.DocumentNumber = l.PageNumber = l.FrameNumber = TWON_DONTCARE32;
    return l;
  }
  static std::array<double, 4> frame_of(const TW_IMAGELAYOUT& l) {
    const auto* f = reinterpret_cast<const unsigned char*>(&l.Frame);
    return {fix32_value(f), fix32_value(f + 4), fix32_value(f + 8), fix32_value(f + 12)};
  }

  std::optional<App> app_;
  std::optional<OpenSource> source_;
};

void expect_frame_near(const std::array<double, 4>& got, const std::array<double, 4>& want,
                       double tolerance, const std::string& what) {
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], want[i], tolerance) << what << " edge " << i;
}

TEST_F(VirtualScanner, EachCapabilityAnswersAGetInItsOwnContainer) {
  open();
  struct Case {
    TW_UINT16 cap;
    TW_UINT16 kind;
    TW_UINT16 type;
    std::vector<double> items;  // range: min, max, step, default, current
    TW_UINT32 current_index = 0;
  } cases[] = {
      {CAP_XFERCOUNT, TWON_ONEVALUE, TWTY_INT16, {-1}},
      {ICAP_XFERMECH, TWON_ENUMERATION, TWTY_UINT16, {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}},
      {ICAP_UNITS, TWON_ENUMERATION, TWTY_UINT16, {0, 1, 2, 3, 4, 5, 6}},
      {ICAP_PIXELTYPE, TWON_ENUMERATION, TWTY_UINT16, {TWPT_BW, TWPT_GRAY, TWPT_RGB}},
      {ICAP_BITDEPTH, TWON_ENUMERATION, TWTY_UINT16, {1}},
      {ICAP_XRESOLUTION, TWON_RANGE, TWTY_FIX32, {50, 600, 1, 200, 200}},
      {ICAP_YRESOLUTION, TWON_RANGE, TWTY_FIX32, {50, 600, 1, 200, 200}},
      {ICAP_BRIGHTNESS, TWON_RANGE, TWTY_FIX32, {-1000, 1000, 1, 0, 0}},
      {ICAP_CONTRAST, TWON_RANGE, TWTY_FIX32, {-1000, 1000, 1, 0, 0}},
      {ICAP_THRESHOLD, TWON_RANGE, TWTY_FIX32, {0, 255, 1, 128, 128}},
      {ICAP_SHADOW, TWON_RANGE, TWTY_FIX32, {0, 255, 1, 0, 0}},
      {ICAP_HIGHLIGHT, TWON_RANGE, TWTY_FIX32, {0, 255, 1, 255, 255}},
      {ICAP_GAMMA, TWON_RANGE, TWTY_FIX32, {0.5, 4, 0.1, 2.2, 2.2}},
      {ICAP_JPEGQUALITY, TWON_RANGE, TWTY_INT16, {0, 100, 1, 75, 75}},
      {ICAP_AUTOBRIGHT, TWON_ONEVALUE, TWTY_BOOL, {0}},
      {CAP_FEEDERENABLED, TWON_ONEVALUE, TWTY_BOOL, {1}},
      {CAP_FEEDERLOADED, TWON_ONEVALUE, TWTY_BOOL, {1}},
      {CAP_AUTOFEED, TWON_ONEVALUE, TWTY_BOOL, {1}},
      {CAP_AUTOSCAN, TWON_ONEVALUE, TWTY_BOOL, {0}},
      {CAP_DUPLEX, TWON_ONEVALUE, TWTY_UINT16, {TWDX_1PASSDUPLEX}},
      {CAP_DUPLEXENABLED, TWON_ONEVALUE, TWTY_BOOL, {0}},
      {CAP_INDICATORS, TWON_ONEVALUE, TWTY_BOOL, {1}},
      {CAP_UICONTROLLABLE, TWON_ONEVALUE, TWTY_BOOL, {1}},
      {CAP_DEVICEONLINE, TWON_ONEVALUE, TWTY_BOOL, {1}},
      {ICAP_BITORDER, TWON_ENUMERATION, TWTY_UINT16, {TWBO_MSBFIRST}},
      {CAP_PAPERDETECTABLE, TWON_ONEVALUE, TWTY_BOOL, {1}},
      {ICAP_LIGHTPATH, TWON_ENUMERATION, TWTY_UINT16, {TWLP_REFLECTIVE}},
      {ICAP_COMPRESSION, TWON_ENUMERATION, TWTY_UINT16, {TWCP_NONE, TWCP_GROUP4, TWCP_JPEG}},
      {ICAP_PIXELFLAVOR, TWON_ENUMERATION, TWTY_UINT16, {TWPF_CHOCOLATE, TWPF_VANILLA}},
      {ICAP_PLANARCHUNKY, TWON_ENUMERATION, TWTY_UINT16, {TWPC_CHUNKY, TWPC_PLANAR}},
      {ICAP_TILES, TWON_ONEVALUE, TWTY_BOOL, {0}},
      {ICAP_UNDEFINEDIMAGESIZE, TWON_ONEVALUE, TWTY_BOOL, {0}},
      {ICAP_AUTOMATICDESKEW, TWON_ONEVALUE, TWTY_BOOL, {0}},
      {ICAP_EXTIMAGEINFO, TWON_ONEVALUE, TWTY_BOOL, {0}},
      {ICAP_PHYSICALWIDTH, TWON_ONEVALUE, TWTY_FIX32, {8.5}},
      {ICAP_PHYSICALHEIGHT, TWON_ONEVALUE, TWTY_FIX32, {14}},
      {CAP_EXTENDEDCAPS, TWON_ARRAY, TWTY_UINT16, {}},
  };
  for (const Case& c : cases) {
    const auto got = src().get(c.cap);
    ASSERT_TRUE(got) << std::hex << c.cap;
    EXPECT_EQ(got->kind, c.kind) << std::hex << c.cap;
    EXPECT_EQ(got->item_type, c.type) << std::hex << c.cap;
    ASSERT_EQ(got->items.size(), c.items.size()) << std::hex << c.cap;
    for (std::size_t i = 0; i < c.items.size(); ++i)
      EXPECT_NEAR(got->items[i], c.items[i], kFix32) << std::hex << c.cap << " item " << i;
    EXPECT_EQ(got->current_index, c.current_index) << std::hex << c.cap;
  }

  const auto sizes = src().get(ICAP_SUPPORTEDSIZES);
  ASSERT_TRUE(sizes);
  EXPECT_EQ(sizes->kind, TWON_ENUMERATION);
  EXPECT_EQ(sizes->items.front(), TWSS_NONE);
  for (double fits : {TWSS_A4, TWSS_USLETTER, TWSS_USLEGAL, TWSS_A5})
    EXPECT_NE(std::find(sizes->items.begin(), sizes->items.end(), fits), sizes->items.end())
        << fits;
  // Wider than the 8.5 inch bed.
  EXPECT_EQ(std::find(sizes->items.begin(), sizes->items.end(), TWSS_A3), sizes->items.end());

  const auto frames = src().get(ICAP_FRAMES);
  ASSERT_TRUE(frames);
  EXPECT_EQ(frames->kind, TWON_ENUMERATION);
  ASSERT_EQ(frames->frames.size(), 1u);
  expect_frame_near(frames->frames[0], {0, 0, 8.5, 14}, kFix32, "frames");

  const auto caps = src().get(CAP_SUPPORTEDCAPS);
  ASSERT_TRUE(caps);
  EXPECT_EQ(caps->kind, TWON_ARRAY);
  for (const Case& c : cases)
    EXPECT_NE(std::find(caps->items.begin(), caps->items.end(), c.cap), caps->items.end())
        << std::hex << c.cap;
}

TEST_F(VirtualScanner, CurrentAndDefaultComeAsOneValuesAndQuerySupportTellsWhatIsSettable) {
  open();
  const std::vector<TW_UINT16> read_only = {
      CAP_SUPPORTEDCAPS, CAP_FEEDERLOADED,   CAP_PAPERDETECTABLE, CAP_UICONTROLLABLE,
      CAP_DUPLEX,        ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT, CAP_DEVICEONLINE};
  const auto caps = src().get(CAP_SUPPORTEDCAPS);
  ASSERT_TRUE(caps);
  for (double item : caps->items) {
    const auto cap = static_cast<TW_UINT16>(item);
    const bool is_list = cap == CAP_SUPPORTEDCAPS || cap == CAP_EXTENDEDCAPS;
    for (TW_UINT16 msg : {MSG_GETCURRENT, MSG_GETDEFAULT}) {
      const auto got = src().get(cap, msg);
      ASSERT_TRUE(got) << std::hex << cap;
      EXPECT_EQ(got->kind, is_list ? TWON_ARRAY : TWON_ONEVALUE) << std::hex << cap;
    }
    const auto support = src().get(cap, MSG_QUERYSUPPORT);
    ASSERT_TRUE(support) << std::hex << cap;
    EXPECT_EQ(support->kind, TWON_ONEVALUE);
    EXPECT_EQ(support->item_type, TWTY_INT32);
    const bool settable = std::find(read_only.begin(), read_only.end(), cap) == read_only.end();
    const double expected =
        TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT | (settable ? TWQC_SET | TWQC_RESET : 0);
    EXPECT_EQ(support->items.front(), expected) << std::hex << cap;
    if (!settable) {
      EXPECT_EQ(src().set_one(cap, TWTY_UINT16, 0), TWRC_FAILURE) << std::hex << cap;
      EXPECT_EQ(src().condition(), TWCC_CAPBADOPERATION) << std::hex << cap;
      TW_UINT16 rc = 0;
      EXPECT_FALSE(src().get(cap, MSG_RESET, &rc));
      EXPECT_EQ(src().condition(), TWCC_CAPBADOPERATION) << std::hex << cap;
    }
  }
}

TEST_F(VirtualScanner, SetTakesOfferedValuesSnapsBetweenStepsAndRefusesTheRest) {
  open();
  struct Case {
    TW_UINT16 cap;
    TW_UINT16 type;
    double value;
    TW_UINT16 rc;
    double current;  // afterwards (each case starts from a reset)
  } cases[] = {
      {CAP_XFERCOUNT, TWTY_INT16, 5, TWRC_SUCCESS, 5},
      {CAP_XFERCOUNT, TWTY_INT16, 0, TWRC_FAILURE, -1},
      {CAP_XFERCOUNT, TWTY_INT16, -2, TWRC_FAILURE, -1},
      {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB, TWRC_SUCCESS, TWPT_RGB},
      {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_CMYK, TWRC_FAILURE, TWPT_BW},
      {ICAP_BITDEPTH, TWTY_UINT16, 8, TWRC_FAILURE, 1},
      {ICAP_XRESOLUTION, TWTY_FIX32, 300, TWRC_SUCCESS, 300},
      {ICAP_XRESOLUTION, TWTY_UINT16, 300, TWRC_SUCCESS, 300},
      {ICAP_XRESOLUTION, TWTY_FIX32, 150.25, TWRC_CHECKSTATUS, 150},
      {ICAP_XRESOLUTION, TWTY_FIX32, 150.5, TWRC_CHECKSTATUS, 151},
      {ICAP_XRESOLUTION, TWTY_FIX32, 1200, TWRC_FAILURE, 200},
      {ICAP_XRESOLUTION, TWTY_FIX32, 49, TWRC_FAILURE, 200},
      {ICAP_YRESOLUTION, TWTY_FIX32, 600, TWRC_SUCCESS, 600},
      {ICAP_BRIGHTNESS, TWTY_FIX32, -1000, TWRC_SUCCESS, -1000},
      {ICAP_BRIGHTNESS, TWTY_FIX32, 10.25, TWRC_CHECKSTATUS, 10},
      {ICAP_BRIGHTNESS, TWTY_FIX32, 1000.5, TWRC_FAILURE, 0},
      {ICAP_CONTRAST, TWTY_FIX32, -1001, TWRC_FAILURE, 0},
      {ICAP_GAMMA, TWTY_FIX32, 1.0, TWRC_SUCCESS, 1.0},
      {ICAP_GAMMA, TWTY_FIX32, 1.87, TWRC_CHECKSTATUS, 1.9},
      {ICAP_GAMMA, TWTY_FIX32, 0.4, TWRC_FAILURE, 2.2},
      {ICAP_THRESHOLD, TWTY_FIX32, 200, TWRC_SUCCESS, 200},
      {ICAP_JPEGQUALITY, TWTY_INT16, 50, TWRC_SUCCESS, 50},
      {ICAP_JPEGQUALITY, TWTY_INT16, 101, TWRC_FAILURE, 75},
      {ICAP_UNITS, TWTY_UINT16, TWUN_MILLIMETERS, TWRC_SUCCESS, TWUN_MILLIMETERS},
      {ICAP_UNITS, TWTY_UINT16, 9, TWRC_FAILURE, TWUN_INCHES},
      {ICAP_TILES, TWTY_BOOL, 1, TWRC_FAILURE, 0},
      {ICAP_AUTOMATICDESKEW, TWTY_BOOL, 1, TWRC_SUCCESS, 1},
      {CAP_FEEDERENABLED, TWTY_BOOL, 0, TWRC_SUCCESS, 0},
      {CAP_DUPLEXENABLED, TWTY_BOOL, 1, TWRC_SUCCESS, 1},
      {ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_A3, TWRC_FAILURE, TWSS_NONE},
      {ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_USLETTER, TWRC_SUCCESS, TWSS_USLETTER},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(src().get(c.cap, MSG_RESET)) << std::hex << c.cap;
    EXPECT_EQ(src().set_one(c.cap, c.type, c.value), c.rc) << std::hex << c.cap << " " << c.value;
    EXPECT_EQ(src().condition(), c.rc == TWRC_FAILURE ? TWCC_BADVALUE : TWCC_SUCCESS)
        << std::hex << c.cap << " " << c.value;
    EXPECT_NEAR(src().current(c.cap), c.current, kFix32) << std::hex << c.cap << " " << c.value;
  }
  const TW_UINT16 unknown = 0x8765;
  EXPECT_EQ(src().set_one(unknown, TWTY_UINT16, 1), TWRC_FAILURE);
  EXPECT_EQ(src().condition(), TWCC_CAPUNSUPPORTED);
}

TEST_F(VirtualScanner, AResolutionListTakesTheNearestListedValue) {
  open("[device]\nresolutions = 600, 75, 300, 150\ndpi_default = 280\n");
  const auto got = src().get(ICAP_XRESOLUTION);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->kind, TWON_ENUMERATION);
  EXPECT_EQ(got->items, (std::vector<double>{75, 150, 300, 600}));
  EXPECT_EQ(got->current_index, 2u) << "the listed value nearest the configured default";
  struct Case {
    double value;
    TW_UINT16 rc;
    double current;
  } cases[] = {
      {150, TWRC_SUCCESS, 150},       {200, TWRC_CHECKSTATUS, 150}, {260, TWRC_CHECKSTATUS, 300},
      {599.5, TWRC_CHECKSTATUS, 600}, {700, TWRC_FAILURE, 600},     {74, TWRC_FAILURE, 600},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(src().set_one(ICAP_XRESOLUTION, TWTY_FIX32, c.value), c.rc) << c.value;
    EXPECT_EQ(src().current(ICAP_XRESOLUTION), c.current) << c.value;
  }
}

TEST_F(VirtualScanner, LengthsAndResolutionsFollowTheUnits) {
  open();
  ASSERT_EQ(src().set_one(ICAP_XRESOLUTION, TWTY_FIX32, 300), TWRC_SUCCESS);
  struct Case {
    TW_UINT16 units;
    double per_inch;  // for lengths; resolutions are per unit, except pixels (per inch)
  } cases[] = {
      {TWUN_INCHES, 1},   {TWUN_CENTIMETERS, 2.54}, {TWUN_PICAS, 6},    {TWUN_POINTS, 72},
      {TWUN_TWIPS, 1440}, {TWUN_MILLIMETERS, 25.4}, {TWUN_PIXELS, 300},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(src().set_one(ICAP_UNITS, TWTY_UINT16, c.units), TWRC_SUCCESS);
    const double resolution_per_inch = c.units == TWUN_PIXELS ? 1 : c.per_inch;
    EXPECT_NEAR(src().current(ICAP_XRESOLUTION), 300 / resolution_per_inch, kFix32) << c.units;
    EXPECT_NEAR(src().current(ICAP_PHYSICALWIDTH), 8.5 * c.per_inch, kFix32) << c.units;
    const auto range = src().get(ICAP_XRESOLUTION);
    ASSERT_TRUE(range);
    EXPECT_NEAR(range->items[0], 50 / resolution_per_inch, kFix32) << c.units;
    EXPECT_NEAR(range->items[1], 600 / resolution_per_inch, kFix32) << c.units;
  }
  // 300 dpi in centimetres is on the range's steps, though FIX32 cannot hold it exactly.
  ASSERT_EQ(src().set_one(ICAP_UNITS, TWTY_UINT16, TWUN_CENTIMETERS), TWRC_SUCCESS);
  EXPECT_EQ(src().set_one(ICAP_YRESOLUTION, TWTY_FIX32, 400 / 2.54), TWRC_SUCCESS);
  ASSERT_EQ(src().set_one(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES), TWRC_SUCCESS);
  EXPECT_NEAR(src().current(ICAP_YRESOLUTION), 400, kFix32);
}

TEST_F(VirtualScanner, BitDepthsBelongToThePixelType) {
  open();
  struct Case {
    TW_UINT16 type;
    std::vector<double> depths;
  } cases[] = {{TWPT_BW, {1}}, {TWPT_GRAY, {8, 16}}, {TWPT_RGB, {24, 48}}};
  for (const Case& c : cases) {
    ASSERT_EQ(src().set_one(ICAP_PIXELTYPE, TWTY_UINT16, c.type), TWRC_SUCCESS);
    const auto got = src().get(ICAP_BITDEPTH);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->items, c.depths) << c.type;
    EXPECT_EQ(src().current(ICAP_BITDEPTH), c.depths.front()) << c.type;
  }
  EXPECT_EQ(src().set_one(ICAP_BITDEPTH, TWTY_UINT16, 48), TWRC_SUCCESS);
  EXPECT_EQ(src().set_one(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWRC_SUCCESS);
  EXPECT_EQ(src().current(ICAP_BITDEPTH), 8);
  EXPECT_EQ(src().set_one(ICAP_BITDEPTH, TWTY_UINT16, 24), TWRC_FAILURE);
  EXPECT_EQ(src().condition(), TWCC_BADVALUE);
  EXPECT_EQ(src().set_one(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB), TWRC_SUCCESS);
  EXPECT_EQ(src().current(ICAP_BITDEPTH), 48) << "each type keeps its own depth";
}

TEST_F(VirtualScanner, AnEnumerationNarrowsTheChoiceUntilReset) {
  open();
  ASSERT_EQ(src().set(ICAP_PIXELTYPE, TWON_ENUMERATION,
                      make_list(src().ep, TWON_ENUMERATION, TWTY_UINT16, {TWPT_GRAY, TWPT_RGB}, 1)),
            TWRC_SUCCESS);
  auto got = src().get(ICAP_PIXELTYPE);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->items, (std::vector<double>{TWPT_GRAY, TWPT_RGB}));
  EXPECT_EQ(got->current_index, 1u);
  EXPECT_EQ(src().set_one(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW), TWRC_FAILURE) << "narrowed out";
  EXPECT_EQ(src().set(ICAP_PIXELTYPE, TWON_ARRAY,
                      make_list(src().ep, TWON_ARRAY, TWTY_UINT16, {TWPT_GRAY})),
            TWRC_SUCCESS);
  EXPECT_EQ(src().current(ICAP_PIXELTYPE), TWPT_GRAY);
  EXPECT_EQ(src().set(ICAP_PIXELTYPE, TWON_ENUMERATION,
                      make_list(src().ep, TWON_ENUMERATION, TWTY_UINT16, {TWPT_RGB, TWPT_CMYK})),
            TWRC_FAILURE);
  EXPECT_EQ(src().condition(), TWCC_BADVALUE);
  // A range is no way to choose pixel types.
  EXPECT_EQ(
      src().set(ICAP_PIXELTYPE, TWON_RANGE, make_range(src().ep, TWTY_UINT16, {0, 2, 1, 0, 0})),
      TWRC_FAILURE);

  const auto reset = src().get(ICAP_PIXELTYPE, MSG_RESET);
  ASSERT_TRUE(reset);
  EXPECT_EQ(reset->kind, TWON_ONEVALUE);
  EXPECT_EQ(reset->items.front(), TWPT_BW);
  got = src().get(ICAP_PIXELTYPE);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->items, (std::vector<double>{TWPT_BW, TWPT_GRAY, TWPT_RGB}));
}

TEST_F(VirtualScanner, AnEnumerationWhoseIndexNamesNoItemIsRefused) {
  open();
  struct Case {
    TW_UINT32 current, default_index;
    TW_UINT16 rc;
  } cases[] = {{1, 0, TWRC_SUCCESS}, {0, 2, TWRC_FAILURE}, {2, 0, TWRC_FAILURE}};
  for (const Case& c : cases) {
    TW_HANDLE list = make_list(src().ep, TWON_ENUMERATION, TWTY_UINT16, {TWPT_BW, TWPT_GRAY});
    auto* p = static_cast<unsigned char*>(src().ep.DSM_MemLock(list));
    std::memcpy(p + 6, &c.current, 4);
    std::memcpy(p + 10, &c.default_index, 4);
    src().ep.DSM_MemUnlock(list);
    EXPECT_EQ(src().set(ICAP_PIXELTYPE, TWON_ENUMERATION, list), c.rc) << c.current << c.default_index;
    if (c.rc != TWRC_SUCCESS) {
      EXPECT_EQ(src().condition(), TWCC_BADVALUE);
    }
  }
}

TEST_F(VirtualScanner, TheTransferGroupIsImages) {
  open();
  TW_UINT32 group = 0;
  ASSERT_EQ(src().call(DG_CONTROL, DAT_XFERGROUP, MSG_GET, &group), TWRC_SUCCESS);
  EXPECT_EQ(group, TW_UINT32{DG_IMAGE});
  EXPECT_EQ(src().call(DG_CONTROL, DAT_XFERGROUP, MSG_SET, &group), TWRC_SUCCESS);
  group = DG_AUDIO;
  EXPECT_EQ(src().call(DG_CONTROL, DAT_XFERGROUP, MSG_SET, &group), TWRC_FAILURE);
  EXPECT_EQ(src().condition(), TWCC_BADVALUE);
}

// The device's custom data as text; the block is freed.
std::string custom_text(OpenSource& source, TW_UINT16* out_rc = nullptr) {
  TW_CUSTOMDSDATA custom{};
  const TW_UINT16 rc = source.call(DG_CONTROL, DAT_CUSTOMDSDATA, MSG_GET, &custom);
  if (out_rc != nullptr) *out_rc = rc;
  if (rc != TWRC_SUCCESS) return "";
  const auto* p = static_cast<const char*>(source.ep.DSM_MemLock(custom.hData));
  std::string text(p, custom.InfoLength);
  source.ep.DSM_MemUnlock(custom.hData);
  source.ep.DSM_MemFree(custom.hData);
  return text;
}

TW_UINT16 restore_custom(OpenSource& source, const std::string& text) {
  TW_CUSTOMDSDATA custom{static_cast<TW_UINT32>(text.size()),
                         source.ep.DSM_MemAllocate(static_cast<TW_UINT32>(text.size()))};
  std::memcpy(source.ep.DSM_MemLock(custom.hData), text.data(), text.size());
  source.ep.DSM_MemUnlock(custom.hData);
  const TW_UINT16 rc = source.call(DG_CONTROL, DAT_CUSTOMDSDATA, MSG_SET, &custom);
  source.ep.DSM_MemFree(custom.hData);
  return rc;
}

TEST_F(VirtualScanner, CustomDataGivesBackTheWholeSetup) {
  open();
  ASSERT_EQ(src().set_one(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWRC_SUCCESS);
  ASSERT_EQ(src().set_one(ICAP_BITDEPTH, TWTY_UINT16, 16), TWRC_SUCCESS);
  ASSERT_EQ(src().set_one(ICAP_XRESOLUTION, TWTY_FIX32, 300), TWRC_SUCCESS);
  ASSERT_EQ(src().set(ICAP_FRAMES, TWON_ONEVALUE, make_frame(src().ep, {1, 2, 5, 7})), TWRC_SUCCESS);
  ASSERT_EQ(src().set_one(CAP_DUPLEXENABLED, TWTY_BOOL, 1), TWRC_SUCCESS);
  // Saved in centimetres: the lengths and resolutions are read in them.
  ASSERT_EQ(src().set_one(ICAP_UNITS, TWTY_UINT16, TWUN_CENTIMETERS), TWRC_SUCCESS);
  const std::string saved = custom_text(src());
  ASSERT_EQ(saved.rfind("VirtualScanner custom data 1\nproduct=Virtual Scanner\n0x0102=1\n", 0), 0u)
      << saved;

  TW_CAPABILITY all{0, TWON_DONTCARE16, nullptr};
  ASSERT_EQ(src().call(DG_CONTROL, DAT_CAPABILITY, MSG_RESETALL, &all), TWRC_SUCCESS);
  ASSERT_EQ(src().current(ICAP_PIXELTYPE), TWPT_BW);
  auto expect_restored = [&] {
    EXPECT_EQ(src().current(ICAP_UNITS), TWUN_CENTIMETERS);
    EXPECT_EQ(src().current(ICAP_PIXELTYPE), TWPT_GRAY);
    EXPECT_EQ(src().current(ICAP_BITDEPTH), 16);
    EXPECT_NEAR(src().current(ICAP_XRESOLUTION), 300 / 2.54, 1e-3);
    EXPECT_EQ(src().current(CAP_DUPLEXENABLED), 1);
    const auto frames = src().get(ICAP_FRAMES, MSG_GETCURRENT);
    ASSERT_TRUE(frames);
    expect_frame_near(frames->frames.at(0), {2.54, 5.08, 12.7, 17.78}, 1e-3, "frame");
  };
  ASSERT_EQ(restore_custom(src(), saved), TWRC_SUCCESS);
  expect_restored();
  EXPECT_EQ(custom_text(src()), saved) << "saved again, the same";

  // All or nothing: another device's setup, a value the device refuses, or
  // text that is no setup leaves the settings as they are.
  std::string other = saved, refused = saved;
  other.replace(other.find("Virtual Scanner"), 15, "Another Scanner");
  refused.replace(refused.find("0x0101=1"), 8, "0x0101=9");
  for (const std::string& bad : {other, refused, std::string("no setup at all")}) {
    EXPECT_EQ(restore_custom(src(), bad), TWRC_FAILURE) << bad;
    EXPECT_EQ(src().condition(), TWCC_BADVALUE);
    expect_restored();
  }
}

TEST_F(VirtualScanner, ResetAllReturnsEverySettingToItsDefault) {
  open();
  ASSERT_EQ(src().set_one(ICAP_BRIGHTNESS, TWTY_FIX32, 100), TWRC_SUCCESS);
  ASSERT_EQ(src().set_one(CAP_XFERCOUNT, TWTY_INT16, 3), TWRC_SUCCESS);
  ASSERT_EQ(src().set_one(ICAP_UNITS, TWTY_UINT16, TWUN_CENTIMETERS), TWRC_SUCCESS);
  TW_IMAGELAYOUT l = layout_of({1, 1, 2, 2});
  ASSERT_EQ(layout(MSG_SET, l), TWRC_SUCCESS);
  TW_CAPABILITY all{0, TWON_DONTCARE16, nullptr};
  ASSERT_EQ(src().call(DG_CONTROL, DAT_CAPABILITY, MSG_RESETALL, &all), TWRC_SUCCESS);
  EXPECT_EQ(src().current(ICAP_BRIGHTNESS), 0);
  EXPECT_EQ(src().current(CAP_XFERCOUNT), -1);
  EXPECT_EQ(src().current(ICAP_UNITS), TWUN_INCHES);
  const auto frames = src().get(ICAP_FRAMES, MSG_GETCURRENT);
  ASSERT_TRUE(frames);
  expect_frame_near(frames->frames.at(0), {0, 0, 8.5, 14}, kFix32, "frame after reset");
}

TEST_F(VirtualScanner, RefusalsAreExplainedByTheConditionCodeOnce) {
  open(R"(
[device]
product = Picky
pixel_type = rgb
refuse_caps = ICAP_CONTRAST, CAP_DUPLEXENABLED
refuse_values = ICAP_BITDEPTH:24, ICAP_XRESOLUTION:300
[device]
product = Old Driver
unsupported_cc = badcap
)",
       "Picky");
  for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_QUERYSUPPORT, MSG_RESET}) {
    EXPECT_FALSE(src().get(ICAP_CONTRAST, msg)) << msg;
    EXPECT_EQ(src().condition(), TWCC_CAPUNSUPPORTED) << msg;
  }
  const auto caps = src().get(CAP_SUPPORTEDCAPS);
  ASSERT_TRUE(caps);
  for (double refused : {ICAP_CONTRAST, CAP_DUPLEXENABLED})
    EXPECT_EQ(std::find(caps->items.begin(), caps->items.end(), refused), caps->items.end());

  EXPECT_EQ(src().set_one(ICAP_BITDEPTH, TWTY_UINT16, 24), TWRC_FAILURE);
  // The event pump running in between does not lose the reason.
  TW_EVENT event{nullptr, 0};
  src().call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
  EXPECT_EQ(src().condition(), TWCC_BADVALUE);
  EXPECT_EQ(src().condition(), TWCC_SUCCESS) << "read once";
  EXPECT_EQ(src().set_one(ICAP_BITDEPTH, TWTY_UINT16, 48), TWRC_SUCCESS);
  EXPECT_EQ(src().set_one(ICAP_XRESOLUTION, TWTY_FIX32, 300), TWRC_FAILURE);
  EXPECT_EQ(src().set_one(ICAP_XRESOLUTION, TWTY_FIX32, 299), TWRC_SUCCESS);
  source_.reset();

  source_.emplace(*app_, "Old Driver");
  ASSERT_EQ(src().rc, TWRC_SUCCESS);
  EXPECT_FALSE(src().get(0x8765));
  EXPECT_EQ(src().condition(), TWCC_BADCAP);
}

TEST_F(VirtualScanner, OddContainersAreAnsweredAsConfigured) {
  open(R"(
[device]
pixel_type = gray
odd_containers = ICAP_PIXELTYPE:onevalue, ICAP_XRESOLUTION:enumeration, ICAP_BITDEPTH:range, CAP_XFERCOUNT:array
)");
  auto got = src().get(ICAP_PIXELTYPE);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->kind, TWON_ONEVALUE);
  EXPECT_EQ(got->items, std::vector<double>{TWPT_GRAY});

  got = src().get(ICAP_XRESOLUTION);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->kind, TWON_ENUMERATION);
  ASSERT_EQ(got->items.size(), 551u);
  EXPECT_EQ(got->items.front(), 50);
  EXPECT_EQ(got->items.back(), 600);
  EXPECT_EQ(got->items.at(got->current_index), 200);

  got = src().get(ICAP_BITDEPTH);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->kind, TWON_RANGE);
  EXPECT_EQ(got->items, (std::vector<double>{8, 16, 8, 8, 8}));

  got = src().get(CAP_XFERCOUNT, MSG_GETCURRENT);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->kind, TWON_ARRAY);
  EXPECT_EQ(got->items, std::vector<double>{-1});
  // Setting is unaffected.
  EXPECT_EQ(src().set_one(ICAP_BITDEPTH, TWTY_UINT16, 16), TWRC_SUCCESS);
}

TEST_F(VirtualScanner, ImageLayoutAndFramesAreOneAreaCutToTheBed) {
  open();
  TW_IMAGELAYOUT l{};
  ASSERT_EQ(layout(MSG_GET, l), TWRC_SUCCESS);
  expect_frame_near(frame_of(l), {0, 0, 8.5, 14}, kFix32, "initial");
  EXPECT_EQ(TW_UINT32{l.DocumentNumber}, 1u);

  struct Case {
    std::array<double, 4> set;
    TW_UINT16 rc;
    std::array<double, 4> after;
  } cases[] = {
      {{1, 1, 5, 7}, TWRC_SUCCESS, {1, 1, 5, 7}},
      {{1, 1, 9, 15}, TWRC_CHECKSTATUS, {1, 1, 8.5, 14}},
      {{5, 1, 5, 7}, TWRC_FAILURE, {1, 1, 8.5, 14}},
      {{-1, 0, 2, 2}, TWRC_FAILURE, {1, 1, 8.5, 14}},
      {{9, 0, 10, 2}, TWRC_FAILURE, {1, 1, 8.5, 14}},
  };
  for (const Case& c : cases) {
    TW_IMAGELAYOUT set = layout_of(c.set);
    EXPECT_EQ(layout(MSG_SET, set), c.rc) << c.set[0] << "," << c.set[2];
    TW_IMAGELAYOUT now{};
    ASSERT_EQ(layout(MSG_GET, now), TWRC_SUCCESS);
    expect_frame_near(frame_of(now), c.after, kFix32, "layout");
    const auto frames = src().get(ICAP_FRAMES, MSG_GETCURRENT);
    ASSERT_TRUE(frames);
    expect_frame_near(frames->frames.at(0), c.after, kFix32, "ICAP_FRAMES");
  }

  // A paper size sets the area; an area clears the paper size.
  ASSERT_EQ(src().set_one(ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_A4), TWRC_SUCCESS);
  ASSERT_EQ(layout(MSG_GET, l), TWRC_SUCCESS);
  expect_frame_near(frame_of(l), {0, 0, 210 / 25.4, 297 / 25.4}, 0.001, "A4");
  ASSERT_EQ(src().set(ICAP_FRAMES, TWON_ONEVALUE, make_frame(src().ep, {0.5, 0.5, 4, 4})),
            TWRC_SUCCESS);
  EXPECT_EQ(src().current(ICAP_SUPPORTEDSIZES), TWSS_NONE);
  ASSERT_EQ(layout(MSG_GET, l), TWRC_SUCCESS);
  expect_frame_near(frame_of(l), {0.5, 0.5, 4, 4}, kFix32, "after ICAP_FRAMES");

  // Frames are in the current units.
  ASSERT_EQ(src().set_one(ICAP_UNITS, TWTY_UINT16, TWUN_CENTIMETERS), TWRC_SUCCESS);
  TW_IMAGELAYOUT metric = layout_of({2.54, 2.54, 5.08, 7.62});
  ASSERT_EQ(layout(MSG_SET, metric), TWRC_SUCCESS);
  ASSERT_EQ(src().set_one(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES), TWRC_SUCCESS);
  ASSERT_EQ(layout(MSG_GET, l), TWRC_SUCCESS);
  expect_frame_near(frame_of(l), {1, 1, 2, 3}, 0.0001, "from centimetres");

  ASSERT_EQ(layout(MSG_GETDEFAULT, l), TWRC_SUCCESS);
  expect_frame_near(frame_of(l), {0, 0, 8.5, 14}, kFix32, "default");
  ASSERT_EQ(layout(MSG_RESET, l), TWRC_SUCCESS);
  ASSERT_EQ(layout(MSG_GET, l), TWRC_SUCCESS);
  expect_frame_near(frame_of(l), {0, 0, 8.5, 14}, kFix32, "reset");
}

TEST_F(VirtualScanner, ThePaperPathFollowsTheConfig) {
  struct Case {
    const char* config;
    bool feeder;            // the feeder capabilities exist
    double duplex;          // CAP_DUPLEX
    double feeder_enabled;  // when the device opens
    bool feeder_can_be_off;
    double loaded;
  } cases[] = {
      {"", true, TWDX_1PASSDUPLEX, 1, true, 1},
      {"feeder = no\n", false, TWDX_NONE, NAN, false, NAN},
      {"flatbed = no\n", true, TWDX_1PASSDUPLEX, 1, false, 1},
      {"feeder_enabled = no\nfeeder_sheets = 0\nduplex = 2pass\n", true, TWDX_2PASSDUPLEX, 0, true,
       0},
      {"duplex = none\n", true, TWDX_NONE, 1, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    open((std::string("[device]\n") + c.config).c_str());
    EXPECT_EQ(src().current(CAP_DUPLEX), c.duplex);
    EXPECT_EQ(src().get(CAP_DUPLEXENABLED).has_value(), c.duplex != TWDX_NONE);
    for (TW_UINT16 cap : {CAP_FEEDERENABLED, CAP_AUTOFEED, CAP_FEEDERLOADED, CAP_PAPERDETECTABLE})
      EXPECT_EQ(src().get(cap).has_value(), c.feeder) << std::hex << cap;
    if (c.feeder) {
      EXPECT_EQ(src().current(CAP_FEEDERENABLED), c.feeder_enabled);
      EXPECT_EQ(src().current(CAP_FEEDERLOADED), c.loaded);
      EXPECT_EQ(src().set_one(CAP_FEEDERENABLED, TWTY_BOOL, 0),
                c.feeder_can_be_off ? TWRC_SUCCESS : TWRC_FAILURE);
    }
    TearDown();
  }
}

TEST_F(VirtualScanner, ExtendedCapsAcceptOnlyWhatTheDeviceAllowsLater) {
  open("[device]\nextended_caps = ICAP_BRIGHTNESS, ICAP_CONTRAST\n");
  EXPECT_EQ(src().set(CAP_EXTENDEDCAPS, TWON_ARRAY,
                      make_list(src().ep, TWON_ARRAY, TWTY_UINT16, {ICAP_BRIGHTNESS})),
            TWRC_SUCCESS);
  const auto got = src().get(CAP_EXTENDEDCAPS, MSG_GETCURRENT);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->items, std::vector<double>{ICAP_BRIGHTNESS});
  EXPECT_EQ(src().set(CAP_EXTENDEDCAPS, TWON_ARRAY,
                      make_list(src().ep, TWON_ARRAY, TWTY_UINT16, {ICAP_XRESOLUTION})),
            TWRC_FAILURE);
  EXPECT_EQ(src().condition(), TWCC_BADVALUE);
}

TEST_F(VirtualScanner, AConfigWithMistakesStillGivesItsDevices) {
  use_config(R"(
stray = before any section
[device]
product = "  Spaced Name  "
bogus = 1
dpi_min = abc
pixel_types = rgb, purple
[unknown]
product = Not A Device
[device]
product = Gray Only
pixel_types = gray
bitdepths_gray = 16
no equals sign here
)");
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  EXPECT_EQ(app.list(), (std::vector<std::string>{"  Spaced Name  ", "Gray Only"}));
  {
    OpenSource spaced(app, "  Spaced Name  ");
    ASSERT_EQ(spaced.rc, TWRC_SUCCESS);
    const auto range = spaced.get(ICAP_XRESOLUTION);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->items[0], 50) << "a bad value leaves the built-in one";
    const auto types = spaced.get(ICAP_PIXELTYPE);
    ASSERT_TRUE(types);
    EXPECT_EQ(types->items.size(), 3u) << "a list with an unknown name is ignored whole";
  }
  OpenSource gray(app, "Gray Only");
  ASSERT_EQ(gray.rc, TWRC_SUCCESS);
  const auto types = gray.get(ICAP_PIXELTYPE);
  ASSERT_TRUE(types);
  EXPECT_EQ(types->items, std::vector<double>{TWPT_GRAY});
  const auto depths = gray.get(ICAP_BITDEPTH);
  ASSERT_TRUE(depths);
  EXPECT_EQ(depths->items, std::vector<double>{16});
}

}  // namespace
}  // namespace dsm_test
