// Page images of the PDF codec: a DIB turned into the data and parameters of
// an image XObject, and the decoded samples of an image XObject turned back
// into a DIB block.
//
// Encodings: a DIB that already holds a JPEG stream goes in as DCTDecode
// unchanged; BW pages as CCITT Group 4 (libtiff's coder through a memory
// TIFF); gray and colour as JPEG (libjpeg-turbo) when the compression setting
// asks for it, else Flate (zlib). Gray DIBs whose table is not the plain ramp
// and palette DIBs become Indexed images, so they read back exactly; CMY data
// is written as RGB (PDF has no CMY space) and reads back as RGB.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pdf {

// A DIB block as a value: 40-byte header, table or masks, rows bottom-up.
using DibBytes = std::vector<std::uint8_t>;

// Failure with an error number of the module's error handler (ORVPDF_E_*).
struct Failure {
  int code;
  std::string text;
};
[[noreturn]] void fail(int code, std::string text);

enum class ColourSpace { Gray, RGB, CMYK, Indexed };

// An image XObject's data and parameters.
struct ImageStream {
  std::string data;    // encoded as `filter` says
  std::string filter;  // "", "/FlateDecode", "/DCTDecode", "/CCITTFaxDecode"
  int width = 0, height = 0, bpc = 8;
  ColourSpace space = ColourSpace::Gray;
  std::string palette;    // Indexed: RGB triples
  bool invert = false;    // Decode [1 0 ...] (CMYK JPEG from Adobe writers)
  int ccitt_k = 0;        // K of the CCITT parameters (-1 = Group 4)
  bool black_is_1 = false;
  double dpi_x = 0, dpi_y = 0;  // from the DIB, 0 = unknown
};

// Compression codes of the settings (ORVPDF_COMP_*).
constexpr int kCompDefault = -1, kCompNone = 0, kCompFlate = 1, kCompJpeg = 2, kCompG4 = 3;

// Encodes the locked DIB at `bmi` with `compression` for its pixel type and
// the JPEG quality. Throws Failure (BAD_DIB for a malformed block,
// COMPRESSION when the coder fails).
ImageStream image_encode(const void* bmi, int compression_by_type[6], int jpeg_quality);

// Pixel type of the DIB at `bmi` (ORV_PT_*), -1 when it is not one.
int image_pixel_type(const void* bmi);

// Largest decoded image a page may have (bytes of samples).
constexpr std::uint64_t kMaxSampleBytes = 400ull << 20;

// The library's loading limit in pixels (from the host table; pdf_module.cpp).
std::uint64_t image_pixel_limit();
// Throws Failure (ORVPDF_E_MEMORY, naming the size) for an image of
// `width` x `height` pixels over the loading limit.
void image_check_size(std::uint64_t width, std::uint64_t height);

// The DIB for an image XObject's samples. `samples` are decoded (no filter
// left) unless `filter` is "/DCTDecode" or "/CCITTFaxDecode". Throws Failure.
DibBytes image_decode(const ImageStream& image, double dpi_x, double dpi_y);

// Codecs (pdf_codecs.cpp).
std::string flate_compress(std::span<const std::uint8_t> data);
std::string jpeg_encode(const std::uint8_t* rows, int width, int height, int components,
                        int quality, double dpi_x, double dpi_y);
struct JpegInfo {
  int width = 0, height = 0, components = 0;
  bool adobe = false;
};
std::optional<JpegInfo> jpeg_info(std::span<const std::uint8_t> data);
// Decoded samples, top row first, `components` bytes per pixel.
std::vector<std::uint8_t> jpeg_decode(std::span<const std::uint8_t> data, JpegInfo* out_info);
// Group 4 data of 1-bit rows (1 = black, MSB first, `stride` bytes apart).
std::string ccitt_encode(const std::uint8_t* rows, std::size_t stride, int width, int height);
// 1-bit rows (1 = black) of CCITT data, packed ((width + 7) / 8 bytes a row).
std::vector<std::uint8_t> ccitt_decode(std::span<const std::uint8_t> data, int width, int height, int k);

}  // namespace pdf
