// Opening the device and applying the command line's settings to it.
#include "app/device.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain.h"
#include "orivane/twain_capability.h"
#include "orivane/twain_container.h"
#include "orivane/twain_manager.h"
#include "orivane/twain_session.h"
#include "orivane/twain_settings.h"
#include "orivane/twain_sources.h"
#include "orivane/twain_switches.h"
#include "twain/session/sources.h"

namespace {

constexpr std::size_t kSearchNameMax = 128;
constexpr std::size_t kCandidateMax = 64;
constexpr int kStateSourceOpen = 4;

std::string upper(std::string text, std::size_t max) {
  if (text.size() > max) text.resize(max);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string formatted(const char* format, const std::string& arg) {
  char out[512];
  std::snprintf(out, sizeof out, format, arg.c_str());
  return out;
}

bool source_open() { return TWAIN_State() >= kStateSourceOpen; }

// Shows a refusal with the library's account of it. A device that just says
// no leaves nothing recorded; the message is shown all the same, so that no
// refusal goes unexplained.
void show_failure(const std::string& message) {
  if (TWAIN_LastErrorCode() != 0) {
    show_library_failure(message.c_str());
  } else {
    show_failure_box(message.c_str());
  }
}

struct Matches {
  int ordinary = 0;
  int wia = 0;
  TW_IDENTITY ordinary_choice{};
  TW_IDENTITY wia_choice{};
  std::vector<std::string> names;       // every device listed
  std::vector<std::string> candidates;  // those the search matched
};

std::string product_name(const TW_IDENTITY& id) {
  return std::string(id.ProductName, strnlen(id.ProductName, sizeof id.ProductName));
}

std::string listed(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

// For the person at the terminal: what to do next, on standard error and in
// the trace, beside the message the failure has always shown.
void hint(const std::string& text) {
  LogPrint("[Quillet] hint: %s\n", text.c_str());
  std::fprintf(stderr, "quillet: %s\n", text.c_str());
  std::fflush(stderr);
}

constexpr const char* kNoScannerHint = "no scanner found: run quillet /ENUM, check QUILLET_TWAIN_PATH";

// Walks the device list; an exact match ends the walk as the only choice.
Matches match_devices(const std::string& search) {
  Matches m;
  TW_IDENTITY identity{};
  unsigned msg = MSG_GETFIRST;
  while (true) {
    std::memset(&identity, 0, sizeof identity);
    // The gate ends the product name inside its field, whatever the driver wrote.
    if (!TWAIN_Mgr(DG_CONTROL, DAT_IDENTITY, msg, &identity)) break;
    msg = MSG_GETNEXT;
    m.names.push_back(product_name(identity));
    const std::string candidate = upper(m.names.back(), kCandidateMax);
    if (candidate == search) {
      // An exact match wins over every partial one seen before it.
      m.ordinary = 1;
      m.wia = 0;
      m.ordinary_choice = identity;
      break;
    }
    if (candidate.find(search) == std::string::npos) continue;
    m.candidates.push_back(m.names.back());
    if (candidate.rfind("WIA-", 0) == 0) {
      ++m.wia;
      m.wia_choice = identity;
    } else {
      ++m.ordinary;
      m.ordinary_choice = identity;
    }
  }
  return m;
}

// How many devices the Source Manager lists; 0 when it is not there.
int count_devices() {
  if (TWAIN_State() < 3) return 0;
  int n = 0;
  TW_IDENTITY identity{};
  for (unsigned msg = MSG_GETFIRST; TWAIN_Mgr(DG_CONTROL, DAT_IDENTITY, msg, &identity); msg = MSG_GETNEXT) ++n;
  return n;
}

// ---- settings --------------------------------------------------------------

constexpr int default_depth(int pixel_type) {
  switch (pixel_type) {
    case TWPT_BW: return 1;
    case TWPT_GRAY: return 8;
    case TWPT_RGB: return 24;
    case TWPT_PALETTE: return 8;
    case TWPT_CMY: return 24;
    case TWPT_CMYK: return 32;
    default: return 0;
  }
}

// A device that refuses 24 or 32 bits is asked for 8 bits per channel.
bool set_depth_with_fallback(int depth) {
  while (TWAIN_GetBitDepth() != depth) {
    if (TWAIN_SetBitDepth(depth)) return true;
    if (depth != 24 && depth != 32) return false;
    depth = 8;
  }
  return true;
}

bool negotiate_pixel_types(int mask) {
  int count = 0, highest = -1;
  for (int t = 0; t <= 30; ++t) {
    if ((mask >> t) & 1) {
      ++count;
      highest = t;
    }
  }
  if (count == 0) {
    show_failure_box("Quillet Internal Error #703.  Please report to vendor.");
    return false;
  }
  CONTAINER c = CONTAINER_Enumeration(TWTY_UINT16, count);
  int index = 0;
  for (int t = 0; t <= 30; ++t) {
    if (!((mask >> t) & 1)) continue;
    CONTAINER_SetItem(c, index++, t);
    TWAIN_SetPixelType(t);
    set_depth_with_fallback(default_depth(t));
  }
  CONTAINER_SetCurrentIndex(c, count - 1);
  bool ok = TWAIN_Set(ICAP_PIXELTYPE, c) != 0;
  if (ok) {
    set_depth_with_fallback(default_depth(highest));
  } else if (count == 1) {
    ok = TWAIN_SetPixelType(highest) != 0;
    if (ok) set_depth_with_fallback(default_depth(highest));
  }
  CONTAINER_Free(c);
  return ok;
}

bool fail(const std::string& message) {
  show_failure(message);
  return false;
}

// A refusal the run goes on after: shown, but not the run's failure.
void warn(const std::string& message) {
  if (TWAIN_LastErrorCode() != 0) {
    TWAIN_ReportLastError(message.c_str());
  } else {
    TWAIN_ErrorBox(message.c_str());
  }
}

template <typename... Args>
std::string printf_text(const char* format, Args... args) {
  char out[512];
  std::snprintf(out, sizeof out, format, args...);
  return out;
}

bool apply_transfer_count(ScanRequest& r) {
  if (r.in_server) {
    TWAIN_SetMultiTransfer(1);
    TWAIN_NegotiateXferCount(-1);
    return true;
  }
  TWAIN_SetMultiTransfer(r.page_count != 0);
  if (r.page_count != 0) TWAIN_NegotiateXferCount(r.page_count);
  if (r.page_count == 1) {
    // A single page is scanned one-sided.
    r.duplex = false;
    r.simplex = true;
  }
  return true;
}

bool apply_format(ScanRequest& r) {
  if (r.units_needed && r.units != TWAIN_GetCurrentUnits() && !TWAIN_SetCurrentUnits(r.units))
    return fail("Device declined to select Units:" + r.units_switch);
  if (r.pixel_types != 0 && !negotiate_pixel_types(r.pixel_types))
    return fail("Device declined to program:" + r.pixel_switches);
  if (r.bit_depth >= 1 && !set_depth_with_fallback(r.bit_depth))
    return fail(printf_text("/D=%d rejected by device", r.bit_depth));
  if (r.deep) {
    if (TWAIN_GetPixelType() == TWPT_GRAY) {
      if (!set_depth_with_fallback(16)) return fail("Device declined to set 16-bit depth");
    } else if (!set_depth_with_fallback(16) && !set_depth_with_fallback(48)) {
      return fail("/DEEP rejected by device");
    }
  }
  return true;
}

bool apply_paper_path(ScanRequest& r) {
  if ((r.transparency || r.reflective) && !TWAIN_SetLightPath(r.transparency))
    return fail("Device declined to select Light Path.");
  if (r.feeder != -1 && !TWAIN_SelectFeeder(r.feeder))
    return fail(r.feeder ? "Device declined to select Feeder." : "Device declined to select flatbed.");
  if (r.undefined_size) TWAIN_SetCapBool(ICAP_UNDEFINEDIMAGESIZE, 1);
  if (r.duplex || r.simplex) {
    if (!TWAIN_EnableDuplex(r.duplex) && r.duplex) warn("Device refused duplex setting.");
  } else if (r.hide_ui) {
    TWAIN_EnableDuplex(0);
  }
  if (r.auto_feed != -1 && !TWAIN_SetAutoFeed(r.auto_feed) && r.feeder == -1)
    warn(printf_text("Unable to set AutoFeed=%d.", r.auto_feed));
  if (!r.in_server && r.page_count != -1) {
    TWAIN_SetAutoScan(0);
  } else if (r.auto_feed != 0 && TWAIN_IsFeederSelected()) {
    TWAIN_SetAutoScan(1);
  }
  return true;
}

bool apply_image_controls(ScanRequest& r) {
  if (r.resolution != 0 && !TWAIN_SetResolution(r.resolution))
    return fail(printf_text("Unable to set resolution to %3.1f", r.resolution));
  if (r.gamma > 0 && !TWAIN_SetGamma(r.gamma))
    return fail(printf_text("Unable to set Gamma to %3.2f.", r.gamma));
  if (r.auto_bright != -1 && !TWAIN_SetAutoBright(r.auto_bright > 0))
    return fail("Unable to set: AutoBright.");
  if (r.shadow >= 0 && !TWAIN_SetShadow(r.shadow)) return fail("Unable to set ICAP_SHADOW.");
  if (r.highlight >= 0 && !TWAIN_SetHighlight(r.highlight)) return fail("Unable to set ICAP_HIGHLIGHT.");
  if (r.brightness != 0 && !TWAIN_SetBrightness(r.brightness))
    return fail(printf_text("Unable to set Brightness to %3.0f", r.brightness));
  if (r.contrast != 0 && !TWAIN_SetContrast(r.contrast))
    return fail(printf_text("Unable to set Contrast to %3.0f", r.contrast));
  if (r.threshold != 0 && !TWAIN_SetThreshold(r.threshold))
    return fail(printf_text("Unable to set Threshold to %3.0f", r.threshold));
  return true;
}

bool apply_area(ScanRequest& r) {
  if (r.paper_size != 0 && !TWAIN_SetPaperSize(r.paper_size))
    return fail(printf_text("Unable to set Paper Size to %d", r.paper_size));
  if (r.width != 0 || r.height != 0) {
    r.right = r.left + r.width;
    r.bottom = r.top + r.height;
  }
  if (r.right != 0 || r.bottom != 0 || r.left != 0 || r.top != 0) {
    if (r.right - r.left <= 0) {
      show_failure_box("Image Layout: Please specify width > 0");
      return false;
    }
    if (r.bottom - r.top <= 0) {
      show_failure_box("Image Layout: Please specify height > 0");
      return false;
    }
    TWAIN_SetRegion(r.left, r.top, r.right, r.bottom);
  } else if (r.paper_size == 0) {
    // The device scans its full default area.
    TWAIN_ResetImageLayout();
    TWAIN_Reset(ICAP_FRAMES);
  }
  return true;
}

bool apply_custom_capability(ScanRequest& r) {
  if (r.custom_cap == 0) return true;
  const char* text = r.custom_value.c_str();
  char* end = nullptr;
  const double number = std::strtod(text, &end);
  const bool is_number = end != text && *end == '\0';
  const int ok = is_number ? TWAIN_SetCapability(r.custom_cap, number)
                           : TWAIN_SetCapString(r.custom_cap, text);
  if (ok) return true;
  char message[512];
  std::snprintf(message, sizeof message, "Setting capability 0x%04x=%s failed.", r.custom_cap, text);
  show_failure_box(message);
  return false;
}

}  // namespace

bool OpenDevice(ScanRequest& r, std::uintptr_t owner) {
  if (source_open()) return true;
  if (r.device_name.empty()) {
    TWAIN_OpenDefaultSource();
    if (!source_open() && count_devices() == 0) hint(kNoScannerHint);
    return source_open();
  }
  if (!TWAIN_OpenSourceManager(owner)) {
    show_library_failure("Unable to open TWAIN Source Manager");
    return false;
  }
  const Matches m = match_devices(upper(r.device_name, kSearchNameMax));
  if (m.ordinary > 1 || m.wia > 1) {
    const std::string message = formatted("Multiple TWAIN devices match '%s'", r.device_name);
    // The report names them, so that a script's author can pick one.
    note_failure(message + ": " + listed(m.candidates));
    show_failure_box(message.c_str());
    hint("devices matching '" + r.device_name + "': " + listed(m.candidates) + "; name one exactly with /S=");
    return false;
  }
  if (m.ordinary == 0 && m.wia == 0) {
    show_failure_box(formatted("No TWAIN device matches '%s'", r.device_name).c_str());
    hint(m.names.empty() ? std::string(kNoScannerHint)
                         : "the devices are: " + listed(m.names) + " (quillet /ENUM lists them)");
    return false;
  }
  TW_IDENTITY chosen = m.ordinary ? m.ordinary_choice : m.wia_choice;
  const std::string failed = formatted("Unable to open device '%s'", r.device_name);
  if (!TWAIN_Mgr(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &chosen)) {
    show_library_failure(failed.c_str());
    return source_open();
  }
  // What the library was asked for before any device was open (its settings
  // file, for one) applies to this device as it does to the default one.
  if (!twain::apply_settings_after_open()) {
    show_failure(failed);
    TWAIN_CloseSource();
  }
  return source_open();
}

bool ApplySettings(ScanRequest& r) {
  if (TWAIN_State() != kStateSourceOpen) return true;
  TWAIN_SetHideUI(r.hide_ui);
  TWAIN_SetIndicators(!r.no_indicators);
  TWAIN_SetAutoDeskew(r.deskew);
  TWAIN_SetAutoCrop(r.auto_crop);
  return apply_transfer_count(r) && apply_format(r) && apply_paper_path(r) &&
         apply_image_controls(r) && apply_area(r) && apply_custom_capability(r);
}
