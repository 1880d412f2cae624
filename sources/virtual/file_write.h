// Writing a page as an image file for DAT_IMAGEFILEXFER: BMP, TIFF, JFIF, PNG
// or PDF (one page, the image as a Flate, DCT or CCITT stream). Formats that
// cannot hold the page's samples get the nearest they can: BMP and JFIF take
// 8-bit gray or 24-bit colour; CMY and CMYK pages become RGB except in TIFF
// and PDF (CMYK); JFIF has no 1-bit form, so black and white becomes gray.
#pragma once
#include <string>

#include "sources/virtual/paper.h"

namespace vscan {

// Writes `raster` to `path` in `format` (TWFF_BMP, TIFF, JFIF, PNG, PDF);
// `compression` (TWCP_GROUP4 or TWCP_JPEG, as the image shape allows it) is
// used where the format carries it (TIFF: Group 4; PDF: both). False when the
// file cannot be written or the format is not one of these.
bool image_file_write(const Raster& raster, TW_UINT16 format, TW_UINT16 compression,
                      int jpeg_quality, const std::string& path);

}  // namespace vscan
