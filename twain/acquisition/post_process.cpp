// Post-transfer processing: every page a native or memory transfer delivers
// passes here before anyone else sees it. The order matters: the checks come
// first so no step works on a broken block; the repairs (resolution, negation,
// gray tables) come before the soft crop, which needs the resolution; the
// blank judgement comes before the expensive deskew and crop, which a blank
// page is spared.
#include "twain/acquisition/post_process.h"

#include <cstdint>

#include "core/error_record.h"
#include "core/state_registry.h"
#include "dib/allocate.h"
#include "dib/negate.h"
#include "dib/page_analysis.h"
#include "engines/ocr_engine.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "platform/clock.h"
#include "platform/memblock.h"
#include "twain/acquisition/acquire.h"
#include "twain/capabilities/capability.h"
#include "twain/capabilities/item_values.h"
#include "twain/capabilities/switches.h"
#include "twain/session/session.h"

namespace twain {

namespace {

int elapsed_ms(std::uint32_t start) { return static_cast<int>(platform::tick_count_ms() - start); }

int current_pixel_type() {
  if (session().state < 4) return -1;
  std::uint16_t type = 0;
  return get_cap_current(ICAP_PIXELTYPE, kTyUint16, &type) ? type : -1;
}

double current_resolution(unsigned cap) {
  if (session().state < 4) return 0;
  TW_FIX32 value{};
  if (!get_cap_current(cap, kTyFix32, &value)) return 0;
  return fix32_to_double(value.Whole, value.Frac);
}

constexpr PageSteps kLibrarySteps = {dib::is_blank,        dib::auto_deskew,   dib::auto_crop,
                                     dib::auto_contrast,   engines::auto_ocr_page, current_pixel_type,
                                     current_resolution};

// Whether the block can be processed; each failed check is traced. A block
// whose rows do not fit is refused as well: every step after the checks
// reads or writes rows.
bool block_sane(dib::Handle page) {
  auto* p = static_cast<std::uint8_t*>(platform::mem_lock(page));
  if (!p) {
    LogPrint("** Lock failed!\n");
    return false;
  }
  const std::size_t size = platform::mem_size(page);
  bool sane = false;
  if (size < dib::kInfoHeaderBytes) {
    LogPrint("** GlobalSize:%d < %d!\n", static_cast<int>(size), static_cast<int>(dib::kInfoHeaderBytes));
  } else if (const dib::InfoHeader h = dib::header_read(p); h.size_image > size) {
    LogPrint("** biSizeImage:%d > GlobalSize:%d\n", static_cast<int>(h.size_image), static_cast<int>(size));
  } else {
    const bool plain = (h.compression & dib::kCompressionCodeMask) == 0;
    const std::optional<std::uint64_t> stride = dib::row_stride(h.bit_count, h.width);
    const std::uint64_t pixel_bytes = stride ? *stride * static_cast<std::uint64_t>(dib::header_rows(h)) : 0;
    const std::optional<dib::DibView> view = dib::DibView::over(p, size);
    if (plain && h.size_image != 0 && pixel_bytes > h.size_image) {
      LogPrint("** BmiImageBytes:%d > biSizeImage:%d\n", static_cast<int>(pixel_bytes),
               static_cast<int>(h.size_image));
    } else if (!view || (plain && !view->rows_ok())) {
      LogPrint("** pixel rows outside GlobalSize:%d\n", static_cast<int>(size));
    } else {
      sane = true;
    }
  }
  platform::mem_unlock(page);
  return sane;
}

// An 8-bit page: gray tables become the ascending ramp (a white-to-black
// table by inverting the pixels first); a colour table stays unless the
// device says the page is gray.
void normalise_gray_table(dib::DibView& v) {
  const std::span<dib::Rgbq> table = v.table();
  if (!table.empty() && dib::table_is_gray(table)) {
    if (table.size() == 256 && table[0].green == 255 && table[255].green == 0) dib::negate(v);
    dib::table_fill_gray(v);
    return;
  }
  LogPrint("*8-bit DIB with non-gray palette\n");
  if (page_steps().device_pixel_type() == TWPT_GRAY) dib::table_fill_gray(v);
}

// Steps 4 and 5: repairs made on the page in place.
void repair_page(dib::Handle page) {
  recover_resolution(page);
  dib::Locked lock(page);
  dib::DibView& v = lock.view();
  if (!v.rows_ok()) return;  // a compressed stream: nothing to normalise
  if (v.depth() == 1) {
    if (switches().auto_negate) auto_negate(v);
  } else if (v.depth() == 8) {
    normalise_gray_table(v);
  }
}

bool page_blank(dib::Handle page) {
  const dib::Locked lock(page);
  return page_steps().is_blank(lock.view(), switches().blank_page_threshold);
}

// Replaces `page` by the result of `step` when it makes a new image.
template <typename Step>
void replace_page(dib::Handle& page, Step&& step) {
  if (const dib::Handle next = step(page); next != 0 && next != page) {
    dib::dib_free(page);
    page = next;
  }
}

// Runs one step; a failure inside it leaves the page as it is.
template <typename Step>
void guarded(const char* name, Step&& step) {
  try {
    step();
  } catch (const std::exception& e) {
    LogPrint("** %s failed: %s\n", name, e.what());
  }
}

// Steps 9 to 12, the optional analyses of a page that is not blank.
void analyse_page(dib::Handle& page) {
  const Switches& sw = switches();
  const PageSteps& steps = page_steps();
  if (sw.auto_deskew) {
    const std::uint32_t start = platform::tick_count_ms();
    guarded("AutoDeskew", [&] { replace_page(page, steps.deskew); });
    LogPrint("AutoDeskew [%dms]\n", elapsed_ms(start));
  }
  if (sw.auto_crop != 0) {
    const std::uint32_t start = platform::tick_count_ms();
    guarded("AutoCrop", [&] {
      replace_page(page, [&](dib::Handle h) { return steps.crop(h, sw.auto_crop_options); });
    });
    LogPrint("AutoCrop [%dms]\n", elapsed_ms(start));
  }
  if (sw.auto_contrast) {
    const std::uint32_t start = platform::tick_count_ms();
    guarded("AutoContrast", [&] {
      const dib::Locked lock(page);
      steps.contrast(lock.view());
    });
    LogPrint("AutoContrast [%dms]\n", elapsed_ms(start));
  }
  if (engines::auto_ocr_on() && steps.ocr) guarded("OCR", [&] { steps.ocr(page); });
}

}  // namespace

PageSteps& page_steps() {
  static PageSteps steps = kLibrarySteps;
  return steps;
}

void page_steps_reset() { page_steps() = kLibrarySteps; }

int& blank_flag() {
  static int flag = 0;
  return flag;
}

dib::Handle PostProcessDib(dib::Handle page, const TW_IMAGEINFO*) {
  LogPrint("PostProcessDib(%08lx)\n", static_cast<unsigned long>(page));
  const std::uint32_t start = platform::tick_count_ms();
  {
    LogNest nest;
    if (!block_sane(page)) {
      RecordError(ERR_BAD_DIB, "(PostProcessDib)");
      return page;
    }
    if (LogLevel() > 0) LogDumpDib(page);
    guarded("repair", [&] { repair_page(page); });
    guarded("soft crop", [&] { page = soft_crop(page); });
    bool blank = false;
    if (switches().blank_page_mode == 1) guarded("blank check", [&] { blank = page_blank(page); });
    blank_flag() = blank ? 1 : 0;
    if (!blank) analyse_page(page);
  }
  LogPrint("PostProcessDib took [%dms]\n", elapsed_ms(start));
  return page;
}

}  // namespace twain

namespace {

// The page steps the library applies after a transfer.
const bool kPageStepsRegistered = core::register_state({"twain.page_steps", [] { twain::page_steps_reset(); }, nullptr});

// Whether the last page was blank.
const bool kBlankFlagRegistered = core::register_state({"twain.blank_flag", [] { twain::blank_flag() = 0; }, [] { twain::blank_flag() = 0; }});

}  // namespace
