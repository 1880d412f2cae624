// The separately loaded codec modules. Each is loaded once, on first need; a
// missing one disables only its own format.
#pragma once
#include "twain/modules.h"

namespace fileio {

enum class Codec { Jpeg, Tiff, Png, Gif, Dcx, Pdf };

// The module's base name ("OrvTiff", ...).
const char* codec_name(Codec c);
// The loaded module, loading it on first call; nullptr when it does not load
// (the attempt is not repeated).
const twain::LoadedModule* codec_module(Codec c);
// Codec behind a file-format code; false for BMP and unknown codes.
bool codec_for_format(int format, Codec* out_codec);

void codec_modules_reset_for_tests();

}  // namespace fileio
