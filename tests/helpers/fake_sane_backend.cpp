// A SANE backend ("fake", built as libsane-fake.so.1) with the options SANE's
// own test backend lacks: resolutions apart across and down the page
// ("x-resolution", "y-resolution"), "analog-gamma", the "page-loaded" sensor
// and a flatbed and a feeder. libsane's dll backend finds it through
// LD_LIBRARY_PATH when dll.conf names "fake". One device, "fake:0".
//
// Its pages are gray, 8 bits, every pixel round(40 x gamma): a file's gray
// level tells which gamma the device was given. The sensor reads
// FAKE_SANE_PAGE_LOADED ("0": no paper) each time it is asked; a feeder scan
// without paper answers SANE_STATUS_NO_DOCS.
#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

enum Opt { kCount, kXRes, kYRes, kTlX, kTlY, kBrX, kBrY, kGamma, kLoaded, kSource, kOptions };

const SANE_Range kDpiRange{25, 600, 0};
const SANE_Range kMmRange{0, SANE_FIX(100), 0};
const SANE_Range kGammaRange{SANE_FIX(1), SANE_FIX(4), 0};
SANE_String_Const kSources[] = {"Flatbed", "ADF", nullptr};

SANE_Option_Descriptor g_desc[kOptions];
SANE_Word g_value[kOptions];
char g_source[16] = "Flatbed";
SANE_Device g_device{"fake:0", "Fake", "Scanner", "flatbed scanner"};
const SANE_Device* g_devices[] = {&g_device, nullptr};
int g_handle;  // the one device's handle
long g_left = -1;  // bytes of the scan still to read; -1 none

SANE_Option_Descriptor number(const char* name, SANE_Value_Type type, SANE_Unit unit,
                              const SANE_Range* range) {
  SANE_Option_Descriptor d{};
  d.name = d.title = d.desc = name;
  d.type = type;
  d.unit = unit;
  d.size = sizeof(SANE_Word);
  d.cap = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
  d.constraint_type = SANE_CONSTRAINT_RANGE;
  d.constraint.range = range;
  return d;
}

bool page_loaded() {
  const char* v = std::getenv("FAKE_SANE_PAGE_LOADED");
  return v == nullptr || std::strcmp(v, "0") != 0;
}

int span(int dpi, SANE_Word from, SANE_Word to) {
  return std::max(1, static_cast<int>(dpi * (SANE_UNFIX(to) - SANE_UNFIX(from)) / 25.4));
}

}  // namespace

FAKE_EXPORT SANE_Status sane_fake_init(SANE_Int* version, SANE_Auth_Callback) {
  if (version != nullptr) *version = SANE_VERSION_CODE(1, 0, 0);
  g_desc[kCount] = number(SANE_NAME_NUM_OPTIONS, SANE_TYPE_INT, SANE_UNIT_NONE, nullptr);
  g_desc[kCount].cap = SANE_CAP_SOFT_DETECT;
  g_desc[kCount].constraint_type = SANE_CONSTRAINT_NONE;
  g_desc[kXRes] = number(SANE_NAME_SCAN_X_RESOLUTION, SANE_TYPE_INT, SANE_UNIT_DPI, &kDpiRange);
  g_desc[kYRes] = number(SANE_NAME_SCAN_Y_RESOLUTION, SANE_TYPE_INT, SANE_UNIT_DPI, &kDpiRange);
  g_desc[kTlX] = number(SANE_NAME_SCAN_TL_X, SANE_TYPE_FIXED, SANE_UNIT_MM, &kMmRange);
  g_desc[kTlY] = number(SANE_NAME_SCAN_TL_Y, SANE_TYPE_FIXED, SANE_UNIT_MM, &kMmRange);
  g_desc[kBrX] = number(SANE_NAME_SCAN_BR_X, SANE_TYPE_FIXED, SANE_UNIT_MM, &kMmRange);
  g_desc[kBrY] = number(SANE_NAME_SCAN_BR_Y, SANE_TYPE_FIXED, SANE_UNIT_MM, &kMmRange);
  g_desc[kGamma] = number(SANE_NAME_ANALOG_GAMMA, SANE_TYPE_FIXED, SANE_UNIT_NONE, &kGammaRange);
  g_desc[kLoaded] = number(SANE_NAME_PAGE_LOADED, SANE_TYPE_BOOL, SANE_UNIT_NONE, nullptr);
  g_desc[kLoaded].cap = SANE_CAP_SOFT_DETECT | SANE_CAP_HARD_SELECT;
  g_desc[kLoaded].constraint_type = SANE_CONSTRAINT_NONE;
  g_desc[kSource] = number(SANE_NAME_SCAN_SOURCE, SANE_TYPE_STRING, SANE_UNIT_NONE, nullptr);
  g_desc[kSource].size = sizeof g_source;
  g_desc[kSource].constraint_type = SANE_CONSTRAINT_STRING_LIST;
  g_desc[kSource].constraint.string_list = kSources;
  const SANE_Word initial[kOptions] = {kOptions, 100, 100, 0, 0, SANE_FIX(50), SANE_FIX(50),
                                        SANE_FIX(1), 0, 0};
  std::copy(initial, initial + kOptions, g_value);
  return SANE_STATUS_GOOD;
}

