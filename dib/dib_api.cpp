// The DIB family's C surface for handles: creation and release, queries and
// setters, row access, comparison. Each function resolves its handle and calls
// one internal function under the boundary guard.
#include "orivane/dib_api.h"

#include <algorithm>
#include <cstring>

#include "dib/allocate.h"
#include "dib/api_guard.h"
#include "dib/compare.h"
#include "dib/dib.h"
#include "dib/edit.h"
#include "dib/image_limit.h"
#include "dib/live_count.h"
#include "dib/row_readers.h"
#include "dib/rows.h"
#include "log/trace.h"

using dib::api::guard;
using dib::api::guard_void;

namespace {

unsigned long hex(DIB_HANDLE h) { return static_cast<unsigned long>(h); }

// A query: a null handle gives `none` silently; a bad handle records
// ERR_BAD_DIB and gives `none` as well.
template <typename R, typename F>
R query(DIB_HANDLE h, const char* context, R none, F&& read) {
  if (h == 0) return none;
  return guard(context, none, [&] {
    dib::Locked lock(h);
    return read(lock.view());
  });
}

// A setter: nothing for a null handle.
template <typename F>
void update(DIB_HANDLE h, const char* context, F&& write) {
  if (h == 0) return;
  guard_void(context, [&] {
    dib::Locked lock(h);
    write(lock.view());
  });
}

DIB_HANDLE create(int depth, int width, int height, int pixel_type, const char* context,
                  const char* failure_trace) {
  return guard(context, DIB_HANDLE{0}, [&] {
    dib::Dib d = dib::try_allocate(depth, width, height, pixel_type);
    if (!d) {
      LogPrint("%s", failure_trace);
      throw dib::Error(ERR_MEMORY);
    }
    return d.release();
  });
}

int colour_component(DIB_HANDLE h, int index, int which) {
  return query(h, "DIB_ColorTable", 0, [&](const dib::DibView& v) {
    if (index < 0 || static_cast<std::size_t>(index) >= v.table().size()) return 0;
    const dib::Rgbq& e = v.table()[static_cast<std::size_t>(index)];
    return int{which == 0 ? e.red : which == 1 ? e.green : e.blue};
  });
}

}  // namespace

// ---- Creation and release -----------------------------------------------------

DIB_HANDLE DIB_Create(int32_t pixel_type, int32_t width, int32_t height, int32_t depth) {
  char note[40] = "";
  if (depth < 1) {
    std::snprintf(note, sizeof note, " (using Depth=%d)", dib::depth_for_type(pixel_type));
  } else if (depth == 15) {
    std::snprintf(note, sizeof note, " (using Depth=%d)", 16);
  }
  LogDibCall("Create(%d, %d, %d, %d)%s\n", pixel_type, width, height, depth, note);
  const DIB_HANDLE h = create(depth, width, height, pixel_type, "DIB_Create",
                              "|--> GlobalAlloc Failed!\n");
  LogPrint(" => 0x%lx\n", hex(h));
  return h;
}

DIB_HANDLE DIB_Allocate(int32_t depth, int32_t width, int32_t height) {
  LogDibCall("Allocate(%d, %d, %d)\n", depth, width, height);
  if (depth == 15) LogPrint(" (using depth=16)\n");
  if (depth == 16 || depth == 32 || depth == 48) LogPrint(" (odd depth, but OK...)\n");
  return create(depth, width, height, -1, "DIB_Allocate", "** GlobalAlloc Failed\n");
}

void DIB_Free(DIB_HANDLE dib) {
  if (dib == 0) {
    LogDibCall("Free(NULL)\n");
    return;
  }
  LogDibCall("Free(0x%lx) ", hex(dib));
  dib::dib_free(dib);
  LogPrint(" in use: %ld\n", dib::live_count());
}

void DIB_FreeArray(DIB_HANDLE* array, int32_t count) {
  LogDibCall("FreeArray(0x%lx, %d)\n", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(array)), count);
  if (array == nullptr) return;
  for (int32_t i = 0; i < count; ++i) {
    if (array[i] != 0) dib::dib_free(array[i]);
  }
}

void DibFree(DIB_HANDLE dib) { dib::dib_free(dib); }

