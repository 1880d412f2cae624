// GIF writing: one image covering the whole screen, the DIB's table as the
// global colour map (padded to a power of two), one byte per pixel to giflib.
#include "codecs/gif/gif_codec.h"

#include <gif_lib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "orivane/errors.h"

namespace orvgif {
namespace {

int write_out(GifFileType* gif, const GifByteType* bytes, int length) {
  auto* file = static_cast<std::FILE*>(gif->UserData);
  return int(std::fwrite(bytes, 1, std::size_t(length), file));
}

// Pixel x of a packed 1-, 4- or 8-bit row.
std::uint8_t pixel_at(const std::uint8_t* row, int depth, int x) {
  switch (depth) {
    case 1: return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4: return x % 2 ? row[x / 2] & 0x0F : row[x / 2] >> 4;
    default: return row[x];
  }
}

Status encode(const codec::DibLayout& d, std::FILE* file) {
  int error = 0;
  GifFileType* gif = EGifOpen(file, write_out, &error);
  if (!gif) return {ERR_FILE_WRITE, GifErrorString(error)};
  const int map_size = 1 << d.depth;
  ColorMapObject* map = GifMakeMapObject(map_size, nullptr);
  if (!map) {
    EGifCloseFile(gif, &error);
    return {ERR_MEMORY, "out of memory"};
  }
  for (int i = 0; i < map_size; ++i) {
    const bool in_table = std::uint32_t(i) < d.entries;
    map->Colors[i] = {GifByteType(in_table ? d.red(std::uint32_t(i)) : 0),
                      GifByteType(in_table ? d.green(std::uint32_t(i)) : 0),
                      GifByteType(in_table ? d.blue(std::uint32_t(i)) : 0)};
  }
  EGifSetGifVersion(gif, true);
  bool ok = EGifPutScreenDesc(gif, d.width, d.rows, 8, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, d.width, d.rows, false, nullptr) == GIF_OK;
  std::vector<GifPixelType> line(std::size_t(d.width));
  for (int y = 0; ok && y < d.rows; ++y) {
    const std::uint8_t* row = d.row(y);
    for (int x = 0; x < d.width; ++x) line[std::size_t(x)] = pixel_at(row, d.depth, x);
    ok = EGifPutLine(gif, line.data(), d.width) == GIF_OK;
  }
  const int write_error = gif->Error;
  GifFreeMapObject(map);
  // Writes the trailer; giflib does not close a stream it did not open.
  ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
  if (!ok) return {ERR_FILE_WRITE, GifErrorString(write_error ? write_error : error)};
  return {};
}

}  // namespace

Status gif_write_file(const codec::DibLayout& d, const char* path) {
  if ((d.depth != 1 && d.depth != 4 && d.depth != 8) || d.has_masks || d.compression_code() != 0)
    return {ERR_WRONG_IMAGE_TYPE, "GIF takes 1-, 4- and 8-bit images only"};
  if (d.width == 0 || d.rows == 0 || d.width > 0xFFFF || d.rows > 0xFFFF)
    return {ERR_BAD_DIB, "image size not possible in GIF"};
  std::FILE* file = std::fopen(path, "wb");
  if (!file) return {errno == EACCES ? ERR_FILE_ACCESS : ERR_FILE_WRITE, "cannot create file"};
  Status s = encode(d, file);
  bool ok = std::ferror(file) == 0 && s.code == 0;
  ok = std::fflush(file) == 0 && ok;
  ok = fsync(fileno(file)) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) {
    struct stat st {};
    if (::stat(path, &st) == 0 && S_ISREG(st.st_mode)) std::remove(path);
    if (s.code == 0) s = {ERR_FILE_WRITE, "write failed"};
  }
  return s;
}

}  // namespace orvgif
