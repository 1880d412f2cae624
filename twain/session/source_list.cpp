// Listing the installed sources and reading the default source's name.
#include "orivane/twain_sources.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "core/error_record.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_manager.h"
#include "platform/paths.h"
#include "platform/window.h"
#include "twain/session/dsm.h"
#include "twain/session/session.h"
#include "twain/session/sources.h"

namespace twain {

namespace {

constexpr int kSourceListMax = 50;
constexpr std::size_t kNameSlotBytes = 36;  // 34 characters and the terminator

struct SourceList {
  std::array<std::array<char, kNameSlotBytes>, kSourceListMax> names{};
  int count = 0;
  int cursor = 0;
  std::string next_name;        // TWAIN_NextSourceName's text
  IdentityArea default_area;    // TWAIN_DefaultSourceName's identity
  std::string default_name;
};

SourceList& source_list() {
  static SourceList list;
  return list;
}

void copy_name(char* out, const std::string& name) {
  const std::size_t n = std::min(name.size(), kProductNameMax);
  std::memcpy(out, name.data(), n);
  out[n] = '\0';
}

// Walks the Source Manager's list into the library's list. True when the
// walk ended as a complete list does.
bool walk_sources() {
  SourceList& list = source_list();
  IdentityArea area;
  int rc = TWRC_FAILURE;
  bool first = true;
  while (list.count < kSourceListMax) {
    const bool ok = mgr_call(DG_CONTROL, DAT_IDENTITY, first ? MSG_GETFIRST : MSG_GETNEXT,
                             area.identity()) != 0;
    rc = session().last_return_code;
    if (!ok) {
      // No sources installed: the very first question fails.
      if (first && rc == TWRC_FAILURE) return true;
      break;
    }
    identity_check_overrun(area, "*** twid overrun!\n");
    copy_name(list.names[list.count].data(), area.product_name());
    ++list.count;
    area.clear();
    first = false;
  }
  return rc == TWRC_ENDOFLIST;
}

// Opens the Source Manager with the active window when it is not open yet.
bool open_with_active_window() {
  return session().state >= 3 || TWAIN_OpenSourceManager(platform::window_active());
}

}  // namespace

bool source_names_equal(const std::string& a, const std::string& b) {
  return strncasecmp(a.c_str(), b.c_str(), 32) == 0;
}

CurrentFolderKeeper::CurrentFolderKeeper() : folder_(platform::current_folder()) {}

CurrentFolderKeeper::~CurrentFolderKeeper() {
  if (!folder_.empty() && platform::current_folder() != folder_) {
    if (::chdir(folder_.c_str()) != 0) LogPrint("** could not return to %s\n", folder_.c_str());
  }
}

bool read_default_identity(IdentityArea& area, const char* overrun_trace) {
  area.clear();
  if (!mgr_call(DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, area.identity())) return false;
  identity_check_overrun(area, overrun_trace);
  return true;
}

}  // namespace twain

using twain::source_list;

int TWAIN_GetSourceList(void) {
  LogApiCall("GetSourceList()\n");
  LogNest nest;
  const int noted = twain::session().state;
  twain::SourceList& list = source_list();
  list.count = 0;
  list.cursor = 0;
  bool ok = false;
  if (!twain::open_with_active_window()) {
    RecordError(ERR_DSM_INIT, "GetSourceList");
  } else {
    twain::CurrentFolderKeeper keep_folder;
    ok = twain::walk_sources();
    if (!ok) RecordError(ERR_DSM_OPERATION, "GetSourceList");
  }
  TWAIN_DropToState(noted);
  return ok ? 1 : 0;
}

int TWAIN_GetNextSourceName(char* out) {
  LogApiCall("GetNextSourceName(..) ");
  if (!out) {
    LogPrint("\n");
    ReportNullString("GetNextSourceName");
    return 0;
  }
  twain::SourceList& list = source_list();
  out[0] = '\0';
  if (list.cursor < list.count) {
    std::memcpy(out, list.names[list.cursor].data(), twain::kProductNameMax + 1);
    ++list.cursor;
  }
  LogPrint("=> '%s'\n", out);
  return out[0] != '\0' ? 1 : 0;
}

const char* TWAIN_NextSourceName(void) {
  twain::SourceList& list = source_list();
  list.next_name.clear();
  if (list.cursor < list.count) list.next_name = list.names[list.cursor++].data();
  LogApiCall("NextSourceName => '%s'\n", list.next_name.c_str());
  return list.next_name.c_str();
}

int TWAIN_GetDefaultSourceName(char* out) {
  LogApiCall("GetDefaultSourceName()\n");
  if (!out) {
    ReportNullString("GetDefaultSourceName");
    return 0;
  }
  LogNest nest;
  const int noted = twain::session().state;
  out[0] = '\0';
  bool ok = false;
  if (!twain::open_with_active_window()) {
    RecordError(ERR_DSM_INIT, "GetDefaultSourceName");
  } else {
    twain::IdentityArea area;
    ok = twain::read_default_identity(area, "*** twid overrun\n");
    if (ok) {
      twain::copy_name(out, area.product_name());
    } else {
      RecordError(ERR_DSM_OPERATION, "GetDefaultSourceName");
    }
  }
  LogPrint("=> '%s'\n", out);
  TWAIN_DropToState(noted);
  return ok ? 1 : 0;
}

const char* TWAIN_DefaultSourceName(void) {
  LogApiCall("DefaultSourceName()\n");
  LogNest nest;
  twain::SourceList& list = source_list();
  list.default_name.clear();
  if (twain::session().state >= 3 || TWAIN_OpenSourceManager(0)) {
    if (twain::read_default_identity(list.default_area, "*** twid overrun\n"))
      list.default_name = list.default_area.product_name();
  }
  LogPrint("=> %32s\n", list.default_name.c_str());
  return list.default_name.c_str();
}

namespace {

// The device names listed last and the default device's identity.
const bool kSourceListRegistered =
    core::register_state({"twain.source_list", [] { twain::source_list() = twain::SourceList{}; }});

}  // namespace
