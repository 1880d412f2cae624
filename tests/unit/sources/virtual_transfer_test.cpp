// The virtual scanner's transfer side as an application meets it through the
// Source Manager: enabling and the notifications that follow (delivered to
// the registered callback and claimed through MSG_PROCESSEVENT), the pending
// counts of flatbed, feeder and duplex, native DIBs of every pixel type,
// memory blocks, file transfers, scripted page events and the extended image
// information. Pixels are checked against the page generator's own render of
// the same page, by checksum.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <tiffio.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "../dsm/dsm_harness.h"
#include "sources/virtual/pages.h"

namespace dsm_test {
namespace {

using namespace std::chrono_literals;

// Notifications the Source Manager delivered to the application's callback
// (on the device's thread).
struct Inbox {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<TW_UINT16> messages;
};
Inbox& inbox() {
  static Inbox box;
  return box;
}

TW_UINT16 on_notification(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                          TW_MEMREF) {
  if (dg == DG_CONTROL && dat == DAT_NULL) {
    std::lock_guard<std::mutex> lock(inbox().mutex);
    inbox().messages.push_back(msg);
    inbox().arrived.notify_all();
  }
  return TWRC_SUCCESS;
}

// One row per image row, top first, in the page generator's layout.
struct Pixels {
  int width = 0, height = 0, bits = 0;
  std::vector<std::uint8_t> rows;
  std::uint64_t checksum() const {
    return vscan::raster_checksum(rows.data(), (std::size_t(width) * bits + 7) / 8, height);
  }
};

std::uint32_t u32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
std::uint16_t u16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

class Transfer : public DsmTest {
 protected:
  void open(const std::string& config = "[device]\n") {
    use_config(config);
    app_.emplace();
    ASSERT_EQ(app_->open_dsm(), TWRC_SUCCESS);
    source_.emplace(*app_);
    ASSERT_EQ(source_->rc, TWRC_SUCCESS);
    {
      std::lock_guard<std::mutex> lock(inbox().mutex);
      inbox().messages.clear();
    }
    TW_CALLBACK2 callback{reinterpret_cast<TW_MEMREF>(&on_notification), 0, 0};
    ASSERT_EQ(app_->call(&src().area.identity, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK,
                         &callback),
              TWRC_SUCCESS);
  }
  void TearDown() override {
    if (source_ && source_->rc == TWRC_SUCCESS) {
      // Back to state 4 whatever the test left, so the source can close.
      TW_PENDINGXFERS pending{};
      src().call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
      src().call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
      TW_USERINTERFACE ui{};
      src().call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }
    source_.reset();
    app_.reset();
  }
  OpenSource& src() { return *source_; }

