// Public operations of the TWAIN session: registration, resetting and
// shutting down.
#include "orivane/twain_session.h"

#include <dlfcn.h>
#include <link.h>

#include <string>
#include <vector>

#include "core/app_identity.h"
#include "core/error_record.h"
#include "core/state_registry.h"
#include "dib/autocrop.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/multipage_files.h"
#include "orivane/twain.h"
#include "orivane/twain_manager.h"
#include "twain/acquisition/acquire.h"
#include "twain/acquisition/memory_xfer.h"
#include "twain/acquisition/multipage_loop.h"
#include "twain/capabilities/deferred.h"
#include "twain/capabilities/switches.h"
#include "twain/session/dsm.h"
#include "twain/session/identity.h"
#include "twain/session/session.h"

using twain::session;

namespace {

std::string cut(const char* text, std::size_t max) {
  std::string s = text ? text : "";
  if (s.size() > max) s.resize(max);
  return s;
}

constexpr std::size_t kIdentityTextMax = 31;  // TW_STR32 less the terminator, as registered
constexpr std::size_t kAppTitleMax = 199;
constexpr std::size_t kIdentityProductMax = 33;

struct ModuleSearch {
  std::string extension;
  std::vector<std::string> paths;
};

int collect_module(struct dl_phdr_info* info, std::size_t, void* context) {
  auto& search = *static_cast<ModuleSearch*>(context);
  const std::string path = info->dlpi_name ? info->dlpi_name : "";
  const std::string& ext = search.extension;
  if (path.size() > ext.size() && path.compare(path.size() - ext.size(), ext.size(), ext) == 0)
    search.paths.push_back(path);
  return 0;
}

// Releases every reference to a loaded module until the loader has unloaded
// it (or refuses). Each round takes a fresh handle, so no stale handle is
// ever passed to the loader.
void release_until_unloaded(const std::string& path) {
  constexpr int kRoundsMax = 1000;
  for (int round = 0; round < kRoundsMax; ++round) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return;
    dlclose(h);  // the reference just taken
    if (dlclose(h) != 0) return;
  }
}

// The session's modules are released forcibly when a call into them never
// came back (the nesting count is still raised): the Source Manager, then
// every data source module that is still loaded.
void force_unload_modules() {
  twain::Session& s = session();
  if (s.dsm_module) {
    if (dlopen(s.dsm_path.c_str(), RTLD_NOW | RTLD_NOLOAD) == nullptr) {
      platform::module_close(s.dsm_module);  // its path is not one the loader knows
    } else {
      dlclose(s.dsm_module);  // balances the lookup just made
      release_until_unloaded(s.dsm_path);
    }
    s.dsm_module = nullptr;
  }
  ModuleSearch search{".ds", {}};
  dl_iterate_phdr(collect_module, &search);
  for (const std::string& path : search.paths) {
    LogPrint("Force unloading DS: %s\n", path.c_str());
    release_until_unloaded(path);
  }
  s.dsm_entry = nullptr;
  s.dsm_memory = TW_ENTRYPOINT{};
  s.nesting = 0;
}

}  // namespace

void TWAIN_RegisterApp(int major, int minor, int language, int country, const char* version_info,
                       const char* manufacturer, const char* family, const char* product) {
  LogApiCall("RegisterApp(%d,%d,%d,%d,%s,%s,%s,%s)\n", major, minor, language, country,
             version_info ? version_info : "", manufacturer ? manufacturer : "",
             family ? family : "", product ? product : "");
  TW_IDENTITY& id = session().app_identity;
  id.Id = 0;
  id.Version.MajorNum = static_cast<TW_UINT16>(major);
  id.Version.MinorNum = static_cast<TW_UINT16>(minor);
  id.Version.Language = static_cast<TW_UINT16>(language);
  id.Version.Country = static_cast<TW_UINT16>(country);
  twain::identity_set_text(id.Version.Info, cut(version_info, kIdentityTextMax));
  id.ProtocolMajor = 2;
  id.ProtocolMinor = 1;
  id.SupportedGroups = DG_CONTROL | DG_IMAGE;
  twain::identity_set_text(id.Manufacturer, cut(manufacturer, kIdentityTextMax));
  twain::identity_set_text(id.ProductFamily, cut(family, kIdentityTextMax));
  TWAIN_SetAppTitle(product);
  LogPrint("RegisterApp\n  Product(%s)\n  Mfg(%s)\n  Version: %d.%d %s\n",
           twain::identity_text(id.ProductName).c_str(),
           twain::identity_text(id.Manufacturer).c_str(), id.Version.MajorNum,
           id.Version.MinorNum, twain::identity_text(id.Version.Info).c_str());
}

void TWAIN_SetAppTitle(const char* title) {
  std::string t = title ? title : "";
  LogApiCall("SetAppTitle(%s)\n", t.c_str());
  std::string& current = core::app_identity().title;
  if (t == current) return;
  if (!current.empty() && !t.empty() && current != "Application") {
    std::string detail = "'" + current + "' vs '" + t + "'";
    ReportUrgentError(ERR_APP_TITLE, detail.c_str());
  }
  current = cut(t.c_str(), kAppTitleMax);
  twain::identity_set_text(session().app_identity.ProductName, cut(t.c_str(), kIdentityProductMax));
}

void TWAIN_ResetAll(void) {
  LogApiCall("ResetAll\n");
  LogNest nest;
  LogFlush();
  // A multipage file still open is ended, so its pages reach the disk.
  if (TWAIN_IsMultipageFileOpen()) TWAIN_EndMultipageFile();
  // A file held for a decision nobody made is dropped: its name keeps what
  // it held.
  if (*TWAIN_HeldMultipageFileName() != '\0') TWAIN_DiscardMultipageFile();
  twain::Session& s = session();
  if (s.nesting != 0) {
    force_unload_modules();
    twain::set_state(1);
  } else {
    TWAIN_CloseSource();
  }
  twain::proxy_window_destroy();
  twain::memory_transfer_end();
  // Every state's own part of the reset (those that survive keep theirs).
  core::reset_states_for_reset_all();
}

void TWAIN_Shutdown(void) {
  LogApiCall("Shutdown\n");
  TWAIN_ResetAll();
  TWAIN_UnloadSourceManager();
  LogFlush();
}
