// Edits of a DIB's block that change its layout or its header: the colour
// table's size, the subtractive marker, trimming the block, taking over the
// contents of another handle; and the validity test.
#pragma once
#include "dib/dib.h"

namespace dib {

// Resizes the colour table of a 1-, 4- or 8-bit image to `count` entries
// (0 = 2^depth), moving the pixel rows so that they keep their values. New
// entries are black. False when refused (other depths, count out of range,
// unusable rows, no memory); the image is then unchanged.
bool table_resize(Handle h, int count);
// Sets or clears the CMY/CMYK marker of 24-, 32- and 48-bit plain data.
void set_subtractive(DibView& v, bool on);
// Trims the block to header + table + pixel data, rounded up to 4 bytes; never
// grows it and never cuts rows.
bool shrink_to_packed(Handle h);
// `target` takes the contents of `source`, which is released (unless it is
// `target`). False when either is not an image or memory runs out; `source`
// is released all the same.
bool replace_contents(Handle target, Handle source);
// Header size 40, one plane, at most 256 colours, a depth the library draws
// on, and pixel data inside the block.
bool is_valid(const DibView& v);

}  // namespace dib
