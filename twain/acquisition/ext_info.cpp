// The extended-information request table, its retrieval after each transfer
// and the public TWAIN_ operations over it.
#include "twain/acquisition/ext_info.h"

#include <cmath>
#include <limits>

#include "core/error_record.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_capability.h"
#include "orivane/twain_extinfo.h"
#include "platform/memblock.h"
#include "twain/acquisition/acquire.h"
#include "twain/session/dsm.h"
#include "twain/session/memory.h"
#include "twain/session/session.h"

namespace twain {

namespace {

struct ExtInfoState {
  ExtInfoTable table;
  char text[kExtInfoTextBytes] = {};
};

ExtInfoState& state() {
  static ExtInfoState s;
  return s;
}

unsigned long code_arg(unsigned code) { return static_cast<unsigned long>(code); }

// Whether `block` may be released: a block of this program must still be
// live (a device may leave a stale or foreign value in an unanswered entry).
bool answer_block_valid(TW_HANDLE block) {
  if (!block) return false;
  const Session& s = session();
  if (!s.dsm_memory.DSM_MemLock || s.dsm_memory_shared)
    return platform::mem_is_valid(reinterpret_cast<platform::MemHandle>(block));
  return true;
}

}  // namespace

ExtInfoTable& ext_info_table() { return state().table; }
char* ext_info_text_buffer() { return state().text; }

TW_EXTIMAGEINFO* ext_info_request() {
  return reinterpret_cast<TW_EXTIMAGEINFO*>(&ext_info_table());
}

TW_INFO* ext_info_find(unsigned code) {
  if (code == 0) return nullptr;
  ExtInfoTable& t = ext_info_table();
  for (TW_UINT32 k = 0; k < t.NumInfos && k < kExtInfoMaxEntries; ++k) {
    if (t.Info[k].InfoID == code) return &t.Info[k];
  }
  return nullptr;
}

bool ext_info_enable(unsigned code, bool on) {
  TW_INFO* found = ext_info_find(code);
  if (!on) {
    if (!found) return false;
    found->InfoID = 0;
    return true;
  }
  if (found) return true;
  ExtInfoTable& t = ext_info_table();
  TW_UINT32 slot = 0;
  while (slot < t.NumInfos && slot < kExtInfoMaxEntries && t.Info[slot].InfoID != 0) ++slot;
  if (slot >= kExtInfoMaxEntries) {
    RecordError(ERR_FAILURE, "too many x-infos enabled");
    return false;
  }
  // A reused entry may still hold the answer of the code that left it.
  TW_INFO& entry = t.Info[slot];
  if (ext_info_in_block(entry) && answer_block_valid(reinterpret_cast<TW_HANDLE>(entry.Item)))
    block_free(reinterpret_cast<TW_HANDLE>(entry.Item));
  entry = TW_INFO{};
  entry.InfoID = static_cast<TW_UINT16>(code);
  if (slot + 1 > t.NumInfos) t.NumInfos = slot + 1;
  return true;
}

void ext_info_release_answers() {
  ExtInfoTable& t = ext_info_table();
  for (TW_INFO& entry : t.Info) {
    const auto block = reinterpret_cast<TW_HANDLE>(entry.Item);
    if (ext_info_in_block(entry) && answer_block_valid(block)) block_free(block);
    entry.Item = 0;
    entry.NumItems = 0;
  }
}

void ext_info_reset() {
  ext_info_release_answers();
  state() = ExtInfoState{};
}

int RetrieveExtendedImageInfo() {
  LogNewLine();
  LogPrint("RetrieveExtendedImageInfo");
  ExtInfoTable& t = ext_info_table();
  if (t.NumInfos == 0) {
    LogPrint(" - nothing to do\n");
    return 0;
  }
  LogPrint("\n");
  ext_info_release_answers();
  return ds_call(DG_IMAGE, DAT_EXTIMAGEINFO, MSG_GET, ext_info_request());
}

}  // namespace twain

using twain::code_arg;

int TWAIN_EnableExtendedInfo(unsigned code, int flag) {
  LogApiCall("EnableExtendedInfo(0x%08lx, %d)\n", code_arg(code), flag);
  return twain::ext_info_enable(code, flag != 0) ? 1 : 0;
}