  TW_UINT16 enable(bool show_ui = false, TW_UINT16 msg = MSG_ENABLEDS) {
    TW_USERINTERFACE ui{static_cast<TW_BOOL>(show_ui), 0, nullptr};
    return src().call(DG_CONTROL, DAT_USERINTERFACE, msg, &ui);
  }
  TW_UINT16 disable() {
    TW_USERINTERFACE ui{};
    return src().call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
  }
  // Waits for the callback to report a notification, then claims it through
  // the event pump; answers the message claimed (MSG_NULL on a timeout).
  TW_UINT16 next_notification(std::chrono::milliseconds limit = 5s) {
    {
      std::unique_lock<std::mutex> lock(inbox().mutex);
      if (!inbox().arrived.wait_for(lock, limit, [] { return !inbox().messages.empty(); }))
        return MSG_NULL;
      inbox().messages.erase(inbox().messages.begin());
    }
    TW_EVENT event{nullptr, MSG_NULL};
    EXPECT_EQ(src().call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
    return event.TWMessage;
  }
  // Enables without the dialog and waits for MSG_XFERREADY.
  void ready() {
    ASSERT_EQ(enable(), TWRC_SUCCESS);
    ASSERT_EQ(next_notification(), MSG_XFERREADY);
  }
  TW_UINT16 end_xfer(int* out_count = nullptr, TW_UINT16 msg = MSG_ENDXFER) {
    TW_PENDINGXFERS pending{};
    const TW_UINT16 rc = src().call(DG_CONTROL, DAT_PENDINGXFERS, msg, &pending);
    if (out_count != nullptr) *out_count = pending.Count;
    return rc;
  }
  int pending() {
    TW_PENDINGXFERS pending{};
    pending.Count = 0xbeef;
    EXPECT_EQ(src().call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
    return pending.Count;
  }
  TW_IMAGEINFO image_info() {
    TW_IMAGEINFO info{};
    EXPECT_EQ(src().call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    return info;
  }
  // A native transfer; the DIB's bytes (empty when it failed).
  std::vector<std::uint8_t> native(TW_UINT16* out_rc = nullptr) {
    TW_HANDLE handle = nullptr;
    const TW_UINT16 rc = src().call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    if (out_rc != nullptr) *out_rc = rc;
    if (rc != TWRC_XFERDONE || handle == nullptr) return {};
    // The block's size from its header: header, colours, masks, pixels.
    const auto* p = static_cast<const std::uint8_t*>(src().ep.DSM_MemLock(handle));
    const std::size_t size =
        u32(p) + 4 * std::size_t(u32(p + 32)) + (u32(p + 16) == 3 ? 12 : 0) + u32(p + 20);
    std::vector<std::uint8_t> bytes(p, p + size);
    src().ep.DSM_MemUnlock(handle);
    src().ep.DSM_MemFree(handle);
    return bytes;
  }

  TW_UINT16 set(TW_UINT16 cap, double value, TW_UINT16 type = TWTY_UINT16) {
    return src().set_one(cap, type, value);
  }

  // One DAT_EXTIMAGEINFO answer, decoded.
  struct Info {
    TW_UINT16 rc = 0;
    TW_UINT16 type = 0;
    TW_UINT16 count = 0;
    double number = NAN;
    std::string text;
  };
  // Asks for `codes`; frees the blocks the device made.
  std::map<TW_UINT16, Info> ext_info(const std::vector<TW_UINT16>& codes,
                                     TW_UINT16* out_rc = nullptr) {
    std::vector<std::uint64_t> storage(1 + codes.size() * 2 + 2);  // 8-byte aligned
    auto* ext = reinterpret_cast<TW_EXTIMAGEINFO*>(storage.data());
    ext->NumInfos = static_cast<TW_UINT32>(codes.size());
    TW_INFO* infos = ext->Info;
    for (std::size_t i = 0; i < codes.size(); ++i) infos[i] = TW_INFO{codes[i], 0, 0, {0}, 0};
    const TW_UINT16 rc = src().call(DG_IMAGE, DAT_EXTIMAGEINFO, MSG_GET, ext);
    if (out_rc != nullptr) *out_rc = rc;
    std::map<TW_UINT16, Info> answers;
    if (rc != TWRC_SUCCESS) return answers;
    for (std::size_t i = 0; i < codes.size(); ++i) {
      const TW_INFO& in = infos[i];
      Info info{in.ReturnCode, in.ItemType, in.NumItems};
      const bool text = in.ItemType == TWTY_STR255 || in.ItemType == TWTY_HANDLE;
      if (in.ReturnCode == TWRC_SUCCESS && (text || in.ItemType == TWTY_FRAME)) {
        auto handle = reinterpret_cast<TW_HANDLE>(in.Item);
        const auto* p = static_cast<const char*>(src().ep.DSM_MemLock(handle));
        if (text) info.text = std::string(p, ::strnlen(p, 256));
        if (in.ItemType == TWTY_FRAME)
          info.number = fix32_value(reinterpret_cast<const unsigned char*>(p) + 8);  // right
        src().ep.DSM_MemUnlock(handle);
        src().ep.DSM_MemFree(handle);
      } else if (in.ReturnCode == TWRC_SUCCESS) {
        info.number = static_cast<double>(in.Item);
      }
      answers[codes[i]] = info;
    }
    return answers;
  }
  std::uint64_t reported_checksum() {
    const auto info = ext_info({0x8001});
    const auto it = info.find(0x8001);
    if (it == info.end() || it->second.text.empty()) return 0;
    return std::stoull(it->second.text, nullptr, 16);
  }

  std::optional<App> app_;
  std::optional<OpenSource> source_;
};

// A DIB's pixels back in the generator's layout: rows top first, samples in
// TWAIN order, no padding.
Pixels pixels_of_dib(const std::vector<std::uint8_t>& dib) {
  Pixels px;
  px.width = static_cast<int>(u32(&dib[4]));
  px.height = static_cast<int>(u32(&dib[8]));
  px.bits = u16(&dib[14]);
  const std::uint32_t compression = u32(&dib[16]);
  std::size_t offset = 40 + 4 * std::size_t(u32(&dib[32])) + (compression == 3 ? 12 : 0);
  const std::size_t stride = (std::size_t(px.width) * px.bits + 31) / 32 * 4;
  const std::size_t row_bytes = (std::size_t(px.width) * px.bits + 7) / 8;
  for (int y = 0; y < px.height; ++y) {
    const std::uint8_t* row = &dib[offset + stride * std::size_t(px.height - 1 - y)];
    std::vector<std::uint8_t> out(row, row + row_bytes);
    const bool rgb = (compression & 0xff) != 5 && (px.bits == 24 || px.bits == 48);
    if (rgb) {
      const int sample = px.bits / 24;
      for (int x = 0; x < px.width; ++x)
        for (int b = 0; b < sample; ++b)
          std::swap(out[(3 * x) * sample + b], out[(3 * x + 2) * sample + b]);
    }
    if (const int tail = (px.width * px.bits) % 8; tail != 0)
      out.back() &= static_cast<std::uint8_t>(0xff << (8 - tail));
    px.rows.insert(px.rows.end(), out.begin(), out.end());
  }
  return px;
}

std::uint64_t expected_checksum(const vscan::PageFormat& format, vscan::PageFacts facts) {
  return vscan::render_page(format, facts)->checksum();
}

TEST_F(Transfer, EnablingAnnouncesTheImageThroughTheCallbackAndTheEventPump) {
  open("[device]\nxfer_delay_ms = 150\nfeeder_enabled = no\n");
  EXPECT_EQ(enable(), TWRC_SUCCESS);
  // Not before the delay.
  TW_EVENT event{nullptr, MSG_NULL};
  EXPECT_EQ(src().call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(next_notification(), MSG_XFERREADY);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  // Claimed once.
  EXPECT_EQ(src().call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
  EXPECT_EQ(pending(), 1);
  const TW_IMAGEINFO info = image_info();
  EXPECT_EQ(int(info.ImageWidth), 1700);
  EXPECT_EQ(int(info.ImageLength), 2800);
  EXPECT_EQ(int(info.BitsPerPixel), 1);
}

// A small page (101 x 100 pixels at 50 dpi: odd rows need padding) of every
// pixel type the device can be given.
const char* kSmallDevice =
    "[device]\nfeeder_enabled = no\nflatbed_pages = 100\nwidth = 2.02\nheight "
    "= 2\n"
    "dpi_default = 50\npixel_types = bw, gray, rgb, palette, cmy, cmyk\n"
    "bitdepths_gray = 8, 16, 4\n";

vscan::PageFormat small_format(TW_UINT16 type, TW_UINT16 depth, TW_UINT16 flavor = TWPF_CHOCOLATE) {
  vscan::PageFormat f;
  f.pixel_type = type;
  f.bit_depth = depth;
  f.width = 101;
  f.height = 100;
  f.x_dpi = f.y_dpi = 50;
  f.pixel_flavor = flavor;
  return f;
}

TEST_F(Transfer, PendingCountsFollowThePaperPathAndTheTransferCount) {
  struct Case {
    const char* name;
    const char* config;
    bool duplex;
    int xfer_count;
    std::vector<std::array<int, 3>> pages;  // document, page, side (1 front, 2 back)
  } cases[] = {
      {"flatbed", "feeder_enabled = no\nflatbed_pages = 2\n", false, -1, {{1, 1, 1}, {2, 2, 1}}},
      {"feeder", "feeder_sheets = 3\n", false, -1, {{1, 1, 1}, {2, 2, 1}, {3, 3, 1}}},
      {"duplex", "feeder_sheets = 2\n", true, -1, {{1, 1, 1}, {1, 2, 2}, {2, 3, 1}, {2, 4, 2}}},
      {"count", "feeder_sheets = 5\n", false, 2, {{1, 1, 1}, {2, 2, 1}}},
      {"count within duplex", "feeder_sheets = 5\n", true, 3, {{1, 1, 1}, {1, 2, 2}, {2, 3, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    open(std::string("[device]\ndpi_default = 50\nwidth = 2\nheight = 2\n") + c.config);
    if (c.duplex) ASSERT_EQ(set(CAP_DUPLEXENABLED, 1, TWTY_BOOL), TWRC_SUCCESS);
    ASSERT_EQ(set(CAP_XFERCOUNT, c.xfer_count, TWTY_INT16), TWRC_SUCCESS);
    ready();
    for (std::size_t i = 0; i < c.pages.size(); ++i) {
      EXPECT_EQ(pending(), int(c.pages.size() - i));
      ASSERT_FALSE(native().empty());
      const auto info = ext_info({TWEI_DOCUMENTNUMBER, TWEI_PAGENUMBER, TWEI_PAGESIDE});
      EXPECT_EQ(info.at(TWEI_DOCUMENTNUMBER).number, c.pages[i][0]) << i;
      EXPECT_EQ(info.at(TWEI_PAGENUMBER).number, c.pages[i][1]) << i;
      EXPECT_EQ(info.at(TWEI_PAGESIDE).number, c.pages[i][2]) << i;
      int count = -1;
      ASSERT_EQ(end_xfer(&count), TWRC_SUCCESS);
      EXPECT_EQ(count, int(c.pages.size() - i - 1));
    }
    // Back in state 5: no image to describe.
    TW_IMAGEINFO info{};
    EXPECT_EQ(src().call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
    EXPECT_EQ(src().condition(), TWCC_SEQERROR);
    EXPECT_EQ(disable(), TWRC_SUCCESS);
  }
}

TEST_F(Transfer, NativeDibsOfEveryPixelTypeCarryThePagePixels) {
  struct Case {
    TW_UINT16 type, depth;
    TW_UINT16 flavor;
    std::uint32_t compression, colours;
  } cases[] = {
      {TWPT_BW, 1, TWPF_CHOCOLATE, 0, 2},    {TWPT_BW, 1, TWPF_VANILLA, 0, 2},
      {TWPT_GRAY, 4, TWPF_CHOCOLATE, 0, 16}, {TWPT_GRAY, 8, TWPF_CHOCOLATE, 0, 256},
      {TWPT_GRAY, 16, TWPF_CHOCOLATE, 3, 0}, {TWPT_RGB, 24, TWPF_CHOCOLATE, 0, 0},
      {TWPT_RGB, 48, TWPF_CHOCOLATE, 0, 0},  {TWPT_PALETTE, 8, TWPF_CHOCOLATE, 0, 256},
      {TWPT_CMY, 24, TWPF_CHOCOLATE, 5, 0},  {TWPT_CMYK, 32, TWPF_CHOCOLATE, 5, 0},
  };
  open(kSmallDevice);
  ASSERT_EQ(set(CAP_XFERCOUNT, 1, TWTY_INT16), TWRC_SUCCESS);
  int page = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "type " << c.type << " depth " << c.depth << " flavor " << c.flavor);
    ASSERT_EQ(set(ICAP_PIXELTYPE, c.type), TWRC_SUCCESS);
    ASSERT_EQ(set(ICAP_BITDEPTH, c.depth), TWRC_SUCCESS);
    ASSERT_EQ(set(ICAP_PIXELFLAVOR, c.flavor), TWRC_SUCCESS);
    ready();
    const TW_IMAGEINFO info = image_info();
    EXPECT_EQ(int(info.ImageWidth), 101);
    EXPECT_EQ(int(info.BitsPerPixel), c.depth);
    const auto dib = native();
    ASSERT_GE(dib.size(), 40u);
    ++page;
    EXPECT_EQ(u32(&dib[0]), 40u);
    EXPECT_EQ(u32(&dib[16]), c.compression);
    EXPECT_EQ(u32(&dib[32]), c.colours);
    EXPECT_EQ(u32(&dib[24]), 1969u);  // 50 dpi in pixels per metre
    if (c.compression == 3) EXPECT_EQ(u32(&dib[40]), 0xffffu);
    if (c.type == TWPT_BW) {
      // Colour 0 is black for chocolate pixels, white for vanilla ones.
      EXPECT_EQ(dib[40], c.flavor == TWPF_VANILLA ? 255 : 0);
      EXPECT_EQ(dib[44], c.flavor == TWPF_VANILLA ? 0 : 255);
    }
    const Pixels px = pixels_of_dib(dib);
    ASSERT_EQ(dib.size(), 40 + 4 * c.colours + (c.compression == 3 ? 12 : 0) +
                              (101 * std::size_t(c.depth) + 31) / 32 * 4 * 100);
    const std::uint64_t sum = px.checksum();
    EXPECT_EQ(sum, expected_checksum(small_format(c.type, c.depth, c.flavor), {page, page, false}));
    EXPECT_EQ(sum, reported_checksum());
    ASSERT_EQ(end_xfer(), TWRC_SUCCESS);
    ASSERT_EQ(disable(), TWRC_SUCCESS);
  }
}

// A memory transfer as an application assembles it: every block placed by
// its offsets (planar blocks into their channel), or the compressed stream
// appended.
struct MemoryResult {
  TW_UINT16 rc = TWRC_FAILURE;
  TW_IMAGEINFO info{};
  Pixels px;
  std::vector<TW_IMAGEMEMXFER> blocks;
  std::vector<std::uint8_t> stream;
};

MemoryResult memory_transfer(OpenSource& src, bool into_handle = false) {
  MemoryResult out;
  TW_SETUPMEMXFER setup{};
  EXPECT_EQ(src.call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS);
  EXPECT_LE(std::uint32_t(setup.MinBufSize), std::uint32_t(setup.Preferred));
  EXPECT_LE(std::uint32_t(setup.Preferred), std::uint32_t(setup.MaxBufSize));
  EXPECT_EQ(src.call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &out.info), TWRC_SUCCESS);
  const TW_IMAGEINFO& info = out.info;
  Pixels& px = out.px;
  px.width = info.ImageWidth;
  px.height = info.ImageLength;
  px.bits = info.BitsPerPixel;
  const std::size_t row_bytes = (std::size_t(px.width) * px.bits + 7) / 8;
  px.rows.assign(row_bytes * px.height, 0);
  std::vector<std::uint8_t> buffer(setup.Preferred);
  TW_HANDLE handle = into_handle ? src.ep.DSM_MemAllocate(setup.Preferred) : nullptr;
  int channel = 0;
  for (int n = 0; n < 100000; ++n) {
    TW_IMAGEMEMXFER mx{};
    mx.Memory = into_handle
                    ? TW_MEMORY{TWMF_APPOWNS | TWMF_HANDLE, setup.Preferred, handle}
                    : TW_MEMORY{TWMF_APPOWNS | TWMF_POINTER, setup.Preferred, buffer.data()};
    out.rc = src.call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mx);
    if (out.rc != TWRC_SUCCESS && out.rc != TWRC_XFERDONE) break;
    out.blocks.push_back(mx);
    const std::uint8_t* data = buffer.data();
    if (into_handle) data = static_cast<const std::uint8_t*>(src.ep.DSM_MemLock(handle));
    if (info.Compression != TWCP_NONE) {
      out.stream.insert(out.stream.end(), data, data + mx.BytesWritten);
    } else {
      // Copies: the record is packed.
      const std::uint32_t written = mx.BytesWritten, preferred = setup.Preferred;
      EXPECT_LE(written, preferred);
      EXPECT_EQ(written, std::uint32_t(mx.BytesPerRow * mx.Rows));
      const int x = mx.XOffset == TWON_DONTCARE32 ? 0 : int(mx.XOffset);
      const int columns = std::min(int(mx.Columns), px.width - x);
      for (std::uint32_t r = 0; r < mx.Rows; ++r) {
        const std::uint8_t* in = data + std::size_t(r) * mx.BytesPerRow;
        std::uint8_t* row = &px.rows[row_bytes * (mx.YOffset + r)];
        if (info.Planar) {
          for (int c = 0; c < columns; ++c) row[(x + c) * info.SamplesPerPixel + channel] = in[c];
        } else {
          std::memcpy(row + std::size_t(x) * px.bits / 8, in,
                      (std::size_t(columns) * px.bits + 7) / 8);
        }
      }
      if (info.Planar && mx.YOffset + mx.Rows == std::uint32_t(px.height)) ++channel;
    }
    if (into_handle) src.ep.DSM_MemUnlock(handle);
    if (out.rc == TWRC_XFERDONE) break;
  }
  if (handle != nullptr) src.ep.DSM_MemFree(handle);
  if (const int tail = (px.width * px.bits) % 8; tail != 0) {
    for (int y = 0; y < px.height; ++y)
      px.rows[row_bytes * (y + 1) - 1] &= static_cast<std::uint8_t>(0xff << (8 - tail));
  }
  return out;
}

TEST_F(Transfer, MemoryBlocksReassembleToThePageThatWasSent) {
  struct Case {
    const char* name;
    const char* config;
    TW_UINT16 type, depth;
    bool planar = false, tiles = false, handle = false;
    std::size_t min_blocks = 2;
  } cases[] = {
      {"strips as many as fit", "mem_preferred = 4096\n", TWPT_RGB, 24},
      {"cycled strip heights", "mem_rows = 7, 3\n", TWPT_GRAY, 8, false, false, false, 20},
      {"padded rows", "mem_rows = 10\nmem_row_align = 4\n", TWPT_BW, 1, false, false, false, 10},
      {"48-bit into a handle", "mem_rows = 25\n", TWPT_RGB, 48, false, false, true, 4},
      {"planar", "mem_rows = 50\n", TWPT_RGB, 24, true, false, false, 6},
      {"tiles", "tiles = yes\ntile_size = 32x16\n", TWPT_GRAY, 16, false, true, false, 28},
      {"bw tiles", "tiles = yes\ntile_size = 64x64\n", TWPT_BW, 1, false, true, false, 4},
      {"wide columns", "mem_rows = 30\nmem_quirk = wide_columns\n", TWPT_CMYK, 32},
      {"x offset unset", "mem_rows = 30\nmem_quirk = xoffset_unset\n", TWPT_PALETTE, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    open(std::string(kSmallDevice) + c.config);
    ASSERT_EQ(set(ICAP_XFERMECH, TWSX_MEMORY), TWRC_SUCCESS);
    ASSERT_EQ(set(CAP_XFERCOUNT, 1, TWTY_INT16), TWRC_SUCCESS);
    ASSERT_EQ(set(ICAP_PIXELTYPE, c.type), TWRC_SUCCESS);
    ASSERT_EQ(set(ICAP_BITDEPTH, c.depth), TWRC_SUCCESS);
    if (c.planar) ASSERT_EQ(set(ICAP_PLANARCHUNKY, TWPC_PLANAR), TWRC_SUCCESS);
    if (c.tiles) ASSERT_EQ(set(ICAP_TILES, 1, TWTY_BOOL), TWRC_SUCCESS);
    ready();
    const MemoryResult got = memory_transfer(src(), c.handle);
    ASSERT_EQ(got.rc, TWRC_XFERDONE);
    EXPECT_EQ(int(got.info.Planar), c.planar ? 1 : 0);
    EXPECT_GE(got.blocks.size(), c.min_blocks);
    const std::uint64_t sum = got.px.checksum();
    EXPECT_EQ(sum, expected_checksum(small_format(c.type, c.depth), {1, 1, false}));
    EXPECT_EQ(sum, reported_checksum());
    if (c.type == TWPT_PALETTE) {
      TW_PALETTE8 palette{};
      ASSERT_EQ(src().call(DG_IMAGE, DAT_PALETTE8, MSG_GET, &palette), TWRC_SUCCESS);
      EXPECT_EQ(int(palette.NumColors), 256);
      EXPECT_EQ(palette.Colors[7].Channel1, vscan::page_palette()[7].Channel1);
    }
    // No block after the last one.
    TW_IMAGEMEMXFER more{};
    EXPECT_EQ(src().call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &more), TWRC_FAILURE);
    EXPECT_EQ(src().condition(), TWCC_SEQERROR);
  }
}

TEST_F(Transfer, MemoryBlocksFailAtTheRequestedBlock) {
  open(std::string(kSmallDevice) + "mem_rows = 10\nmem_fail_block = 3\n");
  ASSERT_EQ(set(ICAP_XFERMECH, TWSX_MEMORY), TWRC_SUCCESS);
  ready();
  const MemoryResult got = memory_transfer(src());
  EXPECT_EQ(got.rc, TWRC_FAILURE);
  EXPECT_EQ(got.blocks.size(), 2u);
  EXPECT_EQ(src().condition(), TWCC_OPERATIONERROR);
}

// The stream of a compressed transfer, decoded with the codec libraries.
std::vector<std::uint8_t> decode_jpeg(const std::vector<std::uint8_t>& stream, int& out_width,
                                      int& out_height, int& out_components) {
  jpeg_decompress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, stream.data(), static_cast<unsigned long>(stream.size()));
  jpeg_read_header(&info, TRUE);
  jpeg_start_decompress(&info);
  out_width = int(info.output_width);
  out_height = int(info.output_height);
  out_components = info.output_components;
  std::vector<std::uint8_t> pixels(std::size_t(out_width) * out_height * out_components);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &pixels[std::size_t(info.output_scanline) * out_width * out_components];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return pixels;
}

std::vector<std::uint8_t> decode_group4(const std::vector<std::uint8_t>& stream, int width,
                                        int height, const std::string& path) {
  TIFF* out = TIFFOpen(path.c_str(), "w");
  TIFFSetField(out, TIFFTAG_IMAGEWIDTH, std::uint32_t(width));
  TIFFSetField(out, TIFFTAG_IMAGELENGTH, std::uint32_t(height));
  TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, std::uint32_t(height));
  TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFWriteRawStrip(out, 0, const_cast<std::uint8_t*>(stream.data()), tmsize_t(stream.size()));
  TIFFClose(out);
  TIFF* in = TIFFOpen(path.c_str(), "r");
  std::vector<std::uint8_t> rows(std::size_t(TIFFStripSize(in)));
  const tmsize_t n = TIFFReadEncodedStrip(in, 0, rows.data(), tmsize_t(rows.size()));
  TIFFClose(in);
  if (n != tmsize_t(rows.size())) rows.clear();
  return rows;
}

TEST_F(Transfer, CompressedMemoryTransfersAreStreamsThatDecodeToThePage) {
  struct Case {
    TW_UINT16 compression, type, depth;
  } cases[] = {{TWCP_GROUP4, TWPT_BW, 1}, {TWCP_JPEG, TWPT_GRAY, 8}, {TWCP_JPEG, TWPT_RGB, 24}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "compression " << c.compression << " type " << c.type);
    TearDown();
    open(std::string(kSmallDevice) + "mem_preferred = 4096\nmem_min = 512\n");
    ASSERT_EQ(set(ICAP_XFERMECH, TWSX_MEMORY), TWRC_SUCCESS);
    ASSERT_EQ(set(ICAP_PIXELTYPE, c.type), TWRC_SUCCESS);
    ASSERT_EQ(set(ICAP_BITDEPTH, c.depth), TWRC_SUCCESS);
    ASSERT_EQ(set(ICAP_COMPRESSION, c.compression), TWRC_SUCCESS);
    ready();
    const MemoryResult got = memory_transfer(src());
    ASSERT_EQ(got.rc, TWRC_XFERDONE);
    EXPECT_EQ(TW_UINT16(got.info.Compression), c.compression);
    for (const TW_IMAGEMEMXFER& block : got.blocks)
      EXPECT_EQ(TW_UINT16(block.Compression), c.compression);
    const auto page = vscan::render_page(small_format(c.type, c.depth), {1, 1, false});
    if (c.compression == TWCP_GROUP4) {
      const auto rows = decode_group4(got.stream, 101, 100, home_.path() + "/g4.tif");
      ASSERT_EQ(rows.size(), page->pixels.size());
      // Fax coding has black as 1; the page's chocolate pixels have it as 0.
      for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::uint8_t mask = (i + 1) % page->bytes_per_row == 0 ? 0xf8 : 0xff;  // 101 % 8 = 5
        ASSERT_EQ(rows[i] & mask, ~page->pixels[i] & mask) << "byte " << i;
      }
    } else {
      int width = 0, height = 0, components = 0;
      const auto pixels = decode_jpeg(got.stream, width, height, components);
      EXPECT_EQ(width, 101);
      EXPECT_EQ(height, 100);
      ASSERT_EQ(pixels.size(), page->pixels.size());
      double error = 0;
      for (std::size_t i = 0; i < pixels.size(); ++i)
        error += std::abs(int(pixels[i]) - int(page->pixels[i]));
      EXPECT_LT(error / pixels.size(), 12) << "mean absolute difference";
    }
  }
}

// Runs a command; its standard output, and its exit status in `out_status`.
std::string run(const std::string& command, int& out_status) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    out_status = -1;
    return output;
  }
  char chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  out_status = ::pclose(pipe);
  return output;
}

TEST_F(Transfer, FileTransfersWriteTheNegotiatedFormat) {
  struct Case {
    TW_UINT16 format;
    TW_UINT16 type, depth;
    TW_UINT16 compression;
    const char* check;  // a reader of that format, given the file
    const char* expect;
  } cases[] = {
      {TWFF_BMP, TWPT_RGB, 24, TWCP_NONE, "identify -format '%m %w %h' ", "BMP3 101 100"},
      {TWFF_BMP, TWPT_GRAY, 16, TWCP_NONE, "identify -format '%m %w %h' ", "BMP3 101 100"},
      {TWFF_TIFF, TWPT_BW, 1, TWCP_GROUP4, "tiffinfo ", "CCITT Group 4"},
      {TWFF_TIFF, TWPT_CMYK, 32, TWCP_NONE, "tiffinfo ", "separated"},
      {TWFF_TIFF, TWPT_PALETTE, 8, TWCP_NONE, "tiffinfo ", "palette"},
      {TWFF_JFIF, TWPT_BW, 1, TWCP_NONE, "identify -format '%m %w %h' ", "JPEG 101 100"},
      {TWFF_PNG, TWPT_RGB, 48, TWCP_NONE, "identify -format '%m %w %h %z' ", "PNG 101 100 16"},
      {TWFF_PDF, TWPT_GRAY, 8, TWCP_JPEG, "qpdf --check ", "No syntax or stream encoding errors"},
      {TWFF_PDF, TWPT_BW, 1, TWCP_GROUP4, "qpdf --check ", "No syntax or stream encoding errors"},
      {TWFF_PDF, TWPT_PALETTE, 8, TWCP_NONE, "qpdf --check ",
       "No syntax or stream encoding errors"},
      {TWFF_PDF, TWPT_RGB, 48, TWCP_NONE, "pdfimages -list ", "101   100  rgb"},
  };
  open(std::string(kSmallDevice));
  ASSERT_EQ(set(ICAP_XFERMECH, TWSX_FILE), TWRC_SUCCESS);
  ASSERT_EQ(set(CAP_XFERCOUNT, 1, TWTY_INT16), TWRC_SUCCESS);
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "format " << c.format << " type " << c.type << " depth " << c.depth);
    ASSERT_EQ(set(ICAP_PIXELTYPE, c.type), TWRC_SUCCESS);
    ASSERT_EQ(set(ICAP_BITDEPTH, c.depth), TWRC_SUCCESS);
    ASSERT_EQ(set(ICAP_COMPRESSION, c.compression), TWRC_SUCCESS);
    ready();
    const std::string path = home_.path() + "/page" + std::to_string(++n);
    TW_SETUPFILEXFER setup{};
    std::strncpy(setup.FileName, path.c_str(), sizeof setup.FileName - 1);
    setup.Format = c.format;
    ASSERT_EQ(src().call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup), TWRC_SUCCESS);
    TW_SETUPFILEXFER current{};
    ASSERT_EQ(src().call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &current), TWRC_SUCCESS);
    EXPECT_EQ(std::string(current.FileName), path);
    EXPECT_EQ(TW_UINT16(current.Format), c.format);
    EXPECT_EQ(src().call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_XFERDONE);
    int status = 0;
    const std::string output = run(std::string(c.check) + path, status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find(c.expect), std::string::npos) << output;
    ASSERT_EQ(end_xfer(), TWRC_SUCCESS);
    ASSERT_EQ(disable(), TWRC_SUCCESS);
  }
}

