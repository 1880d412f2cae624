// Opening a source by name or the default source, and the open source's
// name and identity.
#include "orivane/twain_sources.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_manager.h"
#include "orivane/twain_session.h"
#include "twain/session/dsm.h"
#include "twain/session/identity.h"
#include "twain/session/session.h"
#include "twain/session/sources.h"

namespace twain {

namespace {

int state() { return session().state; }

// Walks the Source Manager's list until a product name matches `name`,
// leaving that identity in `area`. False when the list ends first.
bool find_source(const std::string& name, IdentityArea& area) {
  bool first = true;
  for (;;) {
    area.clear();
    if (!mgr_call(DG_CONTROL, DAT_IDENTITY, first ? MSG_GETFIRST : MSG_GETNEXT, area.identity()))
      return false;
    identity_check_overrun(area, "*** twid overrun!\n");
    if (source_names_equal(area.product_name(), name)) return true;
    first = false;
  }
}

// Opens `name` (empty: the default) from state 3; records why it could not.
void open_from_state3(const std::string& name) {
  CurrentFolderKeeper keep_folder;
  IdentityArea area;
  if (!name.empty()) {
    const bool is_default = read_default_identity(area, "*** twid overrun!\n") &&
                            source_names_equal(area.product_name(), name);
    if (!is_default && !find_source(name, area)) {
      RecordError(ERR_NO_SUCH_DEVICE, name.c_str());
      return;
    }
  }
  // An all-zero identity asks the Source Manager for its default source.
  if (mgr_call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, area.identity())) return;
  if (!name.empty()) {
    RecordError(ERR_OPEN_DEVICE, name.c_str());
  } else {
    area.cut_name();
    RecordError(ERR_OPEN_DEFAULT, area.product_name().c_str());
  }
}

// Leaves an enabled source; false when it stays enabled.
bool leave_enabled_state() {
  if (state() >= 5) TWAIN_DisableSource();
  return state() < 5;
}

}  // namespace

}  // namespace twain

using twain::session;

int TWAIN_OpenSource(const char* name) {
  const std::string wanted = name ? name : "";
  LogApiCall("OpenSource(\"%s\")\n", wanted.c_str());
  LogNest nest;
  core::error_clear();
  if (!twain::leave_enabled_state()) return 0;
  if (twain::state() < 3 && !TWAIN_OpenSourceManager(0)) {
    RecordError(ERR_DSM_INIT, nullptr);
    return 0;
  }
  // The source already open under the requested name stays open.
  if (twain::state() == 4 && !twain::source_names_equal(session().source_product, wanted)) {
    LogPrint("* other source open.\n");
    TWAIN_CloseSource();
    if (twain::state() == 4) return 0;
  }
  if (twain::state() == 3) twain::open_from_state3(wanted);
  if (twain::state() == 4 && !twain::apply_settings_after_open()) return 0;
  return twain::state() >= 4 ? 1 : 0;
}

int TWAIN_OpenDefaultSource(void) {
  LogApiCall("OpenDefaultSource()\n");
  LogFlush();
  LogNest nest;
  core::error_clear();
  if (!twain::leave_enabled_state()) return 0;
  if (twain::state() < 3 && !TWAIN_OpenSourceManager(0)) {
    RecordError(ERR_DSM_INIT, "OpenDefaultSource");
    return 0;
  }
  if (twain::state() == 3) {
    twain::IdentityArea area;
    if (twain::mgr_call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, area.identity())) {
      twain::identity_check_overrun(area, "*** twid overrun\n");
    } else {
      area.cut_name();
      RecordError(ERR_OPEN_DEFAULT, area.product_name().c_str());
    }
  }
  if (twain::state() != 4) return 0;
  twain::IdentityArea default_area;
  if (twain::read_default_identity(default_area, "*** twid overrun!\n") &&
      twain::source_names_equal(default_area.product_name(), session().source_product)) {
    if (!twain::apply_settings_after_open()) TWAIN_CloseSource();
    return twain::state() == 4 ? 1 : 0;
  }
  RecordError(ERR_OTHER_DEVICE_OPEN, session().source_product.c_str());
  return 0;
}

void TWAIN_GetSourceName(char* out) {
  if (!out) {
    ReportNullString("GetSourceName");
    return;
  }
  const std::string& name = session().source_product;
  const std::size_t n = std::min(name.size(), twain::kProductNameMax);
  std::memcpy(out, name.data(), n);
  out[n] = '\0';
}

const char* TWAIN_SourceName(void) { return session().source_product.c_str(); }

int TWAIN_GetSourceIdentity(TW_IDENTITY* out) {
  if (out) *out = session().source_identity;
  return static_cast<int>(sizeof(TW_IDENTITY));
}
