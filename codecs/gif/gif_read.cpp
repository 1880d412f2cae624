// GIF reading: records are walked up to the first image (no frame after it is
// read), which is checked against its screen and decoded line by line onto a
// DIB of the screen's size filled with the background colour.
#include "codecs/gif/gif_codec.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/common/file_io.h"
#include "orivane/twain_error.h"

namespace orvgif {
namespace {

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at;
};

int read_in(GifFileType* gif, GifByteType* out, int length) {
  auto* in = static_cast<Input*>(gif->UserData);
  const std::size_t n = std::min(std::size_t(length), in->size - in->at);
  std::copy_n(in->data + in->at, n, out);
  in->at += n;
  return int(n);
}

struct GifCloser {
  GifFileType* gif;
  ~GifCloser() {
    int error = 0;
    if (gif) DGifCloseFile(gif, &error);
  }
};

Status gif_fail(GifFileType* gif, const char* what) {
  return {ERR_FILE_READ, std::string(what) + ": " + (GifErrorString(gif->Error) ? GifErrorString(gif->Error) : "?")};
}

// Moves to the first image descriptor, skipping extensions.
Status seek_first_image(GifFileType* gif) {
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return gif_fail(gif, "GIF record");
    if (type == IMAGE_DESC_RECORD_TYPE) return {};
    if (type == TERMINATE_RECORD_TYPE) return {ERR_FILE_READ, "GIF holds no image"};
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return gif_fail(gif, "GIF extension");
      while (ext)
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return gif_fail(gif, "GIF extension");
    }
  }
}

void store_pixel(std::uint8_t* row, int depth, int x, std::uint8_t v) {
  switch (depth) {
    case 1: row[x / 8] = std::uint8_t((row[x / 8] & ~(0x80 >> (x % 8))) | (v << (7 - x % 8))); break;
    case 4: row[x / 2] = x % 2 ? std::uint8_t((row[x / 2] & 0xF0) | v) : std::uint8_t((row[x / 2] & 0x0F) | (v << 4)); break;
    default: row[x] = v;
  }
}

Status decode(GifFileType* gif, codec::NewDib* out) {
  if (Status s = seek_first_image(gif); !s) return s;
  if (DGifGetImageDesc(gif) == GIF_ERROR) return gif_fail(gif, "GIF image");
  const GifImageDesc& f = gif->Image;
  const long sw = gif->SWidth, sh = gif->SHeight;
  if (f.Width <= 0 || f.Height <= 0 || sw <= 0 || sh <= 0)
    return {ERR_FILE_READ, "GIF image of zero size"};
  if (f.Left < 0 || f.Top < 0 || f.Left + long(f.Width) > sw || f.Top + long(f.Height) > sh)
    return {ERR_FILE_READ, "GIF image outside its screen"};
  // One 12-bit LZW code stands for at most 4096 pixels: a frame larger than
  // its remaining data can describe is cut short, refused before any memory.
  const Input* in = static_cast<const Input*>(gif->UserData);
  if (std::uint64_t(f.Width) * std::uint64_t(f.Height) >
      (std::uint64_t(in->size - in->at) * 8 / 12 + 1) * 4096)
    return {ERR_FILE_READ, "GIF image data missing"};
  const ColorMapObject* map = f.ColorMap ? f.ColorMap : gif->SColorMap;
  const int colours = map ? map->ColorCount : 256;
  const int depth = colours <= 2 ? 1 : colours <= 16 ? 4 : 8;
  bool too_large = false;
  if (!out->make(depth == 1 ? ORV_PT_BW : ORV_PT_PALETTE, std::uint32_t(sw), std::uint32_t(sh),
                 depth, &too_large))
    return {too_large ? ERR_FILE_READ : ERR_MEMORY, too_large ? "GIF screen too large" : "out of memory"};
  codec::DibLayout& d = out->layout();
  for (int i = 0; i < (1 << depth); ++i) {
    if (map && i < colours)
      out->set_entry(std::uint32_t(i), map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
    else if (!map)
      out->set_entry(std::uint32_t(i), std::uint8_t(i), std::uint8_t(i), std::uint8_t(i));
    else
      out->set_entry(std::uint32_t(i), 0, 0, 0);
  }
  const auto clamp = [&](int v) { return std::uint8_t(v < colours && v < (1 << depth) ? v : 0); };
  const std::uint8_t background = clamp(gif->SBackGroundColor);
  const std::uint8_t fill = depth == 8 ? background : depth == 4 ? std::uint8_t(background * 0x11)
                                                                 : std::uint8_t(background ? 0xFF : 0);
  if (fill != 0)
    for (int y = 0; y < d.rows; ++y) std::memset(d.row(y), fill, d.stride);
  std::vector<GifPixelType> line(std::size_t(f.Width));
  static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
  const int passes = f.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int start = f.Interlace ? kStart[pass] : 0, step = f.Interlace ? kStep[pass] : 1;
    for (int y = start; y < f.Height; y += step) {
      if (DGifGetLine(gif, line.data(), f.Width) == GIF_ERROR) return gif_fail(gif, "GIF data");
      std::uint8_t* row = d.row(f.Top + y);
      for (int x = 0; x < f.Width; ++x) store_pixel(row, depth, f.Left + x, clamp(line[std::size_t(x)]));
    }
  }
  return {};
}

}  // namespace

Status gif_read_file(const char* path, codec::NewDib* out) {
  std::vector<std::uint8_t> bytes;
  if (const int code = codec::file_read_all(path, &bytes)) return {code, "cannot read file"};
  Input in{bytes.data(), bytes.size(), 0};
  int error = 0;
  GifCloser closer{DGifOpen(&in, read_in, &error)};
  if (!closer.gif) return {ERR_FILE_READ, GifErrorString(error) ? GifErrorString(error) : "not a GIF file"};
  Status s = decode(closer.gif, out);
  if (!s) out->discard();
  return s;
}

}  // namespace orvgif
