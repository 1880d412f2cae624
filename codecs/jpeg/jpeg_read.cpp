// JPEG decoding through libjpeg-turbo, straight into the rows of a new DIB.
#include "codecs/jpeg/jpeg_codec.h"

#include "codecs/common/jpeg_limits.h"
#include "codecs/jpeg/jpeg_error.h"
#include "orivane/errors.h"

namespace orvjpeg {
namespace {

struct Progress {
  jpeg_progress_mgr pub;
};

// Crafted progressive files repeat scans to burn time; stop them early.
void on_progress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->progressive_mode && d->input_scan_number > kMaxProgressiveScans)
    error_fail(cinfo, "too many progressive scans");
}

struct Shape {
  int pixel_type;
  int depth;
  J_COLOR_SPACE space;
};

Shape shape_of(const jpeg_decompress_struct& c) {
  if (c.num_components == 1) return {ORV_PT_GRAY, 8, JCS_GRAYSCALE};
  if (c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK)
    return {ORV_PT_CMYK, 32, JCS_CMYK};
  return {ORV_PT_RGB, 24, JCS_EXT_BGR};
}

// Header checks made before the image's memory is taken: the loading limit
// and whether the data can fill the image. 0 or the refusal's error code,
// with the text in `err`.
int check_header(const jpeg_decompress_struct& c, std::size_t size, ErrorManager* err) {
  std::string refusal = codec::image_size_allowed(c.image_width, c.image_height)
                            ? codec::jpeg_data_refusal(c, size)
                            : codec::image_size_refusal(c.image_width, c.image_height);
  if (refusal.empty()) return 0;
  std::snprintf(err->text, sizeof err->text, "%s", refusal.c_str());
  return ERR_JPEG;
}

void apply_density(const jpeg_decompress_struct& c, codec::NewDib* out) {
  if (c.X_density == 0 || c.Y_density == 0) return;
  if (c.density_unit == 1)
    out->set_resolution(codec::dpi_to_ppm(c.X_density), codec::dpi_to_ppm(c.Y_density));
  else if (c.density_unit == 2)
    out->set_resolution(std::int32_t(c.X_density) * 100, std::int32_t(c.Y_density) * 100);
}

// Runs libjpeg; no C++ objects with destructors live in this frame. Returns 0
// or the error code, with the text in err->text.
int decompress(const std::uint8_t* data, std::size_t size, codec::NewDib* out, ErrorManager* err) {
  jpeg_decompress_struct cinfo;
  Progress progress;
  cinfo.err = error_manager_install(err);
  if (setjmp(err->jump)) {
    jpeg_destroy_decompress(&cinfo);
    return ERR_JPEG;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kMaxLibjpegMemory;
  progress.pub.progress_monitor = on_progress;
  cinfo.progress = &progress.pub;
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  if (const int refused = check_header(cinfo, size, err)) {
    jpeg_destroy_decompress(&cinfo);
    return refused;
  }
  const Shape shape = shape_of(cinfo);
  cinfo.out_color_space = shape.space;
  bool too_large = false;
  if (!out->make(shape.pixel_type, cinfo.image_width, cinfo.image_height, shape.depth,
                 &too_large)) {
    std::snprintf(err->text, sizeof err->text, "%s (%u x %u)",
                  too_large ? "image too large" : "out of memory", cinfo.image_width,
                  cinfo.image_height);
    jpeg_destroy_decompress(&cinfo);
    return too_large ? ERR_JPEG : ERR_MEMORY;
  }
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_width != cinfo.image_width || cinfo.output_height != cinfo.image_height ||
      cinfo.output_components * 8 != shape.depth)
    error_fail(reinterpret_cast<j_common_ptr>(&cinfo), "unexpected output shape");
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->layout().row(int(cinfo.output_scanline));
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  apply_density(cinfo, out);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return 0;
}

}  // namespace

Status jpeg_decode(const std::uint8_t* data, std::size_t size, codec::NewDib* out) {
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) {
    out->discard();
    return {ERR_JPEG, "Not a JPEG file"};
  }
  ErrorManager err;
  const int code = decompress(data, size, out, &err);
  if (code != 0) {
    out->discard();
    return {code, err.text};
  }
  return {};
}

}  // namespace orvjpeg