TEST_F(Transfer, LosslessFilesHoldThePagePixels) {
  open(std::string(kSmallDevice));
  ASSERT_EQ(set(ICAP_XFERMECH, TWSX_FILE), TWRC_SUCCESS);
  ASSERT_EQ(set(CAP_XFERCOUNT, 1, TWTY_INT16), TWRC_SUCCESS);
  ASSERT_EQ(set(ICAP_PIXELTYPE, TWPT_RGB), TWRC_SUCCESS);
  int page = 0;
  for (TW_UINT16 format : {TWFF_BMP, TWFF_TIFF, TWFF_PNG}) {
    SCOPED_TRACE(format);
    ready();
    ++page;
    const std::string path = home_.path() + "/lossless" + std::to_string(format);
    TW_SETUPFILEXFER setup{};
    std::strncpy(setup.FileName, path.c_str(), sizeof setup.FileName - 1);
    setup.Format = format;
    ASSERT_EQ(src().call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup), TWRC_SUCCESS);
    ASSERT_EQ(src().call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_XFERDONE);
    int status = 0;
    const std::string rgb = run("convert " + path + " -depth 8 rgb:-", status);
    ASSERT_EQ(status, 0) << rgb;
    const auto expected = vscan::render_page(small_format(TWPT_RGB, 24), {page, page, false});
    EXPECT_EQ(vscan::raster_checksum(reinterpret_cast<const std::uint8_t*>(rgb.data()), 303,
                                     int(rgb.size() / 303)),
              expected->checksum());
    ASSERT_EQ(end_xfer(), TWRC_SUCCESS);
    ASSERT_EQ(disable(), TWRC_SUCCESS);
  }
}

