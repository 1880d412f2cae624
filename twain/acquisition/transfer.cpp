// Transferring the image the source has ready (native, file or memory, by
// the current transfer mechanism) and the whole acquisitions built on it.
#include "twain/acquisition/acquire.h"

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/error_record.h"
#include "dib/live_count.h"
#include "fileio/file_state.h"
#include "fileio/options.h"
#include "fileio/write_support.h"
#include "log/trace.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/twain_manager.h"
#include "orivane/twain_session.h"
#include "orivane/twain_settings.h"
#include "platform/clipboard.h"
#include "platform/memblock.h"
#include "twain/capabilities/deferred.h"
#include "twain/capabilities/switches.h"
#include "twain/session/dsm.h"
#include "twain/session/error_note.h"
#include "twain/session/gate.h"
#include "twain/session/session.h"

namespace twain {
namespace {

// Longest name the user picks in the save dialog.
constexpr std::size_t kMaxPath = 260;
// Longest full path of a file transfer target: the system's own limit, since
// the device itself writes a shorter temporary name beside the target.
constexpr std::size_t kMaxTargetPath = PATH_MAX - 1;
// Longest file name the source is given (TW_STR255 less its terminator).
constexpr std::size_t kMaxSetupName = 255;

int state() { return session().state; }

// One file transfer into `path`. The device writes a temporary file of
// ours beside it, so the name changes only once a whole page is there
// (the name the device is given must fit its 255 characters). 1 when the
// page is in place, else 0 (recorded).
int acquire_into(platform::WindowHandle w, const std::string& path, int format) {
  Acquisition& a = acquisition();
  fileio::AtomicOutput out(path, "", kMaxSetupName);
  if (out.status() != 0) {
    fileio::output_refused(out.status(), path.c_str());
    return 0;
  }
  a.file_name = out.temp_path();
  a.file_format = format;
  a.file_written = false;
  if (TWAIN_SetXferMech(TWSX_FILE)) {
    if (TWAIN_PreAcquire(w)) {
      TWAIN_WaitForXfer(w);
      if (session().state == 6) transfer_ready_image();
    }
    TWAIN_PostAcquire();
  }
  a.file_name = path;
  if (!a.file_written) return 0;
  if (out.commit(fileio::output_settings().replace_existing) != 0) {
    RecordError(ERR_FILE_WRITE, path.c_str());
    return 0;
  }
  fileio::file_state().last_output = out.final_path();
  return 1;
}


// The window the operations go on with: a dead handle is reported once here
// and the proxy window stands in (0 tells the callee to use it).
platform::WindowHandle check_window(platform::WindowHandle window) {
  parent_window_check(window);
  return platform::window_is_valid(window) ? window : 0;
}

int current_mechanism() {
  const int mech = deferred().current_xfer_mech;
  return mech >= 0 ? mech : TWAIN_XferMech();
}

void transfer_native() {
  Acquisition& a = acquisition();
  LogFlush();
  if (a.pending_dib != 0) {
    // Nobody collected the last image (an application's own message loop
    // saw two transfers): it is released rather than lost.
    LogPrint("** uncollected DIB 0x%08lx released\n", static_cast<unsigned long>(a.pending_dib));
    DibFree(a.pending_dib);
    a.pending_dib = 0;
  }
  TW_HANDLE handle = nullptr;
  core::transfer_error_forget();
  const bool transferred = ds_call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle) != 0;
  if (transferred && handle != nullptr && !native_handle_is_block(handle)) {
    // Memory the source allocated some other way (calloc, say) is no image
    // of ours: it cannot be read safely, sized or freed, so it is refused.
    LogPrint("** native transfer handle %p is not a memory block\n", handle);
    a.pending_dib = 0;
    RecordError(ERR_BAD_DIB, "(DAT_IMAGENATIVEXFER)");
  } else if (transferred && handle != nullptr) {
    a.pending_dib = reinterpret_cast<dib::Handle>(handle);
    RetrieveExtendedImageInfo();
    a.pending_dib = PostProcessDib(a.pending_dib, nullptr);
  } else {
    a.pending_dib = 0;
    ReportTransferFailure();
  }
}

void transfer_file() {
  Acquisition& a = acquisition();
  TW_SETUPFILEXFER setup{};
  std::strncpy(setup.FileName, a.file_name.c_str(), kMaxSetupName);
  setup.Format = static_cast<TW_UINT16>(a.file_format);
  core::transfer_error_forget();
  if (ds_call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup) &&
      ds_call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr)) {
    a.file_written = true;
    RetrieveExtendedImageInfo();
  } else if (session().last_condition_code == TWCC_FILEWRITEERROR) {
    // The device could not write the page (a full disk, say): a write
    // failure of the file, not of the device.
    core::transfer_error_clear();
    RecordError(ERR_FILE_WRITE, fileio::file_state().last_output.c_str());
  } else {
    ReportTransferFailure();
  }
}