FAKE_EXPORT void sane_fake_exit(void) {}

FAKE_EXPORT SANE_Status sane_fake_get_devices(const SANE_Device*** list, SANE_Bool) {
  *list = g_devices;
  return SANE_STATUS_GOOD;
}

FAKE_EXPORT SANE_Status sane_fake_open(SANE_String_Const name, SANE_Handle* handle) {
  if (name != nullptr && *name != '\0' && std::strcmp(name, "fake:0") != 0 &&
      std::strcmp(name, "0") != 0)
    return SANE_STATUS_INVAL;
  *handle = &g_handle;
  return SANE_STATUS_GOOD;
}

FAKE_EXPORT void sane_fake_close(SANE_Handle) { g_left = -1; }

FAKE_EXPORT const SANE_Option_Descriptor* sane_fake_get_option_descriptor(SANE_Handle, SANE_Int n) {
  return n >= 0 && n < kOptions ? &g_desc[n] : nullptr;
}

FAKE_EXPORT SANE_Status sane_fake_control_option(SANE_Handle, SANE_Int n, SANE_Action action,
                                                 void* value, SANE_Int* info) {
  if (info != nullptr) *info = 0;
  if (n < 0 || n >= kOptions || value == nullptr) return SANE_STATUS_INVAL;
  if (n == kLoaded) g_value[kLoaded] = page_loaded() ? SANE_TRUE : SANE_FALSE;
  if (action == SANE_ACTION_GET_VALUE) {
    if (n == kSource) {
      std::strcpy(static_cast<char*>(value), g_source);
    } else {
      *static_cast<SANE_Word*>(value) = g_value[n];
    }
    return SANE_STATUS_GOOD;
  }
  if (action != SANE_ACTION_SET_VALUE || !SANE_OPTION_IS_SETTABLE(g_desc[n].cap))
    return SANE_STATUS_INVAL;
  if (n == kSource) {
    const char* s = static_cast<const char*>(value);
    if (std::strcmp(s, "Flatbed") != 0 && std::strcmp(s, "ADF") != 0) return SANE_STATUS_INVAL;
    std::strcpy(g_source, s);
    return SANE_STATUS_GOOD;
  }
  const SANE_Word w = *static_cast<SANE_Word*>(value);
  const SANE_Range* r = g_desc[n].constraint.range;
  if (r != nullptr && (w < r->min || w > r->max)) return SANE_STATUS_INVAL;
  g_value[n] = w;
  return SANE_STATUS_GOOD;
}

FAKE_EXPORT SANE_Status sane_fake_get_parameters(SANE_Handle, SANE_Parameters* p) {
  p->format = SANE_FRAME_GRAY;
  p->last_frame = SANE_TRUE;
  p->depth = 8;
  p->pixels_per_line = span(g_value[kXRes], g_value[kTlX], g_value[kBrX]);
  p->lines = span(g_value[kYRes], g_value[kTlY], g_value[kBrY]);
  p->bytes_per_line = p->pixels_per_line;
  return SANE_STATUS_GOOD;
}

FAKE_EXPORT SANE_Status sane_fake_start(SANE_Handle h) {
  if (std::strcmp(g_source, "ADF") == 0 && !page_loaded()) return SANE_STATUS_NO_DOCS;
  SANE_Parameters p{};
  sane_fake_get_parameters(h, &p);
  g_left = static_cast<long>(p.bytes_per_line) * p.lines;
  return SANE_STATUS_GOOD;
}

FAKE_EXPORT SANE_Status sane_fake_read(SANE_Handle, SANE_Byte* data, SANE_Int max, SANE_Int* length) {
  *length = 0;
  if (g_left < 0) return SANE_STATUS_INVAL;
  if (g_left == 0) return SANE_STATUS_EOF;
  const long n = std::min<long>(max, g_left);
  const long level = std::lround(40 * SANE_UNFIX(g_value[kGamma]));
  std::memset(data, static_cast<int>(std::min(255L, level)), static_cast<std::size_t>(n));
  g_left -= n;
  *length = static_cast<SANE_Int>(n);
  return SANE_STATUS_GOOD;
}

FAKE_EXPORT void sane_fake_cancel(SANE_Handle) { g_left = -1; }

FAKE_EXPORT SANE_Status sane_fake_set_io_mode(SANE_Handle, SANE_Bool non_blocking) {
  return non_blocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

FAKE_EXPORT SANE_Status sane_fake_get_select_fd(SANE_Handle, SANE_Int*) {
  return SANE_STATUS_UNSUPPORTED;
}