TEST_F(Transfer, ScriptedPageEventsFailCancelOrCloseTheirPage) {
  struct Case {
    const char* event;
    TW_UINT16 rc, cc;
  } cases[] = {
      {"jam", TWRC_FAILURE, TWCC_PAPERJAM},
      {"double_feed", TWRC_FAILURE, TWCC_PAPERDOUBLEFEED},
      {"cover_open", TWRC_FAILURE, TWCC_INTERLOCK},
      {"offline", TWRC_FAILURE, TWCC_CHECKDEVICEONLINE},
      {"cancel", TWRC_CANCEL, TWCC_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event);
    for (TW_UINT16 mech : {TWSX_NATIVE, TWSX_MEMORY}) {
      TearDown();
      open(std::string("[device]\ndpi_default = 50\nfeeder_sheets = 3\nevents = 2:") + c.event +
           "\n");
      ASSERT_EQ(set(ICAP_XFERMECH, mech), TWRC_SUCCESS);
      ready();
      auto transfer = [&] {
        TW_UINT16 rc = 0;
        if (mech == TWSX_NATIVE) {
          native(&rc);
        } else {
          rc = memory_transfer(src()).rc;
        }
        return rc;
      };
      EXPECT_EQ(transfer(), TWRC_XFERDONE) << "page 1 goes through";
      int count = 0;
      ASSERT_EQ(end_xfer(&count), TWRC_SUCCESS);
      EXPECT_EQ(count, 2);
      EXPECT_EQ(transfer(), c.rc) << mech;
      EXPECT_EQ(src().condition(), c.cc) << mech;
      // The page is given up; the third one follows.
      ASSERT_EQ(end_xfer(&count), TWRC_SUCCESS);
      EXPECT_EQ(count, 1);
      EXPECT_EQ(ext_info({TWEI_PAGENUMBER}).size(), 0u) << "nothing was transferred yet";
      EXPECT_EQ(transfer(), TWRC_XFERDONE);
      EXPECT_EQ(ext_info({TWEI_PAGENUMBER}).at(TWEI_PAGENUMBER).number, 3);
    }
  }
}

