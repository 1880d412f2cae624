// Memory transfers against the real Source Manager and the virtual scanner.
// The oracle is the device's own checksum of the page it sent (extended
// information 0x8001): the assembled DIB, turned back into the device's
// layout, must hash to the same value however the blocks were cut.
#include <gtest/gtest.h>
#include <stdio.h>

#include <jpeglib.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/error_record.h"
#include "dsm_fixture.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/twain_acquire.h"
#include "orivane/twain_extinfo.h"
#include "orivane/twain_manager.h"
#include "orivane/twain_session.h"
#include "orivane/twain_settings.h"
#include "orivane/twain_sources.h"
#include "sources/virtual/pages.h"
#include "twain/acquisition/acquire.h"
#include "twain/acquisition/memory_xfer.h"
#include "twain/session/session.h"

namespace twain_test {
namespace {

constexpr unsigned kChecksumInfo = 0x8001;

// A small page keeps the transfers quick: 2.5 x 3 inches at 100 dpi.
const char* const kDevice =
    "[device]\nproduct = Memory Scanner\nwidth = 2.5\nheight = 3\ndpi_default = 100\n"
    "pixel_types = bw, gray, rgb, palette, cmyk\nmem_preferred = 20000\n";

// The DIB's rows in the device's layout (top first, unpadded, TWAIN sample
// order, trailing bits 0), hashed as the device hashes its page.
std::uint64_t device_checksum(const std::vector<uintptr_t>& dibs, int pixel_type, int flavor) {
  std::vector<std::uint8_t> all;
  std::size_t used = 0;
  int rows = 0;
  for (uintptr_t h : dibs) {
    dib::Locked lock(h);
    const dib::DibView& v = lock.view();
    used = v.used_bytes();
    for (int y = 0; y < v.height(); ++y, ++rows) {
      std::vector<std::uint8_t> row(v.row(y), v.row(y) + used);
      if (pixel_type == TWPT_RGB && v.depth() == 24)
        for (std::size_t x = 0; x + 2 < used; x += 3) std::swap(row[x], row[x + 2]);
      if (pixel_type == TWPT_RGB && v.depth() == 48)
        for (std::size_t x = 0; x + 5 < used; x += 6) {
          std::swap(row[x], row[x + 4]);
          std::swap(row[x + 1], row[x + 5]);
        }
      if (pixel_type == TWPT_BW && flavor == TWPF_VANILLA)
        for (auto& b : row) b = static_cast<std::uint8_t>(~b);
      const int tail = (v.width() * v.depth()) % 8;
      if (tail) row.back() &= static_cast<std::uint8_t>(0xFF << (8 - tail));
      all.insert(all.end(), row.begin(), row.end());
    }
  }
  return vscan::raster_checksum(all.data(), used, rows);
}

std::string hex(std::uint64_t v) {
  char text[32];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
  return text;
}

class MemoryXferTest : public DsmTest {
 protected:
  void SetUp() override {
    DsmTest::SetUp();
    twain::memory_transfer_reset_for_tests();
    core::error_record().suppress_messages = true;
  }

  struct Settings {
    int pixel_type = TWPT_GRAY;
    int depth = 8;
    int flavor = -1;
    bool planar = false;
    bool tiles = false;
    int compression = TWCP_NONE;
    int mechanism = TWSX_MEMORY;
  };

  // Opens the device and applies the settings; the acquisition that follows
  // negotiates nothing more.
  void open_with(const std::string& extra, const Settings& s) {
    use_devices(std::string(kDevice) + extra);
    ASSERT_EQ(TWAIN_OpenDefaultSource(), 1) << trace();
    ASSERT_EQ(TWAIN_SetXferMech(s.mechanism), 1);
    ASSERT_EQ(TWAIN_SetPixelType(s.pixel_type), 1);
    ASSERT_EQ(TWAIN_SetBitDepth(s.depth), 1);
    if (s.flavor >= 0) {
      ASSERT_EQ(TWAIN_SetPixelFlavor(s.flavor), 1);
    }
    if (s.planar) {
      ASSERT_EQ(TWAIN_SetPlanarChunky(TWPC_PLANAR), 1);
    }
    if (s.tiles) {
      ASSERT_EQ(TWAIN_SetTiled(1), 1) << trace();
    }
    if (s.compression != TWCP_NONE) {
      ASSERT_EQ(TWAIN_SetCompression(s.compression), 1);
    }
    ASSERT_EQ(TWAIN_EnableExtendedInfo(kChecksumInfo, 1), 1);
  }

