// GIF reading: records are walked up to the first image (no frame after it is
// read), which is checked against the loading limit and the data left in the
// file, and decoded line by line into a DIB of the frame's size, cut to the
// logical screen.
#include "codecs/gif/gif_codec.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/common/file_io.h"
#include "orivane/errors.h"

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

// The part of the frame that lies on its screen, in frame coordinates.
struct Visible {
  long x0, y0, x1, y1;
  long width() const { return x1 - x0; }
  long height() const { return y1 - y0; }
};

Visible visible_part(const GifImageDesc& f, long screen_w, long screen_h) {
  return {std::max(0L, -long(f.Left)), std::max(0L, -long(f.Top)),
          std::min(long(f.Width), screen_w - f.Left), std::min(long(f.Height), screen_h - f.Top)};
}

// Header checks made before any pixel memory is taken: sizes, the loading
// limit, and whether the LZW data left in the file can fill the frame (a
// 12-bit code stands for at most 4096 pixels).
Status check_frame(GifFileType* gif, const Visible& v) {
  const GifImageDesc& f = gif->Image;
  if (f.Width <= 0 || f.Height <= 0 || gif->SWidth <= 0 || gif->SHeight <= 0)
    return {ERR_FILE_READ, "GIF image of zero size"};
  if (v.width() <= 0 || v.height() <= 0) return {ERR_FILE_READ, "GIF image outside its screen"};
  if (!codec::image_size_allowed(std::uint64_t(v.width()), std::uint64_t(v.height())))
    return {ERR_FILE_READ, codec::image_size_refusal(std::uint64_t(v.width()), std::uint64_t(v.height()))};
  const Input* in = static_cast<const Input*>(gif->UserData);
  const std::uint64_t left = in->size - in->at;
  if (std::uint64_t(f.Width) * std::uint64_t(f.Height) > codec::lzw_max_bytes(left))
    return {ERR_FILE_READ, codec::image_data_refusal(std::uint64_t(f.Width), std::uint64_t(f.Height), left, "LZW")};
  return {};
}

// The image is the first frame, cut to its screen; the rest of the screen
// (background only) is not part of it, so a small file naming a huge screen
// costs nothing.
Status decode(GifFileType* gif, codec::NewDib* out) {
  if (Status s = seek_first_image(gif); !s) return s;
  if (DGifGetImageDesc(gif) == GIF_ERROR) return gif_fail(gif, "GIF image");
  const GifImageDesc& f = gif->Image;
  const Visible v = visible_part(f, gif->SWidth, gif->SHeight);
  if (Status s = check_frame(gif, v); !s) return s;
  const ColorMapObject* map = f.ColorMap ? f.ColorMap : gif->SColorMap;
  const int colours = map ? map->ColorCount : 256;
  const int depth = colours <= 2 ? 1 : colours <= 16 ? 4 : 8;
  bool too_large = false;
  if (!out->make(depth == 1 ? ORV_PT_BW : ORV_PT_PALETTE, std::uint32_t(v.width()),
                 std::uint32_t(v.height()), depth, &too_large))
    return {too_large ? ERR_FILE_READ : ERR_MEMORY, too_large ? "GIF image too large" : "out of memory"};
  codec::DibLayout& d = out->layout();
  for (int i = 0; i < (1 << depth); ++i) {
    if (map && i < colours)
      out->set_entry(std::uint32_t(i), map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
    else if (!map)
      out->set_entry(std::uint32_t(i), std::uint8_t(i), std::uint8_t(i), std::uint8_t(i));
    else
      out->set_entry(std::uint32_t(i), 0, 0, 0);
  }
  const auto clamp = [&](int value) { return std::uint8_t(value < colours && value < (1 << depth) ? value : 0); };
  std::vector<GifPixelType> line(std::size_t(f.Width));
  static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
  const int passes = f.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int start = f.Interlace ? kStart[pass] : 0, step = f.Interlace ? kStep[pass] : 1;
    for (int y = start; y < f.Height; y += step) {
      // Every line is decoded, also those off the screen: the LZW data runs on.
      if (DGifGetLine(gif, line.data(), f.Width) == GIF_ERROR) return gif_fail(gif, "GIF data");
      if (y < v.y0 || y >= v.y1) continue;
      std::uint8_t* row = d.row(int(y - v.y0));
      for (long x = v.x0; x < v.x1; ++x) store_pixel(row, depth, int(x - v.x0), clamp(line[std::size_t(x)]));
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