TEST_F(Transfer, ASlowPageTakesItsTime) {
  open("[device]\ndpi_default = 50\nevents = 1:slow=300\n");
  ready();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(native().empty());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
}

TEST_F(Transfer, ACloseRequestReplacesThePagesAnnouncement) {
  // On the first page: instead of MSG_XFERREADY.
  open(
      "[device]\ndpi_default = 50\nfeeder_sheets = 3\nevents = "
      "1:close_request\n");
  ASSERT_EQ(enable(), TWRC_SUCCESS);
  EXPECT_EQ(next_notification(), MSG_CLOSEDSREQ);
  EXPECT_EQ(disable(), TWRC_SUCCESS);
  // On a later one: the transfers end there.
  TearDown();
  open(
      "[device]\ndpi_default = 50\nfeeder_sheets = 3\nevents = "
      "2:close_request\n");
  ready();
  EXPECT_FALSE(native().empty());
  int count = -1;
  ASSERT_EQ(end_xfer(&count), TWRC_SUCCESS);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(next_notification(), MSG_CLOSEDSREQ);
  EXPECT_EQ(disable(), TWRC_SUCCESS);
}

TEST_F(Transfer, ACrashScriptedForAPageHappensInsideItsTransfer) {
  open("[device]\ndpi_default = 50\nevents = 1:crash\ncrash_signal = fpe\n");
  EXPECT_EXIT(
      {
        std::signal(SIGFPE, SIG_DFL);
        ready();
        native();
        std::_Exit(0);
      },
      testing::KilledBySignal(SIGFPE), "");
}

