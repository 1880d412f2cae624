#include "fileio/codec_modules.h"

#include <array>
#include <string>

#include "orivane/twain_files.h"

namespace fileio {

namespace {

// Each codec's load attempt: 0 not tried, 1 loaded, -1 failed.
struct CodecSlots {
  std::array<int, 6> tried{};
};

CodecSlots& slots() {
  static CodecSlots s;
  return s;
}

constexpr std::array<const char*, 6> kNames = {"OrvJpeg", "OrvTiff", "OrvPng",
                                               "OrvGif",  "OrvDcx",  "OrvPdf"};

// A codec module reports its version (major * 100 + minor) through
// "<Name>_Version"; one without it is not one of ours and is refused.
bool bind_version(const std::string& name, platform::ModuleHandle m, int* out_version) {
  using VersionFn = int (*)();
  auto fn = reinterpret_cast<VersionFn>(platform::module_symbol(m, (name + "_Version").c_str()));
  if (!fn) return false;
  *out_version = fn();
  return true;
}

}  // namespace

const char* codec_name(Codec c) { return kNames[static_cast<int>(c)]; }

const twain::LoadedModule* codec_module(Codec c) {
  int i = static_cast<int>(c);
  const std::string name = kNames[i];
  if (slots().tried[i] == 1) return twain::loaded_module(name);
  if (slots().tried[i] == -1) return nullptr;
  slots().tried[i] = -1;
  platform::ModuleHandle m = twain::LoadSiblingLibrary(name + ".dll");
  if (!m) return nullptr;
  twain::LoadedModule rec;
  rec.name = name;
  rec.handle = m;
  rec.path = platform::module_path(m);
  if (!bind_version(name, m, &rec.version)) {
    platform::module_close(m);
    return nullptr;
  }
  twain::register_loaded_module(rec);
  slots().tried[i] = 1;
  return twain::loaded_module(name);
}

bool codec_for_format(int format, Codec* out_codec) {
  switch (format) {
    case FF_TIFF: *out_codec = Codec::Tiff; return true;
    case FF_JPEG: *out_codec = Codec::Jpeg; return true;
    case FF_PNG: *out_codec = Codec::Png; return true;
    case FF_DCX: *out_codec = Codec::Dcx; return true;
    case FF_GIF: *out_codec = Codec::Gif; return true;
    case FF_PDF: *out_codec = Codec::Pdf; return true;
    default: return false;
  }
}

void codec_modules_reset_for_tests() { slots() = CodecSlots{}; }

}  // namespace fileio
