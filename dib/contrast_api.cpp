// The DIB family's C surface for automatic contrast, level operations and the
// edge-strength image.
#include "orivane/dib_analysis.h"

#include <algorithm>

#include "dib/api_guard.h"
#include "dib/contrast.h"
#include "dib/dib.h"
#include "orivane/errors.h"

using dib::api::edit;
using dib::api::guard;

namespace {

constexpr int kLevelSettingLimit = 1000;  // brightness and contrast run -1000..1000

bool level_setting_ok(int32_t value) { return value >= -kLevelSettingLimit && value <= kLevelSettingLimit; }

}  // namespace

int32_t DIB_AutoContrast(DIB_HANDLE h) {
  return guard("DIB_AutoContrast", 0, [&] {
    dib::Locked lock(h);
    if (!dib::auto_contrast_page(lock.view())) throw dib::Error(ERR_FAILURE);
    return 1;
  });
}

DIB_HANDLE DIB_EdgeStrength(DIB_HANDLE h, int32_t mode, int32_t threshold) {
  return guard("DIB_EdgeStrength", DIB_HANDLE{0}, [&] {
    dib::Locked lock(h);
    return dib::edge_strength(lock.view(), mode, threshold).release();
  });
}

int32_t DIB_BrightnessContrast(DIB_HANDLE h, int32_t brightness, int32_t contrast) {
  return edit(h, "DIB_BrightnessContrast", [&](const dib::DibView& v) {
    if (!level_setting_ok(brightness) || !level_setting_ok(contrast)) {
      throw dib::Error(ERR_BAD_PARAMETER);
    }
    dib::apply_gray_table(v, dib::brightness_contrast_table(brightness, contrast));
  });
}

int32_t DIB_ApplyLevelTable(DIB_HANDLE h, const uint8_t table[256]) {
  return edit(h, "DIB_ApplyLevelTable", [&](const dib::DibView& v) {
    if (table == nullptr) throw dib::Error(ERR_BAD_PARAMETER);
    dib::LevelTable t;
    std::copy_n(table, 256, t.begin());
    dib::apply_gray_table(v, t);
  });
}

int32_t DIB_Posterize(DIB_HANDLE h, int32_t levels) {
  return edit(h, "DIB_Posterize", [&](const dib::DibView& v) {
    if (levels < 2) throw dib::Error(ERR_BAD_PARAMETER);
    dib::apply_sample_table(v, dib::posterize_table(levels));
  });
}