TEST_F(Transfer, TheDeviceDialogScansOnceAndAsksToBeClosed) {
  open("[device]\ndpi_default = 50\nfeeder_sheets = 2\n");
  ASSERT_EQ(enable(true), TWRC_SUCCESS);
  ASSERT_EQ(next_notification(), MSG_XFERREADY);
  for (int expected : {1, 0}) {
    EXPECT_FALSE(native().empty());
    int count = -1;
    ASSERT_EQ(end_xfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(count, expected);
  }
  EXPECT_EQ(next_notification(), MSG_CLOSEDSREQ);
  EXPECT_EQ(disable(), TWRC_SUCCESS);
  // The feeder is empty now: the dialog closes without a scan.
  ASSERT_EQ(enable(true), TWRC_SUCCESS);
  EXPECT_EQ(next_notification(), MSG_CLOSEDSREQ);
  EXPECT_EQ(disable(), TWRC_SUCCESS);
  // Without the dialog an empty device cannot be enabled.
  EXPECT_EQ(enable(false), TWRC_FAILURE);
  EXPECT_EQ(src().condition(), TWCC_NOMEDIA);
}

TEST_F(Transfer, TheSettingsDialogClosesWithOkOrCancel) {
  for (const char* answer : {"ok", "cancel"}) {
    SCOPED_TRACE(answer);
    TearDown();
    open(std::string("[device]\nsettings_dialog = ") + answer + "\n");
    ASSERT_EQ(enable(true, MSG_ENABLEDSUIONLY), TWRC_SUCCESS);
    EXPECT_EQ(next_notification(), std::string(answer) == "ok" ? MSG_CLOSEDSOK : MSG_CLOSEDSREQ);
    EXPECT_EQ(disable(), TWRC_SUCCESS);
  }
}

TEST_F(Transfer, ResponseCurvesShapeTheDeliveredPixels) {
  open(kSmallDevice);
  ASSERT_EQ(set(CAP_XFERCOUNT, 1, TWTY_INT16), TWRC_SUCCESS);
  // Gray takes Channel1; RGB one curve per channel. Listed in reverse: the
  // Index says which level an element maps.
  std::array<TW_ELEMENT8, 256> curve{};
  for (int i = 0; i < 256; ++i) {
    const auto level = static_cast<TW_UINT8>(255 - i);
    curve[i] = TW_ELEMENT8{level, static_cast<TW_UINT8>(255 - level),
                           static_cast<TW_UINT8>(level / 2), level};
  }
  struct Case {
    TW_UINT16 type, depth, dat;
    bool taken;
  } cases[] = {
      {TWPT_GRAY, 8, DAT_GRAYRESPONSE, true},    {TWPT_RGB, 24, DAT_RGBRESPONSE, true},
      {TWPT_GRAY, 16, DAT_GRAYRESPONSE, false},  {TWPT_RGB, 24, DAT_GRAYRESPONSE, false},
      {TWPT_GRAY, 8, DAT_RGBRESPONSE, false},    {TWPT_BW, 1, DAT_GRAYRESPONSE, false},
  };
  int page = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " depth " << c.depth << " dat " << c.dat);
    ASSERT_EQ(set(ICAP_PIXELTYPE, c.type), TWRC_SUCCESS);
    ASSERT_EQ(set(ICAP_BITDEPTH, c.depth), TWRC_SUCCESS);
    auto table = curve;
    if (!c.taken) {
      EXPECT_EQ(src().call(DG_IMAGE, c.dat, MSG_SET, table.data()), TWRC_FAILURE);
      EXPECT_EQ(src().condition(), TWCC_BADVALUE);
      continue;
    }
    ASSERT_EQ(src().call(DG_IMAGE, c.dat, MSG_SET, table.data()), TWRC_SUCCESS);
    ready();
    const Pixels px = pixels_of_dib(native());
    ++page;
    // The generator's page, each sample through its channel's curve.
    const auto rendered = vscan::render_page(small_format(c.type, c.depth), {page, page, false});
    const int channels = c.type == TWPT_RGB ? 3 : 1;
    std::vector<std::uint8_t> expected = rendered->pixels;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const TW_ELEMENT8& e = curve[255 - expected[i]];
      const TW_UINT8 out[3] = {e.Channel1, e.Channel2, e.Channel3};
      expected[i] = out[channels == 1 ? 0 : i % 3];
    }
    EXPECT_EQ(px.rows, expected);
    EXPECT_EQ(px.checksum(), reported_checksum());
    ASSERT_EQ(end_xfer(), TWRC_SUCCESS);
    // Not while enabled; back to the identity in state 4, handed back too.
    EXPECT_EQ(src().call(DG_IMAGE, c.dat, MSG_RESET, table.data()), TWRC_FAILURE);
    EXPECT_EQ(src().condition(), TWCC_SEQERROR);
    ASSERT_EQ(disable(), TWRC_SUCCESS);
    ASSERT_EQ(src().call(DG_IMAGE, c.dat, MSG_RESET, table.data()), TWRC_SUCCESS);
    EXPECT_EQ(table[200].Index, 200);
    EXPECT_EQ(table[200].Channel2, 200);
    ready();
    ++page;
    EXPECT_EQ(pixels_of_dib(native()).checksum(),
              expected_checksum(small_format(c.type, c.depth), {page, page, false}));
    ASSERT_EQ(end_xfer(), TWRC_SUCCESS);
    ASSERT_EQ(disable(), TWRC_SUCCESS);
  }
}

