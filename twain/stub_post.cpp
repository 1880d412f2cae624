// PLACEHOLDER so the tree links while post-transfer processing and extended
// image information are written; deleted by their author in the same step
// that adds the real code.
#include "twain/acquire.h"

namespace twain {
dib::Handle PostProcessDib(dib::Handle page, const TW_IMAGEINFO*) { return page; }
void recover_resolution(dib::Handle) {}
int& blank_flag() {
  static int flag = 0;
  return flag;
}
int RetrieveExtendedImageInfo() { return 0; }
void ext_info_reset() {}
}  // namespace twain
