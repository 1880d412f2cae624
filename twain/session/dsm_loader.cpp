// Loading and unloading the Source Manager module.
#include "twain/session/dsm.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "core/error_record.h"
#include "core/modules.h"
#include "dsm/manager_protocol.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_manager.h"
#include "orivane/twain_session.h"
#include "platform/crash_guard.h"
#include "platform/paths.h"
#include "twain/session/host_form.h"
#include "twain/session/session.h"

namespace twain {

namespace {

constexpr std::size_t kDsmPathMax = 260;

bool is_folder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The files to try, in order: the override alone (a file, or the folder
// holding the file), else the file in each of the program's module folders;
// then the plain name through the loader's own search.
std::vector<std::string> dsm_candidates(const std::string& file_name) {
  const char* override_path = std::getenv(kDsmPathVariable);
  std::vector<std::string> folders;
  if (override_path && *override_path) {
    if (!is_folder(override_path)) return {override_path, file_name};
    folders.push_back(override_path);
  } else {
    folders = platform::module_folders();
  }
  std::vector<std::string> files;
  for (std::string folder : folders) {
    LogPrint("DSM folder => '%s'\n", folder.c_str());
    if (folder.back() != '/') folder += '/';
    files.push_back(folder + file_name);
  }
  files.push_back(file_name);
  return files;
}

// The Source Manager stays mapped after its last release: a source's thread
// may still be inside it delivering a notification, and what it keeps for the
// process stays reachable. A damaged copy of the file is refused before the
// loader maps it (see module_file_problem).
platform::ModuleHandle open_module(const std::string& path) {
  std::string error;
  platform::ModuleHandle m =
      platform::module_open(path, &error, platform::ModuleLifetime::Resident);
  if (!m) {
    LogPrint("LoadLibrary(%s) failed GLE(%d)\n", path.c_str(), ENOENT);
    if (!error.empty()) LogPrint("  %s\n", error.c_str());
  }
  return m;
}

struct ReleaseCall {
  DSM_RELEASEAPPLICATIONPROC release;
  TW_IDENTITY* app;
  TW_UINT32 released = 0;
};

void run_release(void* context) {
  auto* call = static_cast<ReleaseCall*>(context);
  call->released = call->release(call->app);
}

// The Source Manager stays mapped, so unloading it ends nothing it holds for
// this application: after a close that went wrong (a source that moved on by
// itself, a source that crashed) it would still count the application's
// sources as open, and the device could not be opened again in this process.
// Ours can be told to let them go; the sources it calls on the way may fault,
// so the call is guarded like every other call into the Source Manager.
void release_application(Session& s) {
  if (!s.dsm_module || s.app_identity.Id == 0) return;
  const auto release = reinterpret_cast<DSM_RELEASEAPPLICATIONPROC>(
      platform::module_symbol(s.dsm_module, DSM_RELEASEAPPLICATION_NAME));
  if (!release) return;
  ReleaseCall call{release, &s.app_identity};
  int fault = 0;
  if (s.no_guard) {
    run_release(&call);
  } else {
    fault = platform::run_guarded(run_release, &call);
  }
  if (fault) {
    LogPrint("** fault 0x%08x while the Source Manager released this application\n",
             static_cast<unsigned>(fault));
  } else if (call.released > 0) {
    LogPrint("Source Manager released %u source(s) left open\n",
             static_cast<unsigned>(call.released));
  }
}

}  // namespace

bool load_dsm() {
  LogPrint("LoadDSM");
  Session& s = session();
  if (s.state >= 2) {
    LogPrint(" - Already loaded: %s\n", s.dsm_path.c_str());
    return true;
  }
  LogPrint("\n");
  const std::string file_name = core::module_file_name("TWAIN_32.DLL");
  platform::ModuleHandle m = nullptr;
  for (const std::string& path : dsm_candidates(file_name)) {
    if ((m = open_module(path))) break;
  }
  if (!m) {
    s.dsm_entry = nullptr;
    RecordError(ERR_DSM_LOAD, file_name.c_str());
    return false;
  }
  s.dsm_path = platform::module_path(m).substr(0, kDsmPathMax);
  LogPrint("Loaded %s\n", s.dsm_path.c_str());
  auto entry = reinterpret_cast<DSMENTRYPROC>(platform::module_symbol(m, "DSM_Entry"));
  if (!entry) {
    platform::module_close(m);
    LogPrint("** GetProcAddress failed!\n");
    return false;
  }
  s.dsm_module = m;
  s.dsm_entry = entry;
  lend_windows_to_sources(m);
  s.tried_to_load = 1;
  s.nesting = 0;
  set_state(2);
  return true;
}

void unload_dsm_module() {
  Session& s = session();
  if (s.dsm_module) {
    release_application(s);
    take_windows_back(s.dsm_module);
    LogPrint("FreeLibrary(hDSMLib)\n");
    platform::module_close(s.dsm_module);
    s.dsm_module = nullptr;
    s.nesting = 0;
  }
  s.dsm_entry = nullptr;
  s.dsm_memory = TW_ENTRYPOINT{};
  s.dsm_memory_shared = false;
}

}  // namespace twain

int TWAIN_IsAvailable(void) {
  twain::Session& s = twain::session();
  if (s.dsm_entry) return 1;
  if (s.tried_to_load != 0) return s.tried_to_load > 0 ? 1 : 0;
  LogPrint("First call to TWAIN_IsAvailable()\n");
  s.tried_to_load = twain::load_dsm() ? 1 : -1;
  return s.tried_to_load > 0 ? 1 : 0;
}

int TWAIN_LoadSourceManager(void) {
  LogApiCall("LoadSourceManager\n");
  twain::load_dsm();
  return twain::session().state >= 2 ? 1 : 0;
}

int TWAIN_UnloadSourceManager(void) {
  LogApiCall("UnloadSourceManager\n");
  LogNest nest;
  if (twain::session().state > 2) TWAIN_CloseDSM(0);
  twain::proxy_window_destroy();
  twain::unload_dsm_module();
  // The Source Manager gives the application a new number at its next open.
  twain::session().app_identity.Id = 0;
  twain::set_state(1);
  return twain::session().state == 1 ? 1 : 0;
}
