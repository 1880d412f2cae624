// The file layer's process-wide output settings.
#pragma once
#include <array>

namespace fileio {

struct OutputSettings {
  int append = 0;
  int multipage_format = 0;   // MPF_TIFF
  int jpeg_quality = 75;
  // TIFF compression by pixel type BW, GRAY, RGB, PALETTE, CMY, CMYK:
  // Group 4 for BW, none for the others.
  std::array<int, 6> tiff_compression{4, 1, 1, 1, 1, 1};
  int lazy_writing = 1;
  int replace_existing = 1;
  // How long a run waits for a name another run holds (appending to it,
  // or writing it as a multipage file) before it gives up.
  int name_wait_ms = 60000;
};

OutputSettings& output_settings();
void output_settings_reset_for_tests();

}  // namespace fileio