void transfer_memory() {
  Acquisition& a = acquisition();
  const TWAIN_MEMORY_CALLBACK callback = a.memory_callback ? a.memory_callback : &MemoryXferHandler;
  core::transfer_error_forget();
  a.memory_result = callback(a.memory_value);
  a.memory_callback = nullptr;
  if (a.memory_result == 0) ReportTransferFailure();
}

// True when `address` lies in an executable mapping of this process.
bool is_executable(const void* address) {
  std::ifstream maps("/proc/self/maps");
  const auto target = reinterpret_cast<std::uintptr_t>(address);
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::uintptr_t low = 0, high = 0;
    char dash = 0;
    std::string permissions;
    fields >> std::hex >> low >> dash >> high >> permissions;
    if (!fields || dash != '-') continue;
    if (target >= low && target < high) return permissions.size() > 2 && permissions[2] == 'x';
  }
  return false;
}

// The full path of a file-transfer target, or "" when it would be too long.
std::string full_path(const std::string& name) {
  std::string path = name;
  if (path.front() != '/') {
    std::vector<char> cwd(PATH_MAX);
    if (getcwd(cwd.data(), cwd.size()) == nullptr) return "";
    path = std::string(cwd.data()) + "/" + name;
  }
  return path.size() <= kMaxTargetPath ? path : "";
}

// Where the source is to write: the given name, or the one the user picks.
// False when there is none.
bool choose_target(const char* name, int* format, std::string* out_path) {
  if (name != nullptr && name[0] != '\0') {
    *out_path = full_path(name);
    if (out_path->empty()) {
      RecordError(ERR_BAD_FILENAME, name);
      return false;
    }
    return true;
  }
  char buffer[kMaxPath + 1] = {};
  int chosen = *format == FF_PDF ? FF_PDF : *format;
  if (!PromptForSaveName(buffer, &chosen, 0)) return false;
  *format = chosen;
  *out_path = buffer;
  return true;
}

}  // namespace

void transfer_ready_image() {
  if (state() != 6) return;
  switch (current_mechanism()) {
    case TWSX_NATIVE: transfer_native(); break;
    case TWSX_FILE: transfer_file(); break;
    case TWSX_MEMORY: transfer_memory(); break;
    default:
      LogPrint("** no transfer for mechanism %d\n", current_mechanism());
      break;
  }
  end_transfer();
}

void end_transfer() {
  Session& s = session();
  s.transfer_ended = true;
  if (s.state == 7) {
    TW_PENDINGXFERS pending{};
    ds_call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
  }
  // One device ends its job without being told when its dialog is hidden.
  if (s.state == 5 && switches().hide_ui &&
      s.source_product.find("Canon DR-20") != std::string::npos) {
    LogPrint("#Hack[Canon DR-20xx] end of job, no UI, force Disable.\n");
    TWAIN_DisableSource();
  }
}

}  // namespace twain

using twain::acquisition;
using twain::session;

uintptr_t TWAIN_WaitForNativeXfer(uintptr_t window) {
  LogApiCall("WaitForNativeXfer ");
  LogNest nest;
  twain::Acquisition& a = acquisition();
  if (a.pending_dib != 0) {
    LogPrint("DIB already waiting.\n");
  } else if (session().state < 4) {
    LogPrint("**Internal Error: WaitForNativeXfer called in state < 4.\n");
  } else {
    LogNewLine();
    TWAIN_WaitForXfer(window);
    if (session().state == 6) twain::transfer_ready_image();
  }
  const uintptr_t dib = a.pending_dib;
  a.pending_dib = 0;
  return dib;
}

uintptr_t TWAIN_AcquireNative(uintptr_t window, unsigned pixel_types) {
  LogApiCall("AcquireNative(0x%08lx, 0x%04x)\n", static_cast<unsigned long>(window), pixel_types);
  LogNest nest;
  if (pixel_types != 0) twain::deferred().pixel_mask = static_cast<int>(pixel_types);
  const platform::WindowHandle w = twain::check_window(window);
  uintptr_t dib = 0;
  if (TWAIN_PreAcquire(w)) dib = TWAIN_WaitForNativeXfer(w);
  TWAIN_PostAcquire();
  return dib;
}

