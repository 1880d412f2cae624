// Pixel-format conversion: any supported depth and pixel type into any other,
// row by row through the row readers, with a black/white threshold, error
// diffusion or colour quantisation on the way.
#pragma once
#include <cstdint>

#include "dib/dib.h"

namespace dib {

// Flag values of a conversion.
constexpr std::uint32_t kConvertAutoThreshold = 0x2;
constexpr std::uint32_t kConvertDiffuse = 0x10000;
constexpr std::uint32_t kConvertDiffuse2 = 0x40000;
// What a gray target uses without options: diffusion (and the auto bit).
constexpr std::uint32_t kConvertGrayDefaultFlags = 0x10004;

struct ConvertOptions {
  std::uint32_t flags = 0;
  std::uint8_t threshold = 0;  // BW threshold; 0 = 128
  int colour_count = 0;        // palette targets; 0 = the target table's size
};

// The process-wide conversion defaults.
struct ConvertDefaults {
  int threshold = 128;           // BW targets converted without options
  std::uint32_t palette_flags = 0;  // added to kConvertDiffuse for palette targets
  int next_colour_count = 0;     // one shot: the next palette conversion
};
ConvertDefaults& convert_defaults();
void convert_defaults_reset();

// A new image of `pixel_type` and `depth` (normalised as the allocator does)
// with the pixels of `src`. `options` null means the defaults above. The
// one-shot colour count is used up in every case. Throws Error(ERR_MEMORY)
// when the target cannot be made and Error(ERR_FAILURE) when the source
// cannot be converted.
Dib convert_format(const DibView& src, int pixel_type, int depth, const ConvertOptions* options);

}  // namespace dib