int TWAIN_IsExtInfoEnabled(unsigned code) {
  LogApiCall("IsExtInfoEnabled(0x%08lx) ", code_arg(code));
  const int enabled = twain::ext_info_find(code) ? 1 : 0;
  LogPrint("=> %d\n", enabled);
  return enabled;
}

void TWAIN_DisableExtendedInfo(void) {
  LogApiCall("DisableExtendedInfo\n");
  twain::ext_info_release_answers();
}

int TWAIN_IsExtendedInfoSupported(void) {
  LogApiCall("IsExtendedInfoSupported ");
  TWAIN_SetCapOneValue(ICAP_EXTIMAGEINFO, TWTY_BOOL, 1);
  const int supported = TWAIN_GetCapBool(ICAP_EXTIMAGEINFO, 0) ? 1 : 0;
  LogPrint("=> %d\n", supported);
  return supported;
}

int TWAIN_ExtendedInfoItemCount(unsigned code) {
  const TW_INFO* info = twain::ext_info_find(code);
  return info ? info->NumItems : 0;
}

int TWAIN_ExtendedInfoItemType(unsigned code) {
  const TW_INFO* info = twain::ext_info_find(code);
  return info ? info->ItemType : -1;
}

int TWAIN_ExtendedInfoInt(unsigned code, int index) {
  const std::optional<double> value = twain::ext_info_number(code, index);
  int result = -1;
  if (value) {
    // Truncated like the real it came from; a UINT32 beyond the int range
    // is held at its end rather than wrapped.
    const double t = std::trunc(*value);
    if (t >= static_cast<double>(std::numeric_limits<int>::max())) {
      result = std::numeric_limits<int>::max();
    } else if (t <= static_cast<double>(std::numeric_limits<int>::min())) {
      result = std::numeric_limits<int>::min();
    } else {
      result = static_cast<int>(t);
    }
  }
  LogApiCall("ExtendedInfoInt(0x%08lx,%d) => %d\n", code_arg(code), index, result);
  return result;
}

double TWAIN_ExtendedInfoFloat(unsigned code, int index) {
  const double result = twain::ext_info_number(code, index).value_or(-1);
  LogApiCall("ExtendedInfoFloat(0x%08lx,%d) => %g\n", code_arg(code), index, result);
  return result;
}

const char* TWAIN_ExtendedInfoString(unsigned code, int index) {
  LogApiCall("ExtendedInfoString(0x%08lx, %d) ", code_arg(code), index);
  char* text = twain::ext_info_text_buffer();
  twain::ext_info_text(code, index, text, twain::kExtInfoTextBytes);
  return text;
}

int TWAIN_GetExtendedInfoString(unsigned code, int index, char* buffer, int buffer_size) {
  LogApiCall("GetExtendedInfoString(0x%08lx, %d...) ", code_arg(code), index);
  if (!buffer) {
    LogPrint("\n");
    RecordError(ERR_BAD_PARAMETER, "TWAIN_GetExtendedInfoString:NULL buffer");
    return 0;
  }
  // Not even the terminating zero would fit.
  if (buffer_size <= 0) {
    LogPrint("\n");
    RecordError(ERR_BAD_PARAMETER, "TWAIN_GetExtendedInfoString:buffer size");
    return 0;
  }
  return twain::ext_info_text(code, index, buffer, static_cast<std::size_t>(buffer_size)) ? 1 : 0;
}

int TWAIN_ExtendedInfoFrame(unsigned code, int index, double* left, double* top, double* right,
                            double* bottom) {
  const std::optional<twain::ExtInfoFrame> frame = twain::ext_info_frame(code, index);
  LogApiCall("ExtendedInfoFrame(0x%08lx, %d) => %d\n", code_arg(code), index, frame ? 1 : 0);
  if (!frame) return 0;
  if (left) *left = frame->left;
  if (top) *top = frame->top;
  if (right) *right = frame->right;
  if (bottom) *bottom = frame->bottom;
  return 1;
}

namespace {

// The extended image information asked for and answered.
const bool kExtInfoRegistered = core::register_state({"twain.ext_info", [] { twain::ext_info_reset(); }, nullptr});

}  // namespace