TEST_F(Transfer, ScriptedDeviceEventsAreAnnouncedAndReadOnce) {
  open("[device]\ndpi_default = 50\nfeeder_sheets = 3\n"
       "events = 1:device_event=deviceready, 2:device_event=paperjam\n");
  TW_DEVICEEVENT event{};
  EXPECT_EQ(src().call(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &event), TWRC_FAILURE);
  EXPECT_EQ(src().condition(), TWCC_SEQERROR) << "nothing announced yet";
  ASSERT_EQ(enable(), TWRC_SUCCESS);
  EXPECT_EQ(next_notification(), MSG_DEVICEEVENT) << "ahead of its page";
  EXPECT_EQ(next_notification(), MSG_XFERREADY);
  ASSERT_EQ(src().call(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &event), TWRC_SUCCESS);
  EXPECT_EQ(event.Event, TW_UINT32{TWDE_DEVICEREADY});
  EXPECT_STREQ(event.DeviceName, "Virtual Scanner");
  EXPECT_EQ(src().call(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &event), TWRC_FAILURE) << "read once";
  EXPECT_FALSE(native().empty());
  // The next page follows without an announcement of its own; its event
  // still comes.
  ASSERT_EQ(end_xfer(), TWRC_SUCCESS);
  EXPECT_EQ(next_notification(), MSG_DEVICEEVENT);
  ASSERT_EQ(src().call(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &event), TWRC_SUCCESS);
  EXPECT_EQ(event.Event, TW_UINT32{TWDE_PAPERJAM});
  EXPECT_FALSE(native().empty()) << "the page itself comes as usual";
}