  std::string sent_checksum() {
    const char* text = TWAIN_ExtendedInfoString(kChecksumInfo, 0);
    return text ? text : "";
  }
};

TEST_F(MemoryXferTest, EveryLayoutReassemblesThePageThatWasSent) {
  struct Case {
    const char* name;
    std::string extra;
    Settings s;
    const char* in_trace;  // shows the layout was used
  };
  const Case cases[] = {
      {"gray 8, uneven strips and single rows", "mem_rows = 7, 1, 13\n", {TWPT_GRAY, 8}, "Rows=13 "},
      {"gray 16", "", {TWPT_GRAY, 16}, "BytesPerRow=500 "},
      {"RGB 24, rows padded to 4 bytes", "mem_row_align = 4\n", {TWPT_RGB, 24}, "BytesPerRow=752 "},
      {"RGB 24, one-row strips", "mem_rows = 1\n", {TWPT_RGB, 24}, "Rows=1 XOffset=0 YOffset=299 "},
      {"RGB 48", "", {TWPT_RGB, 48}, "BytesPerRow=1500 "},
      {"palette", "", {TWPT_PALETTE, 8}, "DAT_PALETTE8"},
      {"CMYK", "", {TWPT_CMYK, 32}, "BytesPerRow=1000 "},
      {"black and white", "", {TWPT_BW, 1, TWPF_CHOCOLATE}, "BytesPerRow=32 "},
      {"black and white, vanilla", "", {TWPT_BW, 1, TWPF_VANILLA}, "BytesPerRow=32 "},
      {"planar RGB", "", {TWPT_RGB, 24, -1, true}, "Starting Channel 2"},
      {"tiles of gray", "tiles = yes\ntile_size = 64x48\n", {TWPT_GRAY, 8, -1, false, true},
       "Columns=64 Rows=48 XOffset=64 "},
      {"tiles of RGB", "tiles = yes\ntile_size = 40x40\n", {TWPT_RGB, 24, -1, false, true},
       "Columns=10 Rows=40 XOffset=240 "},
      {"columns wider than the image", "mem_quirk = wide_columns\n", {TWPT_RGB, 24},
       "#HACK[HP PictureScan 3]"},
      {"XOffset left unset", "mem_quirk = xoffset_unset\nmem_rows = 33\n", {TWPT_GRAY, 8},
       "#Hack[HP] XOffset DONTCARE32"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t trace_before = trace().size();
    open_with(c.extra, c.s);
    const uintptr_t image = TWAIN_AcquireMemory(0);
    ASSERT_NE(image, 0u) << core::error_record().text << "\n" << trace();
    EXPECT_EQ(DIB_Width(image), 250);
    EXPECT_EQ(DIB_Height(image), 300);
    EXPECT_EQ(DIB_Depth(image), c.s.depth);
    EXPECT_EQ(DIB_PixelType(image), c.s.pixel_type);
    EXPECT_EQ(hex(device_checksum({image}, c.s.pixel_type, c.s.flavor)), sent_checksum());
    EXPECT_EQ(core::error_record().code, 0) << core::error_record().text;
    DIB_Free(image);
    EXPECT_EQ(TWAIN_State(), 3);
    EXPECT_EQ(DIB_LiveImageCount(), 0);
    EXPECT_NE(trace().find(c.in_trace, trace_before), std::string::npos) << trace().substr(trace_before);
    // The next device's settings are read when the Source Manager lists
    // the devices afresh.
    TWAIN_UnloadSourceManager();
  }
}

// Native transfers and files the device writes carry the same pixels.
TEST_F(MemoryXferTest, NativeAndFileTransfersCarryThePageThatWasSent) {
  struct Case {
    const char* name;
    Settings s;
  };
  const Case natives[] = {
      {"black and white", {TWPT_BW, 1, TWPF_CHOCOLATE}}, {"vanilla", {TWPT_BW, 1, TWPF_VANILLA}},
      {"gray 8", {TWPT_GRAY, 8}},     {"gray 16", {TWPT_GRAY, 16}},
      {"RGB 24", {TWPT_RGB, 24}},     {"RGB 48", {TWPT_RGB, 48}},
      {"palette", {TWPT_PALETTE, 8}}, {"CMYK", {TWPT_CMYK, 32}},
  };
  for (const Case& c : natives) {
    SCOPED_TRACE(c.name);
    Settings s = c.s;
    s.mechanism = TWSX_NATIVE;
    open_with("", s);
    const uintptr_t image = TWAIN_AcquireNative(0, 0);
    ASSERT_NE(image, 0u) << core::error_record().text;
    EXPECT_EQ(DIB_PixelType(image), c.s.pixel_type);
    // A native DIB describes its own pixels: a vanilla page keeps the
    // device's bits under a white-first colour table.
    EXPECT_EQ(hex(device_checksum({image}, c.s.pixel_type, -1)), sent_checksum());
    DIB_Free(image);
    TWAIN_UnloadSourceManager();
  }
  // A TIFF file written by the device, read back by the library (through
  // the codec module of this build).
  env_.emplace_back(std::make_unique<ScopedEnv>("QUILLET_MODULE_PATH", build_folder()));
  for (const Case& c : {Case{"gray 8", {TWPT_GRAY, 8}}, Case{"RGB 24", {TWPT_RGB, 24}}}) {
    SCOPED_TRACE(c.name);
    Settings s = c.s;
    s.mechanism = TWSX_FILE;
    open_with("", s);
    const std::string path = dir_ + "/device.tif";
    ASSERT_EQ(TWAIN_AcquireFile(0, TWFF_TIFF, path.c_str()), 1) << core::error_record().text;
    const uintptr_t image = DIB_LoadFromFilename(path.c_str());
    ASSERT_NE(image, 0u);
    EXPECT_EQ(hex(device_checksum({image}, c.s.pixel_type, -1)), sent_checksum());
    DIB_Free(image);
    TWAIN_UnloadSourceManager();
  }
}

// With a transfer compression the DIB carries the stream itself.
TEST_F(MemoryXferTest, CompressedTransfersKeepTheStream) {
  struct Case {
    const char* name;
    Settings s;
  };
  for (const Case& c : {Case{"JPEG gray", {TWPT_GRAY, 8, -1, false, false, TWCP_JPEG}},
                        Case{"JPEG RGB", {TWPT_RGB, 24, -1, false, false, TWCP_JPEG}},
                        Case{"Group 4", {TWPT_BW, 1, -1, false, false, TWCP_GROUP4}}}) {
    SCOPED_TRACE(c.name);
    open_with("mem_preferred = 4096\n", c.s);
    const uintptr_t image = TWAIN_AcquireCompressed(0);
    ASSERT_NE(image, 0u) << core::error_record().text << "\n" << trace();
    std::vector<std::uint8_t> stream;
    {
      dib::Locked lock(image);
      EXPECT_EQ((lock->header().compression & dib::kCompressionCodeMask) >> 8, unsigned(c.s.compression));
      const std::size_t size = lock->header().size_image;
      if (c.s.compression == TWCP_JPEG) {
        ASSERT_GT(size, 4096u) << "the stream spans several blocks";
      }
      ASSERT_GT(size, 0u);
      ASSERT_LE(lock->pixel_offset() + size, lock->block_size());
      EXPECT_LE(lock->block_size(), lock->pixel_offset() + size + 3) << "shrunk to the stream";
      stream.assign(lock->block() + lock->pixel_offset(), lock->block() + lock->pixel_offset() + size);
    }
    if (c.s.compression == TWCP_JPEG) {
      // The stream decodes to the page's size and colours.
      jpeg_decompress_struct jpeg{};
      jpeg_error_mgr error{};
      jpeg.err = jpeg_std_error(&error);
      jpeg_create_decompress(&jpeg);
      jpeg_mem_src(&jpeg, stream.data(), static_cast<unsigned long>(stream.size()));
      ASSERT_EQ(jpeg_read_header(&jpeg, TRUE), JPEG_HEADER_OK);
      EXPECT_EQ(jpeg.image_width, 250u);
      EXPECT_EQ(jpeg.image_height, 300u);
      EXPECT_EQ(jpeg.num_components, c.s.pixel_type == TWPT_RGB ? 3 : 1);
      jpeg_destroy_decompress(&jpeg);
      EXPECT_EQ(stream[stream.size() - 2], 0xFF);
      EXPECT_EQ(stream[stream.size() - 1], 0xD9);
    }
    DIB_Free(image);
    EXPECT_EQ(DIB_LiveImageCount(), 0);
    TWAIN_UnloadSourceManager();
  }
}

// A failing block ends the image: no DIB is left behind, and the state tells
// whether MSG_ENDXFER is still owed (after a block arrived) or not.
TEST_F(MemoryXferTest, FailedBlockEndsTheImage) {
  struct Case {
    int failing_block;
    int state_after;
  };
  for (const Case c : {Case{1, 6}, Case{2, 7}, Case{4, 7}}) {
    SCOPED_TRACE(c.failing_block);
    open_with("mem_rows = 10\nmem_fail_block = " + std::to_string(c.failing_block) + "\n", Settings{});
    ASSERT_EQ(TWAIN_EnableSource(0), 1);
    TWAIN_WaitForXfer(0);
    ASSERT_EQ(TWAIN_State(), 6) << trace();
    core::error_clear();
    EXPECT_EQ(twain::MemoryXferHandler(0), 0);
    EXPECT_EQ(twain::acquisition().pending_dib, 0u);
    EXPECT_EQ(TWAIN_State(), c.state_after);
    EXPECT_EQ(core::error_record().code, ERR_DS_OPERATION) << core::error_record().text;
    EXPECT_EQ(DIB_LiveImageCount(), 0);
    twain::end_transfer();
    EXPECT_LT(TWAIN_State(), 7);
    TWAIN_UnloadSourceManager();
  }
}

TEST_F(MemoryXferTest, CancelledTransferIsReported) {
  open_with("events = 1:cancel\n", Settings{});
  EXPECT_EQ(TWAIN_AcquireMemory(0), 0u);
  EXPECT_EQ(core::error_record().code, ERR_CANCELLED) << core::error_record().text;
  EXPECT_EQ(DIB_LiveImageCount(), 0) << trace();
}

// The application-driven variant hands out one DIB per block; stacked, they
// are the page.
TEST_F(MemoryXferTest, BlocksOneAtATimeStackUpToThePage) {
  struct Case {
    Settings s;
    std::string extra;
    int most_rows;  // rows of the largest block
  };
  // 40 rows of RGB fill 30080 bytes; the device cuts black and white strips
  // itself.
  for (const Case& c : {Case{{TWPT_RGB, 24}, "", 40}, Case{{TWPT_BW, 1, TWPF_VANILLA}, "mem_rows = 17\n", 17}}) {
    SCOPED_TRACE(c.s.pixel_type);
    open_with(c.extra, c.s);
    ASSERT_EQ(TWAIN_BeginAcquireMemory(0, 40), 1) << trace();
    std::vector<uintptr_t> blocks;
    int rows = 0;
    while (!twain::memory_transfer().done && blocks.size() < 400) {
      const uintptr_t block = TWAIN_AcquireMemoryBlock();
      ASSERT_NE(block, 0u) << core::error_record().text << "\n" << trace();
      EXPECT_EQ(DIB_Width(block), 250);
      EXPECT_LE(DIB_Height(block), c.most_rows);
      rows += DIB_Height(block);
      blocks.push_back(block);
    }
    EXPECT_EQ(rows, 300);
    EXPECT_EQ(TWAIN_AcquireMemoryBlock(), 0u) << "nothing after the last block";
    EXPECT_EQ(hex(device_checksum(blocks, c.s.pixel_type, c.s.flavor)), sent_checksum());
    EXPECT_EQ(TWAIN_EndAcquireMemory(), 1);
    for (uintptr_t b : blocks) DIB_Free(b);
    EXPECT_EQ(DIB_LiveImageCount(), 0);
    EXPECT_LT(TWAIN_State(), 7);
    TWAIN_UnloadSourceManager();
  }
}

}  // namespace
}  // namespace twain_test