uintptr_t TWAIN_Acquire(uintptr_t window) {
  LogApiCall("Acquire(0x%08lx)\n", static_cast<unsigned long>(window));
  LogNest nest;
  const platform::WindowHandle w = twain::check_window(window);
  uintptr_t dib = 0;
  if (TWAIN_PreAcquire(w)) dib = TWAIN_WaitForNativeXfer(w);
  TWAIN_PostAcquire();
  return dib;
}

int TWAIN_AcquireToClipboard(uintptr_t window, unsigned pixel_types) {
  LogApiCall("AcquireToClipboard\n");
  int result = 0;
  {
    LogNest nest;
    const uintptr_t dib = TWAIN_AcquireNative(window, pixel_types);
    if (dib != 0) {
      // The clipboard keeps its own copy, so the image is released either way.
      const void* bytes = platform::mem_lock(dib);
      if (bytes != nullptr) {
        result = platform::clipboard_set_dib(bytes, platform::mem_size(dib)) ? 1 : 0;
        platform::mem_unlock(dib);
      }
      DibFree(dib);
    }
  }
  LogPrint("AcquireToClipboard() => %d\n", result);
  return result;
}

int TWAIN_AcquireToFilename(uintptr_t window, const char* file_name) {
  LogApiCall("AcquireToFilename...\n");
  int result = -1;
  {
    LogNest nest;
    const uintptr_t dib = TWAIN_Acquire(window);
    if (dib != 0) {
      const int old = TWAIN_SuppressErrorMessages(1);
      result = DIB_WriteToFilename(dib, file_name);
      TWAIN_SuppressErrorMessages(old);
      DibFree(dib);
      if (result == -1) result = -10;
    }
  }
  LogPrint("AcquireToFilename => %d\n", result);
  return result;
}

int TWAIN_AcquireFile(uintptr_t window, int format, const char* file_name) {
  LogApiCall("AcquireFile(0x%08lx, %d, \"%s\")...\n", static_cast<unsigned long>(window), format,
             file_name ? file_name : "");
  int result = 0;
  {
    LogNest nest;
    const platform::WindowHandle w = twain::check_window(window);
    std::string path;
    if (twain::choose_target(file_name, &format, &path)) {
      fileio::file_state().last_output = path;
      if (format == FF_PDF) {
        LogPrint("Mapping Orivane PDF(%d) to TWAIN PDF(%d)\n", FF_PDF, TWFF_PDF);
        format = TWFF_PDF;
      }
      result = twain::acquire_into(w, path, format);
    }
  }
  LogPrint("AcquireFile() => %d\n", result);
  return result;
}

int TWAIN_AcquireMemoryCallback(uintptr_t window, TWAIN_MEMORY_CALLBACK callback,
                                intptr_t value) {
  LogApiCall("AcquireMemoryCallback\n");
  LogNest nest;
  if (callback == nullptr || !twain::is_executable(reinterpret_cast<const void*>(callback))) {
    ReportUrgentError(ERR_BAD_PARAMETER, "TWAIN_AcquireMemoryCallback-cb");
    return 0;
  }
  twain::Acquisition& a = acquisition();
  TWAIN_SetXferMech(TWSX_MEMORY);
  a.memory_callback = callback;
  a.memory_value = value;
  a.memory_result = 0;
  const platform::WindowHandle w = twain::check_window(window);
  if (TWAIN_PreAcquire(w)) {
    // The callback keeps what it fetched; a DIB here would be nobody's.
    const uintptr_t stray = TWAIN_WaitForNativeXfer(w);
    if (stray != 0) DibFree(stray);
  }
  TWAIN_PostAcquire();
  a.memory_callback = nullptr;
  return a.memory_result;
}

int TWAIN_WaitForImage(uintptr_t window) {
  LogApiCall("WaitForImage(0x%08lx)\n", static_cast<unsigned long>(window));
  LogNest nest;
  twain::Session& s = session();
  const int noted = s.state;
  const platform::WindowHandle w = twain::check_window(window);
  if (s.state >= 5 || TWAIN_EnableSource(w)) {
    if (!twain::switches().hide_ui && s.state == 5) TWAIN_WaitForXfer(w);
    if (s.state == 6) return 1;
  }
  if (noted < 5) TWAIN_DropToState(noted);
  TWAIN_PostAcquire();
  return 0;
}

void TWAIN_FreeNative(uintptr_t dib) {
  if (LogLevel() != 0) LogApiCall("FreeNative => ");
  DibFree(dib);
  if (LogLevel() != 0) LogNewLine();
}
