// Shared set-up of the DCX and PDF codec tests: the built module loaded from
// the program folder (one level above the unit test binary), the host table
// made of the library's own functions, owned images and small file helpers.
// Its own namespace: the other codec tests' harness (module_harness.h) has
// classes and helpers of the same names, and the two must not be merged into
// one program's inline definitions.
#pragma once
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../dib/dib_test_support.h"
#include "codecs/codec_abi.h"
#include "core/error_record.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "platform/memblock.h"

namespace pdf_dcx_test {

using dib_test::Owned;

inline std::string& host_log() {
  static std::string text;
  return text;
}

// The services the library hands every module.
inline const OrvHost* library_host() {
  static const OrvHost host = [] {
    OrvHost h{};
    h.abi_version = ORV_CODEC_ABI_VERSION;
    h.size = sizeof(OrvHost);
    h.dib_alloc = [](int32_t type, int32_t w, int32_t ht, int32_t depth) -> OrvHandle {
      return DIB_Create(type, w, ht, depth);
    };
    h.dib_free = [](OrvHandle d) { DibFree(d); };
    h.mem_alloc = [](size_t n) -> OrvHandle { return platform::mem_alloc(n); };
    h.mem_realloc = [](OrvHandle m, size_t n) -> OrvHandle { return platform::mem_realloc(m, n); };
    h.mem_lock = [](OrvHandle m) { return platform::mem_lock(m); };
    h.mem_unlock = [](OrvHandle m) -> int32_t { return platform::mem_unlock(m) ? 1 : 0; };
    h.mem_size = [](OrvHandle m) { return platform::mem_size(m); };
    h.mem_free = [](OrvHandle m) { platform::mem_free(m); };
    h.record_error = [](int32_t code, const char* detail) { RecordError(code, detail); };
    h.log = [](const char* text) { host_log() += std::string(text) + "\n"; };
    h.trace_level = []() -> int32_t { return 1; };
    h.max_image_pixels = []() -> int64_t { return DIB_GetMaxImagePixels(); };
    return h;
  }();
  return &host;
}

// A codec module opened for the test (kept loaded for the process).
class Module {
 public:
  explicit Module(const std::string& file, const char* prefix) : prefix_(prefix) {
    const std::string path = build_folder() + "/" + file;
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      error_ = dlerror();
      return;
    }
    auto set_host = sym<OrvSetHostFn>("SetHost");
    if (!set_host || set_host(library_host()) != 0) error_ = "SetHost refused";
  }
  bool ok() const { return handle_ && error_.empty(); }
  const std::string& error() const { return error_; }
  template <class Fn>
  Fn sym(const char* name) const {
    return handle_ ? reinterpret_cast<Fn>(dlsym(handle_, (prefix_ + "_" + name).c_str())) : nullptr;
  }

 private:
  void* handle_ = nullptr;
  std::string prefix_;
  std::string error_;
};

// A scratch folder removed at the end of the test.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/orvcodec-XXXXXX";
    path_ = mkdtemp(tmpl) ? tmpl : "/tmp";
  }
  ~TempDir() {
    if (path_ != "/tmp") std::system(("rm -rf '" + path_ + "'").c_str());
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string read_file(const std::string& path) { return dib_test::read_file(path); }
inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Standard output of a shell command, and its exit status.
inline std::string run(const std::string& command, int* out_status = nullptr) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = pclose(p);
  if (out_status) *out_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

// The locked block of an image for a writer call.
class LockedDib {
 public:
  explicit LockedDib(DIB_HANDLE h) : h_(h), p_(platform::mem_lock(h)) {}
  ~LockedDib() {
    if (p_) platform::mem_unlock(h_);
  }
  const void* get() const { return p_; }

 private:
  DIB_HANDLE h_;
  void* p_;
};

// Whether two images hold the same pixels, row by row in their own layout
// (used bytes; bits beyond the width ignored), and the same colour table.
inline ::testing::AssertionResult same_pixels(DIB_HANDLE a, DIB_HANDLE b) {
  if (!a || !b) return ::testing::AssertionFailure() << "missing image";
  if (DIB_Width(a) != DIB_Width(b) || DIB_Height(a) != DIB_Height(b) || DIB_Depth(a) != DIB_Depth(b))
    return ::testing::AssertionFailure() << "shape " << DIB_Width(a) << "x" << DIB_Height(a) << "x" << DIB_Depth(a)
                                         << " vs " << DIB_Width(b) << "x" << DIB_Height(b) << "x" << DIB_Depth(b);
  if (DIB_PixelType(a) != DIB_PixelType(b))
    return ::testing::AssertionFailure() << "pixel type " << DIB_PixelType(a) << " vs " << DIB_PixelType(b);
  const auto ra = dib_test::packed_rows(a), rb = dib_test::packed_rows(b);
  const int bits = DIB_Depth(a), w = DIB_Width(a);
  for (std::size_t y = 0; y < ra.size(); ++y) {
    std::vector<std::uint8_t> x = ra[y], z = rb[y];
    if (bits < 8 && (w * bits) % 8 && !x.empty()) {
      const std::uint8_t keep = static_cast<std::uint8_t>(0xFF << (8 - (w * bits) % 8));
      x.back() &= keep;
      z.back() &= keep;
    }
    if (x != z) return ::testing::AssertionFailure() << "row " << y << " differs";
  }
  if (DIB_Equal(a, b) != 1) return ::testing::AssertionFailure() << "DIB_Equal says the images differ";
  return ::testing::AssertionSuccess();
}

}  // namespace pdf_dcx_test
