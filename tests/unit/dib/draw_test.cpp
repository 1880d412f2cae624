// Drawing into a device context: the pixels that arrive, their order and
// colour, what shrinking averages, and what is clipped or refused.
#include <gtest/gtest.h>

#include "dib_test_support.h"
#include "platform/device_context.h"

namespace {

using namespace dib_test;

// A device context over memory: a gray background, RGB pixels.
class MemoryContext final : public platform::DeviceContext {
 public:
  MemoryContext(int w, int h, platform::DrawRect clip)
      : w_(w), h_(h), clip_(clip), rgb_(static_cast<std::size_t>(w) * h * 3, 192) {
    handle_ = platform::dc_register(this);
  }
  ~MemoryContext() override { platform::dc_unregister(handle_); }
  platform::DcHandle handle() const { return handle_; }
  platform::DrawRect clip_box() const override { return clip_; }
  void draw_pixels(int x, int y, int w, int h, const std::uint8_t* p, int channels,
                   int stride) override {
    ++calls;
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i)
        for (int c = 0; c < 3; ++c) {
          ASSERT_TRUE(x + i >= 0 && x + i < w_ && y + j >= 0 && y + j < h_);
          rgb_[(static_cast<std::size_t>(y + j) * w_ + x + i) * 3 + c] =
              p[j * stride + i * channels + (channels == 3 ? c : 0)];
        }
  }
  // Red, green and blue at (x, y).
  std::array<int, 3> at(int x, int y) const {
    const std::size_t o = (static_cast<std::size_t>(y) * w_ + x) * 3;
    return {rgb_[o], rgb_[o + 1], rgb_[o + 2]};
  }
  int calls = 0;

 private:
  int w_, h_;
  platform::DrawRect clip_;
  std::vector<std::uint8_t> rgb_;
  platform::DcHandle handle_;
};

// A 24-bit image whose pixel (x, y) is red x, green y, blue 7.
DIB_HANDLE ramp_rgb(int w, int h) {
  const DIB_HANDLE img = DIB_Create(DIB_PT_RGB, w, h, 24);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      row[3 * x] = 7;  // stored blue first
      row[3 * x + 1] = static_cast<std::uint8_t>(y);
      row[3 * x + 2] = static_cast<std::uint8_t>(x);
    }
    DIB_WritePackedRow(img, y, row.data());
  }
  return img;
}

class DrawTest : public DibTest {};

TEST_F(DrawTest, OneToOneKeepsColoursAndPlace) {
  Owned img(ramp_rgb(20, 10));
  MemoryContext dc(40, 40, {0, 0, 40, 40});
  DIB_DrawToDC(img.get(), dc.handle(), 5, 3, 20, 10, 0, 0);
  EXPECT_EQ(dc.at(5, 3), (std::array<int, 3>{0, 0, 7}));
  EXPECT_EQ(dc.at(24, 12), (std::array<int, 3>{19, 9, 7}));
  EXPECT_EQ(dc.at(25, 12), (std::array<int, 3>{192, 192, 192}));
  // A source origin: the rest of the image from there is stretched over the
  // rectangle.
  MemoryContext shifted(40, 40, {0, 0, 40, 40});
  DIB_DrawToDC(img.get(), shifted.handle(), 0, 0, 20, 10, 2, 2);
  EXPECT_EQ(shifted.at(0, 0), (std::array<int, 3>{2, 2, 7}));
  EXPECT_EQ(shifted.at(19, 9), (std::array<int, 3>{19, 9, 7}));
}

TEST_F(DrawTest, ShrinkingAveragesAndOnlyTheVisiblePartIsScaled) {
  // A fine checkerboard shrunk by 2 is mid-gray, not black or white.
  Owned board(DIB_Allocate(8, 64, 64));
  std::vector<std::uint8_t> row(64);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) row[x] = ((x + y) % 2) ? 255 : 0;
    DIB_WritePackedRow(board.get(), y, row.data());
  }
  MemoryContext small(32, 32, {0, 0, 32, 32});
  DIB_DrawToDC(board.get(), small.handle(), 0, 0, 32, 32, 0, 0);
  EXPECT_NEAR(small.at(10, 10)[0], 128, 1);

  // A page much larger than the view: the part cut out and scaled alone gives
  // the same pixels as scaling the whole page.
  Owned page(ramp_rgb(240, 240));
  Owned whole(DIB_ScaledCopy(page.get(), 120, 120));
  MemoryContext view(120, 120, {60, 60, 30, 30});
  DIB_DrawToDC(page.get(), view.handle(), 0, 0, 120, 120, 0, 0);
  MemoryContext reference(120, 120, {0, 0, 120, 120});
  DIB_DrawToDC(whole.get(), reference.handle(), 0, 0, 120, 120, 0, 0);
  for (int p : {60, 70, 89}) {
    SCOPED_TRACE(p);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(view.at(p, p)[c], reference.at(p, p)[c], 1);
  }
  EXPECT_EQ(view.at(59, 59), (std::array<int, 3>{192, 192, 192}));
}

TEST_F(DrawTest, DeepAndIndexedImagesArriveAsScreenPixels) {
  for (const DepthCase& d : all_depths()) {
    SCOPED_TRACE(label(d.depth, 9, 7));
    Owned img(make_image(d.depth, 9, 7));
    Owned expected(DIB_ConvertToFormat(img.get(), DIB_PT_RGB, 24, nullptr));
    ASSERT_TRUE(expected);
    MemoryContext dc(9, 7, {0, 0, 9, 7});
    DIB_DrawToDC(img.get(), dc.handle(), 0, 0, 9, 7, 0, 0);
    std::vector<std::uint8_t> bgr(27);
    DIB_ReadPackedRow(expected.get(), 3, bgr.data());
    for (int x = 0; x < 9; ++x)
      EXPECT_NEAR(dc.at(x, 3)[0], bgr[3 * x + 2], d.depth >= 16 ? 1 : 0) << x;
  }
}

TEST_F(DrawTest, NothingIsDrawnWhereNothingCanBe) {
  Owned img(ramp_rgb(8, 8));
  MemoryContext dc(16, 16, {0, 0, 16, 16});
  struct Case {
    DIB_HANDLE dib;
    platform::DcHandle handle;
    int x, y, w, h;
  };
  for (const Case& c : std::vector<Case>{{0, dc.handle(), 0, 0, 8, 8},
                                         {img.get(), 12345, 0, 0, 8, 8},
                                         {img.get(), dc.handle(), 0, 0, 0, 8},
                                         {img.get(), dc.handle(), 0, 0, 8, -3},
                                         {img.get(), dc.handle(), 20, 20, 8, 8},
                                         {img.get(), dc.handle(), -30, 0, 8, 8}}) {
    DIB_DrawToDC(c.dib, c.handle, c.x, c.y, c.w, c.h, 0, 0);
  }
  EXPECT_EQ(dc.calls, 0);
  // Enlarging repeats pixels.
  DIB_DrawToDC(img.get(), dc.handle(), 0, 0, 16, 16, 0, 0);
  EXPECT_EQ(dc.at(15, 15), (std::array<int, 3>{7, 7, 7}));
  EXPECT_EQ(dc.at(1, 1), (std::array<int, 3>{0, 0, 7}));
}

}  // namespace