DIB_HANDLE DibCopy(DIB_HANDLE dib) { return dib::dib_copy(dib); }

int32_t DIB_LiveImageCount(void) { return static_cast<int32_t>(dib::live_count()); }

int64_t DIB_SetMaxImagePixels(int64_t pixels) {
  LogApiCall("DIB_SetMaxImagePixels(%lld)\n", static_cast<long long>(pixels));
  const std::int64_t former = dib::image_limit().max_pixels;
  dib::image_limit().max_pixels = pixels > 0 ? pixels : DIB_DEFAULT_MAX_IMAGE_PIXELS;
  return former;
}

int64_t DIB_GetMaxImagePixels(void) { return dib::image_limit().max_pixels; }

// ---- Queries and setters --------------------------------------------------------

int32_t DIB_Width(DIB_HANDLE h) {
  return query(h, "DIB_Width", 0, [](const dib::DibView& v) {
    return v.header().width < 0 ? -v.header().width : v.header().width;
  });
}

int32_t DIB_Height(DIB_HANDLE h) {
  return query(h, "DIB_Height", 0, [](const dib::DibView& v) {
    return static_cast<int32_t>(std::min<std::int64_t>(dib::header_rows(v.header()), INT32_MAX));
  });
}

int32_t DIB_Depth(DIB_HANDLE h) {
  return query(h, "DIB_Depth", 0, [](const dib::DibView& v) { return v.depth(); });
}

int32_t DIB_PixelType(DIB_HANDLE h) {
  return query(h, "DIB_PixelType", int32_t{DIB_PT_RGB}, [](const dib::DibView& v) { return v.pixel_type(); });
}

int32_t DIB_SamplesPerPixel(DIB_HANDLE h) {
  return query(h, "DIB_SamplesPerPixel", 0, [](const dib::DibView& v) { return v.samples_per_pixel(); });
}

int32_t DIB_BitsPerSample(DIB_HANDLE h) {
  return query(h, "DIB_BitsPerSample", 0,
               [](const dib::DibView& v) { return v.depth() / v.samples_per_pixel(); });
}

int32_t DIB_RowBytes(DIB_HANDLE h) {
  return query(h, "DIB_RowBytes", 0, [](const dib::DibView& v) {
    return static_cast<int32_t>(std::min<std::size_t>(v.stride(), INT32_MAX));
  });
}

double DIB_XResolution(DIB_HANDLE h) {
  return query(h, "DIB_XResolution", 0.0, [](const dib::DibView& v) { return dib::ppm_to_dpi(v.header().x_ppm); });
}

double DIB_YResolution(DIB_HANDLE h) {
  return query(h, "DIB_YResolution", 0.0, [](const dib::DibView& v) { return dib::ppm_to_dpi(v.header().y_ppm); });
}

int32_t DIB_XResolutionInt(DIB_HANDLE h) { return static_cast<int32_t>(DIB_XResolution(h) + 0.5); }

int32_t DIB_YResolutionInt(DIB_HANDLE h) { return static_cast<int32_t>(DIB_YResolution(h) + 0.5); }

double DIB_XResolutionInUnits(DIB_HANDLE h, int32_t unit) {
  return DIB_XResolution(h) / dib::unit_factor(unit);
}

double DIB_YResolutionInUnits(DIB_HANDLE h, int32_t unit) {
  return DIB_YResolution(h) / dib::unit_factor(unit);
}

void DIB_SetResolution(DIB_HANDLE h, double x_dpi, double y_dpi) {
  update(h, "DIB_SetResolution", [&](dib::DibView& v) {
    dib::InfoHeader hd = v.header();
    hd.x_ppm = dib::dpi_to_ppm(x_dpi);
    hd.y_ppm = dib::dpi_to_ppm(y_dpi);
    v.store_header(hd);
  });
}

double DIB_ConvertLength(double value, int32_t from, int32_t to) {
  return dib::length_convert(value, from, to);
}

int32_t DIB_ColorCount(DIB_HANDLE h) {
  return query(h, "DIB_ColorCount", 0, [](const dib::DibView& v) { return static_cast<int32_t>(v.table().size()); });
}

int32_t DIB_SetColorCount(DIB_HANDLE h, int32_t count) {
  if (h == 0) return 0;
  return guard("DIB_SetColorCount", 0, [&] { return dib::table_resize(h, count) ? 1 : 0; });
}

