// The table of format writers, the module steps its rows name, and the one
// way a row is run.
#include "fileio/format_writers.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <exception>

#include "core/error_record.h"
#include "dib/dib.h"
#include "fileio/file_state.h"
#include "fileio/options.h"
#include "fileio/pdf_options.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"

namespace fileio {
namespace {

// One call into a codec's file writer under the fault guard: a fault gives
// -5 with ERR_FAILURE "WriteToFilename".
template <typename Call>
int32_t guarded_write(Call call) {
  return codec_guarded("WriteToFilename", int32_t{-5}, call);
}

// ---- The module steps --------------------------------------------------

// The write of a module that takes nothing but the image and the name.
template <auto api>
int plain_write(const BlockLock& image, const char* temp, const char*, bool) {
  const auto* module = api();
  return guarded_write([&] { return module->BmiWriteToFile(image.get(), temp); });
}

int jpeg_prepare(const BlockLock& image) {
  if (image.compressed() && image.stream_code() != ORV_STREAM_JPEG) {
    RecordError(ERR_WRONG_IMAGE_TYPE, "Writing to JPEG, image is compressed but not JPEG: not supported.");
    return -3;
  }
  jpeg_api()->SetQuality(output_settings().jpeg_quality);
  return 0;
}

// OrvJpeg keeps its own reason; the trace keeps what the system said.
void jpeg_write_failed(int result, const char* path) {
  LogPrint("GLE(%d)\n", errno);
  LogPrint("ORVJPEG_BmiWriteToFile => %d\n", result);
  struct stat st {};
  LogPrint("GetFileAttributes=> %08x\n", ::stat(path, &st) == 0 ? static_cast<unsigned>(st.st_mode) : 0xFFFFFFFFu);
  RecordError(known_code(jpeg_api()->LastErrorCode()), path);
}

int tiff_prepare(const BlockLock& image) {
  const TiffApi* tiff = tiff_api();
  // The page count given for this file is used once.
  tiff->SetPageCount(file_state().output_page_count);
  file_state().output_page_count = -1;
  const int type = image.pixel_type();
  if (type >= 0 && type <= 5) tiff->SetCompression(type, output_settings().tiff_compression[type]);
  return 0;
}

int tiff_write(const BlockLock& image, const char* temp, const char*, bool appending) {
  const TiffApi* tiff = tiff_api();
  const TiffUse use(tiff);  // OrvTiff's log and error hooks, for this call
  tiff->SetAppendFlag(appending);
  return guarded_write([&] { return tiff->BmiWriteToFile(image.get(), temp); });
}

void tiff_write_failed(int, const char* path) { RecordError(ERR_TIFF, path); }

int dcx_write(const BlockLock& image, const char* temp, const char*, bool appending) {
  const DcxApi* dcx = dcx_api();
  dcx_prepare(dcx, appending);
  return guarded_write([&] { return dcx->BmiWriteToFile(image.get(), temp); });
}

int pdf_prepare_write(const BlockLock&) {
  pdf_prepare(pdf_api());
  return 0;
}

int pdf_write(const BlockLock& image, const char* temp, const char* path, bool appending) {
  const PdfApi* pdf = pdf_api();
  // The pages already there are read straight from the file.
  pdf->SetAppendSource(appending ? path : nullptr);
  const int32_t append = appending ? 1 : 0;
  const int result = guarded_write([&] { return pdf->BmiWriteToFile(image.get(), temp, append); });
  pdf->SetAppendSource(nullptr);
  return result;
}

// OrvPdf records its own reasons through its error handler; a failure it
// gave none for is told as a write error.
void pdf_write_failed(int, const char* path) {
  if (core::error_record().code == 0) RecordError(ERR_FILE_WRITE, path);
}

void pdf_finish() { pdf_reset_defaults(pdf_api()); }

// ---- The table ---------------------------------------------------------

constexpr FormatWriter kWriters[] = {
    {.format = FF_JPEG, .codec = Codec::Jpeg, .name = "Jpeg",
     .lock_failed_trace = "** Lock failed on hdib\n",
     .depth = {.kind = DepthRule::Widen, .depth = 8, .convert_error = ERR_MEMORY},
     .load_error = ERR_JPEG_LIBRARY, .append_as = Existing::Replace,
     .prepare = jpeg_prepare, .write = plain_write<jpeg_api>, .write_failed = jpeg_write_failed},
    {.format = FF_TIFF, .codec = Codec::Tiff, .name = "Tiff",
     .lock_failed_trace = "**Lock failed!",
     .load_error = ERR_TIFF_LIBRARY, .append_as = Existing::Copy,
     .prepare = tiff_prepare, .write = tiff_write, .write_failed = tiff_write_failed,
     .failure_report = "Unable to write TIFF file."},
    {.format = FF_PNG, .codec = Codec::Png, .name = "Png",
     .load_error = ERR_LIBRARY_LOAD, .load_detail = "OrvPng.dll.", .append_as = Existing::Replace,
     .write = plain_write<png_api>},
    {.format = FF_GIF, .codec = Codec::Gif, .name = "Gif",
     .depth = {.kind = DepthRule::Reduce, .depth = 8, .pixel_type = DIB_PT_PALETTE, .convert_error = ERR_GIF_CONVERT},
     .load_error = ERR_LIBRARY_LOAD, .load_detail = "OrvGif.dll", .append_as = Existing::Replace,
     .write = plain_write<gif_api>},
    {.format = FF_DCX, .codec = Codec::Dcx, .name = "Dcx",
     .lock_failed_trace = "**Lock failed!",
     .depth = {.kind = DepthRule::Reduce, .depth = 1, .pixel_type = DIB_PT_BW, .convert_error = ERR_DCX_CONVERT},
     .load_error = ERR_DCX_LIBRARY, .append_as = Existing::Copy,
     .write = dcx_write},
    {.format = FF_PDF, .codec = Codec::Pdf, .name = "Pdf", .dib_call = false,
     .load_error = 0, .append_as = Existing::Source,
     .prepare = pdf_prepare_write, .write = pdf_write, .write_failed = pdf_write_failed,
     .failure_report = "Unable to write PDF file.", .finish = pdf_finish},
};

// ---- Running a row -----------------------------------------------------

// Loads the module (once per process); false when it is not there.
bool module_loads(Codec codec) {
  switch (codec) {
    case Codec::Jpeg: return jpeg_api() != nullptr;
    case Codec::Tiff: return tiff_api() != nullptr;
    case Codec::Png: return png_api() != nullptr;
    case Codec::Gif: return gif_api() != nullptr;
    case Codec::Dcx: return dcx_api() != nullptr;
    case Codec::Pdf: return pdf_api() != nullptr;  // records the loader's reason at every use
  }
  return false;
}

// The steps from the lock to the file; `out_loaded` tells whether the module
// loaded.
int write_locked(const FormatWriter& w, DIB_HANDLE dib, const char* path, bool* out_loaded) {
  const BlockLock lock(dib);
  if (!lock.get()) {
    if (w.lock_failed_trace) LogPrint("%s", w.lock_failed_trace);
    char context[32];
    std::snprintf(context, sizeof context, "(DIB_WriteTo%s)", w.name);
    RecordError(ERR_BAD_DIB, context);
    return -3;
  }
  core::error_clear();
  if (!module_loads(w.codec)) {
    if (w.load_error != 0) RecordError(w.load_error, w.load_detail ? w.load_detail : path ? path : "");
    return -3;
  }
  *out_loaded = true;
  if (!path || !*path) {
    RecordError(ERR_BAD_FILENAME, "");
    return -2;
  }
  if (!EnsureFolderExists(path)) return -2;
  if (w.prepare) {
    if (const int rc = w.prepare(lock); rc != 0) return rc;
  }
  const Existing mode = output_settings().append ? w.append_as : Existing::Replace;
  return write_atomically(path, mode, [&](const char* temp, bool appending) {
    const int rc = w.write(lock, temp, path, appending);
    if (rc != 0 && w.write_failed) w.write_failed(rc, path);
    return rc;
  });
}

// The layout of the copy `rule` makes of `dib`; false when `dib` is written
// as it is (or is no readable image: the lock then refuses it).
bool copy_layout(const DepthRule& rule, DIB_HANDLE dib, int* out_type, int* out_depth) {
  if (rule.kind == DepthRule::AsIs || dib == 0 || !dib::dib_is_block(dib)) return false;
  if (rule.kind == DepthRule::Reduce) {
    if (DIB_Depth(dib) <= rule.depth) return false;
    *out_type = rule.pixel_type;
    *out_depth = rule.depth;
    return true;
  }
  // Widening loses nothing: a table of grays becomes gray levels, any other
  // table full colour.
  try {
    dib::Locked lock(dib);
    const dib::DibView& v = lock.view();
    if (v.compressed() || v.depth() >= rule.depth) return false;
    const bool gray = dib::table_is_gray(v.table());
    *out_type = gray ? DIB_PT_GRAY : DIB_PT_RGB;
    *out_depth = gray ? rule.depth : 3 * rule.depth;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

int known_code(int code) { return code > 0 && *core::error_format(code) != '\0' ? code : ERR_FAILURE; }

const FormatWriter* format_writer(int format) {
  for (const FormatWriter& w : kWriters)
    if (w.format == format) return &w;
  return nullptr;
}

int32_t run_format_writer(const FormatWriter& w, DIB_HANDLE dib, const char* path) {
  if (w.dib_call)
    LogDibCall("WriteTo%s(0x%lx, \"%s\")\n", w.name, static_cast<unsigned long>(dib), path ? path : "");
  else
    LogPrint("WriteTo%s(0x%lx, \"%s\")\n", w.name, static_cast<unsigned long>(dib), path ? path : "");
  if (w.format == FF_PDF) {
    if (const int recognised = pdf_searchable_text(dib); recognised < 0) return recognised;
  }
  // A PDF page whose text layer was laid for it turned upright is written
  // turned (the turned copy freed after the write).
  const DIB_HANDLE turned = w.format == FF_PDF ? pdf_take_turned_page(dib) : 0;
  struct Freed {
    DIB_HANDLE h;
    ~Freed() { DibFree(h); }
  } turned_owner{turned};
  if (turned) dib = turned;
  const ConvertedImage image(w.depth, w.name, dib, path ? path : "");
  if (image.failed()) return -5;
  bool loaded = false;
  const int rc = write_locked(w, image.get(), path, &loaded);
  if (rc != 0 && w.failure_report) TWAIN_ReportLastError(w.failure_report);
  if (loaded && w.finish) w.finish();
  return rc;
}

ConvertedImage::ConvertedImage(const DepthRule& rule, const char* name, DIB_HANDLE dib, const char* context)
    : name_(name), dib_(dib) {
  int type = 0, depth = 0;
  if (!copy_layout(rule, dib, &type, &depth)) return;
  if (rule.kind == DepthRule::Widen)
    LogPrint("WriteTo%s: widening %d-bit image to %d-bit %s\n", name, DIB_Depth(dib), depth,
             type == DIB_PT_GRAY ? "gray" : "colour");
  copy_ = DIB_ConvertToFormat(dib, type, depth, nullptr);
  if (copy_) return;
  failed_ = true;
  // A widening that fails lacked memory, whatever the conversion recorded; a
  // reduction keeps the conversion's own reason when it recorded one.
  if (rule.kind == DepthRule::Widen) core::error_clear();
  RecordError(rule.convert_error, context);
}

ConvertedImage::~ConvertedImage() {
  if (!copy_) return;
  LogPrint("WriteTo%s: freeing %08lx\n", name_, static_cast<unsigned long>(copy_));
  DibFree(copy_);
}

}  // namespace fileio
