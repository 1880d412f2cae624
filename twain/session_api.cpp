// Public operations of the TWAIN session: registration, state and closing.
// Opening the Source Manager and sources joins these with the device support.
#include "orivane/twain_session.h"

#include <string>

#include "log/trace.h"
#include "orivane/twain.h"
#include "orivane/twain_error.h"
#include "twain/error_record.h"
#include "twain/modules.h"
#include "twain/session.h"
#include "twain/switches.h"

using twain::session;

namespace {

std::string cut(const char* text, std::size_t max) {
  std::string s = text ? text : "";
  if (s.size() > max) s.resize(max);
  return s;
}

constexpr std::size_t kIdentityTextMax = 31;  // TW_STR32 less the terminator
constexpr std::size_t kAppTitleMax = 199;
constexpr std::size_t kIdentityProductMax = 33;

}  // namespace

void TWAIN_RegisterApp(int major, int minor, int language, int country, const char* version_info,
                       const char* manufacturer, const char* family, const char* product) {
  LogApiCall("RegisterApp(%d,%d,%d,%d,%s,%s,%s,%s)\n", major, minor, language, country,
             version_info ? version_info : "", manufacturer ? manufacturer : "",
             family ? family : "", product ? product : "");
  twain::Session& s = session();
  s.app_major = major;
  s.app_minor = minor;
  s.app_language = language;
  s.app_country = country;
  s.app_version_info = cut(version_info, kIdentityTextMax);
  s.app_manufacturer = cut(manufacturer, kIdentityTextMax);
  s.app_family = cut(family, kIdentityTextMax);
  TWAIN_SetAppTitle(product);
  LogPrint("RegisterApp\n  Product(%s)\n  Mfg(%s)\n  Version: %d.%d %s\n", s.app_product.c_str(),
           s.app_manufacturer.c_str(), s.app_major, s.app_minor, s.app_version_info.c_str());
}

void TWAIN_SetAppTitle(const char* title) {
  std::string t = title ? title : "";
  LogApiCall("SetAppTitle(%s)\n", t.c_str());
  twain::Session& s = session();
  if (t == s.app_title) return;
  if (!s.app_title.empty() && !t.empty() && s.app_title != "Application") {
    std::string detail = "'" + s.app_title + "' vs '" + t + "'";
    ReportUrgentError(ERR_APP_TITLE, detail.c_str());
  }
  s.app_title = cut(t.c_str(), kAppTitleMax);
  s.app_product = cut(t.c_str(), kIdentityProductMax);
}

int TWAIN_IsAvailable(void) {
  platform::ModuleHandle m = twain::LoadSiblingLibrary("TWAIN_32.DLL");
  if (!m) return 0;
  platform::module_close(m);
  return 1;
}

int TWAIN_State(void) { return session().state; }

int TWAIN_DisableSource(void) {
  LogApiCall("DisableSource\n");
  return session().state < 5 ? 1 : 0;
}

int TWAIN_CloseSource(void) {
  LogApiCall("CloseSource()\n");
  session().last_return_code = TWRC_SUCCESS;
  if (session().state >= 5) TWAIN_DisableSource();
  return session().state < 4 ? 1 : 0;
}

int TWAIN_UnloadSourceManager(void) {
  LogApiCall("UnloadSourceManager\n");
  twain::set_state(1);
  return 1;
}

void TWAIN_ResetAll(void) {
  LogApiCall("ResetAll\n");
  LogFlush();
  TWAIN_CloseSource();
  twain::error_clear();
  twain::ErrorRecord& r = twain::error_record();
  r.saved_return_code = 0;
  r.saved_condition_code = 0;
  r.suppress_messages = false;
  twain::switches_reset();
}

void TWAIN_Shutdown(void) {
  LogApiCall("Shutdown\n");
  TWAIN_ResetAll();
  TWAIN_UnloadSourceManager();
  LogFlush();
}
