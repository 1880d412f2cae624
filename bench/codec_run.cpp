// codec_run: one whole run of the library's image-file path, timed from the
// outside by bench/codec_bench.sh next to the command-line tool of the same
// codec library doing the same job.
//
//   codec_run jpeg QUALITY OUT_PREFIX IN...   each IN (any format the library
//                                             reads) to OUT_PREFIX<n>.jpg
//   codec_run tiff OUT_PREFIX IN...           each IN to OUT_PREFIX<n>.tif
//                                             (black and white: Group 4)
//   codec_run pdf OUT IN.jpg...               every JPEG file as one page of
//                                             OUT, its stream not re-encoded
//
// Exit status 0 when every file was written; otherwise 1 with the reason on
// standard error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"
#include "orivane/twain_session.h"
#include "platform/memblock.h"

namespace {

constexpr std::uint32_t kJpegStream = 0x0600;  // compression: a JPEG stream, not rows

bool fail(const std::string& what) {
  char text[512] = "";
  TWAIN_GetLastErrorText(text);
  std::fprintf(stderr, "codec_run: %s: %s\n", what.c_str(), text);
  return false;
}

void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Width, height and components from the first SOF marker of a JPEG stream.
bool jpeg_frame(const std::string& s, int* width, int* height, int* components) {
  std::size_t at = 2;
  while (at + 4 <= s.size()) {
    if (static_cast<std::uint8_t>(s[at]) != 0xFF) return false;
    const int marker = static_cast<std::uint8_t>(s[at + 1]);
    const std::size_t length = (static_cast<std::uint8_t>(s[at + 2]) << 8) | static_cast<std::uint8_t>(s[at + 3]);
    const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (sof && at + 10 <= s.size()) {
      const auto b = [&](std::size_t i) { return static_cast<int>(static_cast<std::uint8_t>(s[at + i])); };
      *height = (b(5) << 8) | b(6);
      *width = (b(7) << 8) | b(8);
      *components = b(9);
      return *width > 0 && *height > 0;
    }
    at += 2 + length;
  }
  return false;
}

// A DIB that holds a JPEG file's stream as it is, the way a scanner's
// compressed transfer delivers it: header, gray table for one component,
// then the stream.
DIB_HANDLE jpeg_stream_dib(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int width = 0, height = 0, components = 0;
  if (s.size() < 4 || !jpeg_frame(s, &width, &height, &components)) return 0;
  const std::size_t table = components == 1 ? 256 * 4 : 0;
  const DIB_HANDLE h = platform::mem_alloc(40 + table + s.size(), true);
  auto* p = static_cast<std::uint8_t*>(platform::mem_lock(h));
  if (!p) return 0;
  put32(p, 40);
  put32(p + 4, static_cast<std::uint32_t>(width));
  put32(p + 8, static_cast<std::uint32_t>(height));
  p[12] = 1;
  p[14] = static_cast<std::uint8_t>(components == 1 ? 8 : components == 4 ? 32 : 24);
  put32(p + 16, kJpegStream);
  put32(p + 20, static_cast<std::uint32_t>(s.size()));
  put32(p + 24, 11811);  // 300 dpi
  put32(p + 28, 11811);
  for (std::size_t i = 0; i < table / 4; ++i) p[40 + 4 * i] = p[41 + 4 * i] = p[42 + 4 * i] = static_cast<std::uint8_t>(i);
  std::memcpy(p + 40 + table, s.data(), s.size());
  platform::mem_unlock(h);
  return h;
}

bool each_file(const char* prefix, const char* ext, char** in, int n) {
  for (int i = 0; i < n; ++i) {
    const DIB_HANDLE page = DIB_LoadFromFilename(in[i]);
    if (!page) return fail(std::string("cannot read ") + in[i]);
    const std::string out = prefix + std::to_string(i) + ext;
    const int rc = DIB_WriteToFilename(page, out.c_str());
    DIB_Free(page);
    if (rc != 0) return fail("cannot write " + out);
  }
  return true;
}

bool pdf_of_jpegs(const char* out, char** in, int n) {
  TWAIN_SetMultipageFormat(MPF_PDF);
  if (TWAIN_BeginMultipageFile(out) != 0) return fail(std::string("cannot begin ") + out);
  for (int i = 0; i < n; ++i) {
    const DIB_HANDLE page = jpeg_stream_dib(in[i]);
    if (!page) return fail(std::string("not a JPEG file: ") + in[i]);
    if (TWAIN_WritePageAndFree(page) != 0) return fail(std::string("cannot write page ") + in[i]);
  }
  return TWAIN_EndMultipageFile() == 0 || fail(std::string("cannot end ") + out);
}

}  // namespace

int main(int argc, char** argv) {
  ORIVANE_Attach();
  TWAIN_SetNoMessageBoxes(1);
  TWAIN_SuppressErrorMessages(1);
  const std::string mode = argc > 1 ? argv[1] : "";
  bool ok = false;
  if (mode == "jpeg" && argc >= 5) {
    TWAIN_SetJpegQuality(std::atoi(argv[2]));
    ok = each_file(argv[3], ".jpg", argv + 4, argc - 4);
  } else if (mode == "tiff" && argc >= 4) {
    ok = each_file(argv[2], ".tif", argv + 3, argc - 3);
  } else if (mode == "pdf" && argc >= 4) {
    ok = pdf_of_jpegs(argv[2], argv + 3, argc - 3);
  } else {
    std::fprintf(stderr, "usage: codec_run jpeg QUALITY OUT_PREFIX IN... | tiff OUT_PREFIX IN... | pdf OUT IN.jpg...\n");
  }
  ORIVANE_Detach();
  return ok ? 0 : 1;
}