int32_t DIB_ColorTableR(DIB_HANDLE h, int32_t i) { return colour_component(h, i, 0); }
int32_t DIB_ColorTableG(DIB_HANDLE h, int32_t i) { return colour_component(h, i, 1); }
int32_t DIB_ColorTableB(DIB_HANDLE h, int32_t i) { return colour_component(h, i, 2); }

void DIB_SetColorTableRGB(DIB_HANDLE h, int32_t index, int32_t red, int32_t green, int32_t blue) {
  update(h, "DIB_SetColorTableRGB", [&](dib::DibView& v) {
    if (index < 0 || static_cast<std::size_t>(index) >= v.table().size()) return;
    auto byte = [](int32_t c) { return static_cast<std::uint8_t>(std::clamp(c, 0, 255)); };
    v.table()[static_cast<std::size_t>(index)] = dib::Rgbq{byte(blue), byte(green), byte(red), 0};
  });
}

int32_t DIB_FirstEntryWhite(DIB_HANDLE h) {
  return query(h, "DIB_FirstEntryWhite", 0, [](const dib::DibView& v) {
    if (v.table().empty()) return 0;
    const dib::Rgbq& e = v.table()[0];
    return (e.red == 255 && e.green == 255 && e.blue == 255) ? 1 : 0;
  });
}

int32_t DIB_FirstEntryBlack(DIB_HANDLE h) {
  return query(h, "DIB_FirstEntryBlack", 0, [](const dib::DibView& v) {
    if (v.table().empty()) return 1;
    const dib::Rgbq& e = v.table()[0];
    return (e.red == 0 && e.green == 0 && e.blue == 0) ? 1 : 0;
  });
}

void DIB_SetGrayColorTable(DIB_HANDLE h) {
  update(h, "DIB_SetGrayColorTable", [](dib::DibView& v) { dib::table_fill_gray(v); });
}

void DIB_SetSubtractive(DIB_HANDLE h, int32_t on) {
  update(h, "DIB_SetSubtractive", [&](dib::DibView& v) { dib::set_subtractive(v, on != 0); });
}

int32_t DIB_CompressionLowByte(DIB_HANDLE h) {
  return query(h, "DIB_CompressionLowByte", 0,
               [](const dib::DibView& v) { return static_cast<int32_t>(v.header().compression & 0xFF); });
}

int32_t DIB_IsCompressed(DIB_HANDLE h) {
  return query(h, "DIB_IsCompressed", 0, [](const dib::DibView& v) { return v.compressed() ? 1 : 0; });
}

int32_t DIB_CompressionCode(DIB_HANDLE h) {
  return query(h, "DIB_CompressionCode", 0,
               [](const dib::DibView& v) { return static_cast<int32_t>((v.header().compression >> 8) & 0xFF); });
}

void DIB_SetCompressionCode(DIB_HANDLE h, int32_t code) {
  update(h, "DIB_SetCompressionCode", [&](dib::DibView& v) {
    dib::InfoHeader hd = v.header();
    hd.compression = (hd.compression & ~dib::kCompressionCodeMask) |
                     (static_cast<std::uint32_t>(code & 0xFF) << 8);
    v.store_header(hd);
  });
}

int32_t DIB_ShrinkToPacked(DIB_HANDLE h) {
  if (h == 0) return 0;
  return guard("DIB_ShrinkToPacked", 0, [&] { return dib::shrink_to_packed(h) ? 1 : 0; });
}

int32_t DIB_ReplaceContents(DIB_HANDLE target, DIB_HANDLE source) {
  return guard("DIB_ReplaceContents", 0, [&] { return dib::replace_contents(target, source) ? 1 : 0; });
}

int32_t DIB_ReadData(DIB_HANDLE h, void* buffer, int32_t length) {
  LogDibCall("ReadData(0x%lx, 0x%lx, %d) ", hex(h),
             static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(buffer)), length);
  if (buffer == nullptr) {
    LogPrint("bad pdata!");
    return 0;
  }
  const void* p = platform::mem_lock(h);
  if (p == nullptr) {
    LogPrint("bad hdib! ");
    return 0;
  }
  const std::size_t size = platform::mem_size(h);
  const std::size_t n = std::min(size, static_cast<std::size_t>(std::max(length, 0)));
  if (n < size) LogPrint("*truncation! ");
  std::memcpy(buffer, p, n);
  platform::mem_unlock(h);
  return static_cast<int32_t>(n);
}