TEST_F(Transfer, TripletsOutOfTheirStateFailWithSequenceError) {
  // The delay keeps state 5 long enough to probe it.
  open("[device]\ndpi_default = 50\nfeeder_sheets = 2\nxfer_delay_ms = 500\n");
  TW_HANDLE handle = nullptr;
  TW_IMAGEINFO info{};
  TW_PENDINGXFERS pending{};
  TW_USERINTERFACE ui{};
  TW_IMAGEMEMXFER block{};
  struct Call {
    const char* name;
    TW_UINT32 dg;
    TW_UINT16 dat, msg;
    void* data;
  };
  const Call native_get{"native", DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle};
  const Call info_get{"image info", DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info};
  const Call end{"end transfer", DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending};
  const Call reset{"reset", DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending};
  const Call off{"disable", DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui};
  const Call on{"enable", DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui};
  const Call memory{"memory block", DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &block};
  auto expect_refused = [&](const std::vector<Call>& calls, const char* state) {
    for (const Call& c : calls) {
      EXPECT_EQ(src().call(c.dg, c.dat, c.msg, c.data), TWRC_FAILURE) << c.name << " in " << state;
      EXPECT_EQ(src().condition(), TWCC_SEQERROR) << c.name << " in " << state;
    }
  };
  expect_refused({native_get, info_get, end, reset, off}, "state 4");
  EXPECT_EQ(ext_info({TWEI_PAGENUMBER}).size(), 0u);
  ASSERT_EQ(enable(), TWRC_SUCCESS);
  expect_refused({on, native_get, info_get, end}, "state 5");
  ASSERT_EQ(next_notification(), MSG_XFERREADY);
  // State 6: a memory block is not the negotiated mechanism.
  expect_refused({on, off, memory}, "state 6");
  TW_UINT16 rc = 0;
  EXPECT_FALSE(native(&rc).empty());
  expect_refused({on, off, native_get, reset}, "state 7");
  EXPECT_EQ(src().call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src().area.identity), TWRC_FAILURE);
}

TEST_F(Transfer, ExtendedInformationDescribesThePageJustSent) {
  for (const char* text_type : {"str255", "handle"}) {
    SCOPED_TRACE(text_type);
    TearDown();
    open(std::string("[device]\nfeeder_sheets = 1\nbarcode_text = ") + text_type + "\n");
    ASSERT_EQ(set(CAP_DUPLEXENABLED, 1, TWTY_BOOL), TWRC_SUCCESS);
    ready();
    ASSERT_EQ(end_xfer(),
              TWRC_SUCCESS);  // the front is skipped: the back is page 2
    const auto dib = native();
    ASSERT_FALSE(dib.empty());
    // The built-in device: black and white, 8.5 x 14 inches at 200 dpi.
    const auto page =
        vscan::render_page(vscan::PageFormat{TWPT_BW, 1, 1700, 2800, 200, 200}, {1, 2, true});
    const auto info =
        ext_info({TWEI_PAGESIDE, TWEI_BARCODECOUNT, TWEI_BARCODETEXT, TWEI_BARCODETYPE,
                  TWEI_BARCODEX, TWEI_FRAME, TWEI_SKEWORIGINALANGLE, 0x8001});
    struct Want {
      TW_UINT16 code, rc, type;
    } wants[] = {
        {TWEI_PAGESIDE, TWRC_SUCCESS, TWTY_UINT16},
        {TWEI_BARCODECOUNT, TWRC_SUCCESS, TWTY_UINT32},
        {TWEI_BARCODETEXT, TWRC_SUCCESS,
         std::string(text_type) == "handle" ? TW_UINT16{TWTY_HANDLE} : TW_UINT16{TWTY_STR255}},
        {TWEI_BARCODETYPE, TWRC_SUCCESS, TWTY_UINT32},
        {TWEI_BARCODEX, TWRC_SUCCESS, TWTY_UINT32},
        {TWEI_FRAME, TWRC_SUCCESS, TWTY_FRAME},
        {TWEI_SKEWORIGINALANGLE, TWRC_INFONOTSUPPORTED, 0},
        {0x8001, TWRC_SUCCESS, TWTY_STR255},
    };
    for (const Want& w : wants) {
      const Info& got = info.at(w.code);
      EXPECT_EQ(got.rc, w.rc) << std::hex << w.code;
      EXPECT_EQ(got.type, w.type) << std::hex << w.code;
      EXPECT_EQ(got.count, w.rc == TWRC_SUCCESS ? 1 : 0) << std::hex << w.code;
    }
    EXPECT_EQ(info.at(TWEI_PAGESIDE).number, TWCS_BOTTOM);
    EXPECT_EQ(info.at(TWEI_BARCODECOUNT).number, 1);
    EXPECT_EQ(info.at(TWEI_BARCODETEXT).text, page->barcode_text);
    EXPECT_FALSE(page->barcode_text.empty());
    EXPECT_EQ(info.at(TWEI_BARCODETYPE).number, TWBT_CODE128);
    EXPECT_GT(info.at(TWEI_BARCODEX).number, 0);
    EXPECT_NEAR(info.at(TWEI_FRAME).number, 8.5, 1e-4);  // right edge, inches
    EXPECT_EQ(std::stoull(info.at(0x8001).text, nullptr, 16), pixels_of_dib(dib).checksum());
  }
}

}  // namespace
}  // namespace dsm_test
