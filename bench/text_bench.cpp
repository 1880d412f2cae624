// One stamp line at 12 pt on a 300-dpi letter page (2550 x 3300), RGB and
// black and white: the library's stamp (dib::stamp_page: settings, layout,
// the mask at twice the size on RGB, the scale-down and the blend) against
// Magick++'s annotate of the same text in the same font file and size, in
// process, on a page kept between iterations (the text is drawn over itself;
// the cost does not change).
//
//   Stamp_Orivane/rgb, /bw     dib::stamp_page, bottom left, a third of an inch in
//   Stamp_Magick/rgb, /bw      Image::annotate with the same font file, 50 px
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "dib/fonts.h"
#include "dib/text_stamp.h"
#include "orivane/dib_api.h"
#include "orivane/twain_session.h"

#ifdef ORV_BENCH_MAGICK
#include <Magick++.h>
#endif

namespace {

constexpr int kWidth = 2550, kHeight = 3300, kDpi = 300;
constexpr const char* kLine = "/scans/inbox/scan0001.tif[1] (clerk) Thu Jan  1 12:00:00 2026";

DIB_HANDLE white_page(int type) {
  ORIVANE_Attach();
  const DIB_HANDLE d = DIB_Create(type, kWidth, kHeight, 0);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(DIB_RowBytes(d)), 0xFF);
  for (int y = 0; y < kHeight; ++y) DIB_WriteRow(d, y, row.data(), static_cast<int32_t>(row.size()));
  DIB_SetResolution(d, kDpi, kDpi);
  return d;
}

void BM_Stamp_Orivane(benchmark::State& s) {
  const DIB_HANDLE page = white_page(static_cast<int>(s.range(0)));
  dib::StampStyle style;
  style.height_inches = 12.0 / 72;
  dib::stamp_page(page, kLine, style);  // fontconfig's first load is not a page's cost
  for (auto _ : s) benchmark::DoNotOptimize(dib::stamp_page(page, kLine, style));
  DIB_Free(page);
}
BENCHMARK(BM_Stamp_Orivane)->Arg(DIB_PT_RGB)->Arg(DIB_PT_BW)->Unit(benchmark::kMillisecond);

#ifdef ORV_BENCH_MAGICK
void BM_Stamp_Magick(benchmark::State& s) {
  Magick::InitializeMagick(nullptr);
  const bool bw = s.range(0) == DIB_PT_BW;
  Magick::Image page(Magick::Geometry(kWidth, kHeight), Magick::Color("white"));
  page.type(bw ? Magick::BilevelType : Magick::TrueColorType);
  page.density(Magick::Geometry(kDpi, kDpi));
  page.font(dib::font_choose("Arial", false, false)->file);
  page.fontPointsize(12);  // at the page's 300 dpi: 50 pixels, as ours
  page.antiAlias(!bw);
  page.fillColor("black");
  const Magick::Geometry where(kWidth - 198, 0, 99, 99);
  page.annotate(kLine, where, Magick::SouthWestGravity);
  for (auto _ : s) page.annotate(kLine, where, Magick::SouthWestGravity);
}
BENCHMARK(BM_Stamp_Magick)->Arg(DIB_PT_RGB)->Arg(DIB_PT_BW)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
