// Test harness for the codec modules: loads a module straight from the build
// folder (the program's folder is the parent of the unit tests' own), hands
// it the library's host table, and offers test images, comparisons, temporary
// paths and a runner for the independent checking tools.
#pragma once
#include "../../tool_support.h"
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codecs/codec_abi.h"
#include "fileio/codec_modules.h"
#include "orivane/dib_api.h"
#include "platform/memblock.h"

namespace codec_test {

// The folder that holds the program and the modules.
inline std::string build_dir() {
  char exe[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string path(exe, n > 0 ? std::size_t(n) : 0);
  for (int up = 0; up < 2 && !path.empty(); ++up) path = path.substr(0, path.rfind('/'));
  return path;
}

// One module, loaded once per test process and given the host table.
class Module {
 public:
  Module(const char* file, const char* prefix) : prefix_(prefix) {
    const std::string path = build_dir() + "/" + file;
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      error_ = ::dlerror();
      return;
    }
    auto set_host = fn<OrvSetHostFn>("SetHost");
    if (!set_host || set_host(fileio::codec_host()) != 0) error_ = "SetHost refused";
  }
  bool ok() const { return handle_ && error_.empty(); }
  const std::string& error() const { return error_; }
  template <class Fn>
  Fn fn(const char* name) const {
    return reinterpret_cast<Fn>(::dlsym(handle_, (prefix_ + "_" + name).c_str()));
  }

 private:
  std::string prefix_;
  void* handle_ = nullptr;
  std::string error_;
};

// A locked view of a DIB for the writers' `bmi` argument.
class Bmi {
 public:
  explicit Bmi(DIB_HANDLE h) : h_(h), p_(platform::mem_lock(h)) {}
  ~Bmi() { if (p_) platform::mem_unlock(h_); }
  Bmi(const Bmi&) = delete;
  Bmi& operator=(const Bmi&) = delete;
  const void* get() const { return p_; }
  std::uint8_t* bytes() const { return static_cast<std::uint8_t*>(p_); }

 private:
  DIB_HANDLE h_;
  void* p_;
};

// Frees a DIB at the end of a scope.
struct DibGuard {
  DIB_HANDLE h = 0;
  explicit DibGuard(DIB_HANDLE x) : h(x) {}
  ~DibGuard() { DIB_Free(h); }
  DibGuard(const DibGuard&) = delete;
  DibGuard& operator=(const DibGuard&) = delete;
};

// A test image with every used bit of every row set from a fixed
// pseudo-random sequence (`seed`), at 300 dpi.
inline DIB_HANDLE make_image(int pixel_type, int width, int height, int depth,
                             std::uint32_t seed = 1) {
  const DIB_HANDLE h = DIB_Create(pixel_type, width, height, depth);
  if (!h) return 0;
  std::vector<std::uint8_t> row(std::size_t(DIB_RowBytes(h)));
  std::uint32_t state = seed * 2654435761u + 1;
  for (int y = 0; y < height; ++y) {
    for (auto& b : row) {
      state = state * 1103515245u + 12345u;
      b = std::uint8_t(state >> 16);
    }
    DIB_WritePackedRow(h, y, row.data());
  }
  DIB_SetResolution(h, 300, 300);
  return h;
}

// The image's rows (used bytes only), top first.
inline std::vector<std::uint8_t> image_rows(DIB_HANDLE h) {
  const int used = (DIB_Depth(h) * DIB_Width(h) + 7) / 8;
  std::vector<std::uint8_t> all(std::size_t(used) * std::size_t(DIB_Height(h)));
  for (int y = 0; y < DIB_Height(h); ++y) DIB_ReadPackedRow(h, y, all.data() + std::size_t(y) * used);
  return all;
}

// Colour table as (r, g, b) triples.
inline std::vector<int> image_table(DIB_HANDLE h) {
  std::vector<int> t;
  for (int i = 0; i < DIB_ColorCount(h); ++i)
    t.insert(t.end(), {DIB_ColorTableR(h, i), DIB_ColorTableG(h, i), DIB_ColorTableB(h, i)});
  return t;
}

// Largest difference between two images' samples, read as 24-bit RGB rows
// (0 = identical). -1 when the shapes differ.
inline int image_max_error(DIB_HANDLE a, DIB_HANDLE b) {
  if (DIB_Width(a) != DIB_Width(b) || DIB_Height(a) != DIB_Height(b)) return -1;
  int worst = 0;
  const std::size_t used = std::size_t(DIB_Width(a)) * 3;
  std::vector<std::uint8_t> ra(used + 4), rb(used + 4);
  for (int y = 0; y < DIB_Height(a); ++y) {
    DIB_ReadRowRGB(a, y, ra.data());
    DIB_ReadRowRGB(b, y, rb.data());
    for (std::size_t i = 0; i < used; ++i) worst = std::max(worst, std::abs(ra[i] - rb[i]));
  }
  return worst;
}

// A fresh path in a folder of this test process.
inline std::string temp_path(const std::string& name) {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/codec_test_XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    return std::string(d ? d : "/tmp");
  }();
  return dir + "/" + name;
}

inline std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
inline void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

using test_tools::have_tool;
// Standard output of a shell command (standard error dropped).
inline std::string run(const std::string& command) {
  return test_tools::command_output(command + " 2>/dev/null");
}

}  // namespace codec_test
