// The pixels of an image as a printed page embeds them: 8-bit gray for black
// and white and gray images, RGB for the rest, shrunk by area averaging when
// the page is smaller than the image.
#pragma once
#include "orivane/dib_api.h"
#include "print/pdf_document.h"

namespace print {

// False when the image cannot be read or converted.
bool page_image(DIB_HANDLE dib, int width, int height, PageImage& out);

}  // namespace print