int32_t DIB_IsValid(DIB_HANDLE h) {
  if (h == 0) return 0;
  // Asking is not a fault: an unusable handle is just not valid.
  if (!dib::dib_is_block(h)) return 0;
  return query(h, "DIB_IsValid", 0, [](const dib::DibView& v) { return dib::is_valid(v) ? 1 : 0; });
}

void DIB_Dump(DIB_HANDLE h) { LogDumpDib(h); }

// ---- Row access -------------------------------------------------------------------

int32_t DIB_ReadRow(DIB_HANDLE h, int32_t row, void* buffer, int32_t length) {
  return query(h, "DIB_ReadRow", 0, [&](const dib::DibView& v) {
    return static_cast<int32_t>(dib::row_read(v, row, static_cast<std::uint8_t*>(buffer),
                                              static_cast<std::size_t>(std::max(length, 0))));
  });
}

int32_t DIB_WriteRow(DIB_HANDLE h, int32_t row, const void* data, int32_t length) {
  return query(h, "DIB_WriteRow", 0, [&](const dib::DibView& v) {
    return static_cast<int32_t>(dib::row_write(v, row, static_cast<const std::uint8_t*>(data),
                                               static_cast<std::size_t>(std::max(length, 0))));
  });
}

int32_t DIB_ReadPackedRow(DIB_HANDLE h, int32_t row, void* buffer) {
  return query(h, "DIB_ReadPackedRow", 0, [&](const dib::DibView& v) {
    return static_cast<int32_t>(dib::row_read_packed(v, row, static_cast<std::uint8_t*>(buffer)));
  });
}

int32_t DIB_WritePackedRow(DIB_HANDLE h, int32_t row, const void* data) {
  return query(h, "DIB_WritePackedRow", 0, [&](const dib::DibView& v) {
    return static_cast<int32_t>(dib::row_write_packed(v, row, static_cast<const std::uint8_t*>(data)));
  });
}

int32_t DIB_WriteRowSample(DIB_HANDLE h, int32_t row, const void* data, int32_t sample) {
  return query(h, "DIB_WriteRowSample", 0, [&](const dib::DibView& v) {
    return dib::row_write_sample(v, row, static_cast<const std::uint8_t*>(data), sample) ? 1 : 0;
  });
}

int32_t DIB_ReadRowComponent(DIB_HANDLE h, int32_t row, uint8_t* buffer, int32_t component) {
  return query(h, "DIB_ReadRowComponent", 0, [&](const dib::DibView& v) {
    if (buffer == nullptr || row < 0 || row >= v.height()) return 0;
    const dib::RowReader reader(v);
    return reader.component(row, component, buffer) ? 1 : 0;
  });
}

int32_t DIB_ReadRowRGB(DIB_HANDLE h, int32_t row, uint8_t* buffer) {
  return query(h, "DIB_ReadRowRGB", 0, [&](const dib::DibView& v) {
    if (buffer == nullptr || row < 0 || row >= v.height()) return 0;
    const dib::RowReader reader(v);
    return reader.rgb(row, buffer) ? 1 : 0;
  });
}

// ---- Comparison -------------------------------------------------------------------

int32_t DIB_Equal(DIB_HANDLE a, DIB_HANDLE b) {
  if (a == 0 || b == 0) return 0;
  return guard("DIB_Equal", 0, [&] { return dib::images_equal(a, b) ? 1 : 0; });
}

int32_t DIB_AlmostEqual(DIB_HANDLE a, DIB_HANDLE b, int32_t tolerance) {
  if (a == 0 || b == 0) return 0;
  return guard("DIB_AlmostEqual", 0, [&] {
    int max_error = -1;
    if (dib::images_almost_equal(a, b, tolerance, &max_error)) return 1;
    if (max_error >= 0) LogDibCall("AlmostEqual(0x%lx, 0x%lx) => FALSE, MaxError=%d\n", hex(a), hex(b), max_error);
    return 0;
  });
}
