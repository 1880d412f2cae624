// PDF settings kept by the library and handed to the PDF codec at each write.
#pragma once
#include <array>
#include <string>

namespace fileio {

struct PdfSettings {
  std::array<int, 6> compression{-1, -1, -1, -1, -1, -1};  // by pixel type; -1 codec default
  int pdfa_level = 0;
  std::string user_password;
  std::string owner_password;
  std::string open_password;   // passed with every PDF read, at most 31 characters
  int page_size = 0;   // TWAIN paper-size code, 0 = from the image
};

PdfSettings& pdf_settings();
void pdf_settings_reset_for_tests();

}  // namespace fileio
