#include "twain/session/gate_trace.h"

#include <cstdio>
#include <cstring>

#include "twain/capabilities/item_values.h"
#include "twain/session/constant_names.h"

namespace twain {

namespace {

constexpr int kExtInfoShownMax = 8;  // entries of an extended image info listed

double fix(const TW_FIX32& f) { return fix32_to_double(f.Whole, f.Frac); }

std::string text_of(const char* field, std::size_t size) {
  return std::string(field, strnlen(field, size));
}

template <typename... Args>
std::string format(const char* fmt, Args... args) {
  char out[512];
  std::snprintf(out, sizeof out, fmt, args...);
  return out;
}

std::string describe_frame(const TW_FRAME& f) {
  return format("{%g, %g, %g, %g}", fix(f.Left), fix(f.Top), fix(f.Right), fix(f.Bottom));
}

std::string describe_layout(const TW_IMAGELAYOUT& l) {
  return "Frame=" + describe_frame(l.Frame) +
         format(" Doc=%u Page=%u FrameNo=%u", l.DocumentNumber, l.PageNumber, l.FrameNumber);
}

std::string describe_image_info(const TW_IMAGEINFO& i) {
  std::string bits;
  for (int k = 0; k < 8 && k < i.SamplesPerPixel; ++k)
    bits += (k ? "," : "") + std::to_string(i.BitsPerSample[k]);
  return format("  ImageInfo: %gx%g dpi, %dx%d, SPP=%d BPS=[", fix(i.XResolution),
                fix(i.YResolution), i.ImageWidth, i.ImageLength, i.SamplesPerPixel) +
         bits +
         format("] BPP=%d Planar=%u %s Compression=%u\n", i.BitsPerPixel, i.Planar,
                pixel_type_name(i.PixelType).c_str(), i.Compression);
}

std::string describe_ext_info(const TW_EXTIMAGEINFO& e) {
  std::string out = format("  ExtImageInfo: %u entries\n", e.NumInfos);
  const TW_UINT32 shown = e.NumInfos < kExtInfoShownMax ? e.NumInfos : kExtInfoShownMax;
  for (TW_UINT32 k = 0; k < shown; ++k) {
    const TW_INFO& info = e.Info[k];
    out += format("    0x%04x %s x%u %s\n", info.InfoID, item_type_name(info.ItemType).c_str(),
                  info.NumItems, return_code_name(info.ReturnCode).c_str());
  }
  return out;
}

}  // namespace

std::string describe_identity(const TW_IDENTITY& id) {
  return format("  Product(%s) Family(%s)\n", text_of(id.ProductName, 34).c_str(),
                text_of(id.ProductFamily, 34).c_str()) +
         format("  Mfg(%s) Id=%u\n", text_of(id.Manufacturer, 34).c_str(), id.Id) +
         format("  Version: %u.%u %s  Protocol: %u.%u  Groups: 0x%08x\n", id.Version.MajorNum,
                id.Version.MinorNum, text_of(id.Version.Info, 34).c_str(), id.ProtocolMajor,
                id.ProtocolMinor, id.SupportedGroups);
}

std::string describe_call_data(unsigned dat, const void* data) {
  if (!data) return "";
  switch (dat) {
    case DAT_USERINTERFACE: {
      const auto& ui = *static_cast<const TW_USERINTERFACE*>(data);
      return format(" ShowUI=%u ModalUI=%u hParent=0x%08lx", ui.ShowUI, ui.ModalUI,
                    reinterpret_cast<unsigned long>(ui.hParent));
    }
    case DAT_EVENT: {
      const auto& ev = *static_cast<const TW_EVENT*>(data);
      return format(" pEvent=0x%08lx TWMessage=%s", reinterpret_cast<unsigned long>(ev.pEvent),
                    message_name(ev.TWMessage).c_str());
    }
    case DAT_SETUPFILEXFER: {
      const auto& sf = *static_cast<const TW_SETUPFILEXFER*>(data);
      return format(" FileName='%s' Format=%s", text_of(sf.FileName, sizeof sf.FileName).c_str(),
                    file_format_name(sf.Format).c_str());
    }
    case DAT_IMAGELAYOUT:
      return " " + describe_layout(*static_cast<const TW_IMAGELAYOUT*>(data));
    default: return "";
  }
}

std::string describe_result_data(unsigned dat, const void* data) {
  if (!data) return "";
  switch (dat) {
    case DAT_SETUPMEMXFER: {
      const auto& m = *static_cast<const TW_SETUPMEMXFER*>(data);
      return format("  MinBufSize=%u MaxBufSize=%u Preferred=%u\n", m.MinBufSize, m.MaxBufSize,
                    m.Preferred);
    }
    case DAT_IMAGEINFO: return describe_image_info(*static_cast<const TW_IMAGEINFO*>(data));
    case DAT_IMAGELAYOUT: return describe_layout(*static_cast<const TW_IMAGELAYOUT*>(data)) + "\n";
    case DAT_IMAGEMEMXFER: {
      const auto& b = *static_cast<const TW_IMAGEMEMXFER*>(data);
      return format("  Block: Compression=%u BytesPerRow=%u Columns=%u Rows=%u XOffset=%u "
                    "YOffset=%u BytesWritten=%u\n",
                    b.Compression, b.BytesPerRow, b.Columns, b.Rows, b.XOffset, b.YOffset,
                    b.BytesWritten);
    }
    case DAT_EXTIMAGEINFO: return describe_ext_info(*static_cast<const TW_EXTIMAGEINFO*>(data));
    default: return "";
  }
}

}  // namespace twain
