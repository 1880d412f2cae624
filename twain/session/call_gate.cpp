// The two call gates: every call to the Source Manager (TWAIN_Mgr) and to the
// open source (TWAIN_DS) is timed, traced, refused while another is in
// progress, guarded against faults inside the called module, and moves the
// state machine by its result.
#include "twain/session/dsm.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_manager.h"
#include "platform/clock.h"
#include "platform/crash_guard.h"
#include "twain/capabilities/container.h"
#include "twain/capabilities/deferred.h"
#include "twain/session/constant_names.h"
#include "twain/session/gate.h"
#include "twain/session/gate_trace.h"
#include "twain/session/identity.h"
#include "twain/session/session.h"

namespace twain {

namespace {

constexpr std::size_t kFaultTextBytes = 512;

struct EntryCall {
  DSMENTRYPROC entry;
  pTW_IDENTITY origin;
  pTW_IDENTITY dest;
  TW_UINT32 dg;
  TW_UINT16 dat;
  TW_UINT16 msg;
  TW_MEMREF data;
  TW_UINT16 rc = TWRC_FAILURE;
};

void run_entry(void* context) {
  auto* call = static_cast<EntryCall*>(context);
  call->rc = call->entry(call->origin, call->dest, call->dg, call->dat, call->msg, call->data);
}

// Makes the call, guarded unless a debugger wants to see faults. Returns the
// fault's signal number, 0 when the call returned.
int call_entry(EntryCall& call) {
  if (session().no_guard) {
    run_entry(&call);
    return 0;
  }
  return platform::run_guarded(run_entry, &call);
}

int elapsed_since(std::uint32_t start) {
  return static_cast<int>(platform::tick_count_ms() - start);
}

std::string rc_short(int rc) { return short_name(return_code_name(rc)); }
std::string cc_short(int cc) { return short_name(condition_code_name(cc)); }

// A fault inside the Source Manager: everything TWAIN stops at state 2.
int mgr_fault(int code) {
  Session& s = session();
  LogPrint(" **oops\n");
  s.last_return_code = TWRC_FAILURE;
  char text[kFaultTextBytes];
  std::snprintf(text, sizeof text,
                "A fatal error has occurred inside the TWAIN Manager.\n[Exception Code: 0x%08x]\n"
                "TWAIN functions are disabled.\n",
                static_cast<unsigned>(code));
  ReportUrgentError(ERR_FAILURE, text);
  set_state(2);
  return 0;
}

// A fault inside the source (through the Source Manager).
int ds_fault(int code) {
  Session& s = session();
  s.last_return_code = TWRC_FAILURE;
  RecordError(ERR_DRIVER_FAULT, s.source_product.c_str());
  char text[kFaultTextBytes];
  std::snprintf(text, sizeof text, "[Exception Code: 0x%08x]\nAll TWAIN functions are now blocked.\n",
                static_cast<unsigned>(code));
  TWAIN_ReportLastError(text);
  set_state(2);
  return 0;
}

// What the Source Manager gate does after a call of DG_CONTROL.
void mgr_after(unsigned dat, unsigned msg, void* data, bool ok) {
  Session& s = session();
  if (dat == DAT_IDENTITY) {
    const auto* id = static_cast<const TW_IDENTITY*>(data);
    if (ok && id && (msg == MSG_GETDEFAULT || msg == MSG_GETFIRST || msg == MSG_GETNEXT))
      LogPrint("  twid.ProductName=%.34s\n", id->ProductName);
    if (ok && id && msg == MSG_OPENDS) {
      session_clear_source_identity();
      session_set_source_identity(*id);
      set_state(4);
      LogPrint("%s", describe_identity(s.source_identity).c_str());
      register_notification_callback();
    }
    if (!ok && (msg == MSG_OPENDS || msg == MSG_CLOSEDS)) {
      s.last_condition_code = fetch_condition_code();
      LogPrint("        CC=%s\n", condition_code_name(s.last_condition_code).c_str());
    }
    if (ok && msg == MSG_CLOSEDS) {
      deferred_reset();
      set_state(3);
    }
  } else if (dat == DAT_PARENT && ok) {
    if (msg == MSG_OPENDSM) {
      s.no_guard = platform::debugger_attached();
      set_state(3);
      fetch_memory_functions();
    } else if (msg == MSG_CLOSEDSM) {
      set_state(2);
    }
  }
}

bool is_event_forwarding(std::uint32_t dg, unsigned dat, unsigned msg) {
  return dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT;
}

bool is_capability_get(unsigned dat, unsigned msg) {
  return dat == DAT_CAPABILITY && (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT);
}

// Outputs a source may leave untouched start from known values.
void prepare_outputs(std::uint32_t dg, unsigned dat, unsigned msg, void* data) {
  if (dg != DG_IMAGE || msg != MSG_GET || !data) return;
  if (dat == DAT_IMAGEMEMXFER) {
    auto* block = static_cast<TW_IMAGEMEMXFER*>(data);
    block->Compression = 0;
    block->BytesPerRow = block->Columns = block->Rows = TWON_DONTCARE32;
    block->XOffset = block->YOffset = block->BytesWritten = TWON_DONTCARE32;
  } else if (dat == DAT_IMAGENATIVEXFER) {
    *static_cast<TW_HANDLE*>(data) = nullptr;
  }
}

void trace_ds_call(std::uint32_t dg, unsigned dat, unsigned msg, const void* data) {
  if (dat == DAT_CAPABILITY) {
    const auto* cap = static_cast<const TW_CAPABILITY*>(data);
    LogPrint("DS(%u,DAT_CAPABILITY,%s/%s)", static_cast<unsigned>(dg), message_name(msg).c_str(),
             cap ? cap_name(cap->Cap).c_str() : "?");
    if (msg == MSG_SET && cap)
      LogPrint("(%s)", container_describe(cap->ConType, cap->hContainer).c_str());
  } else if (dat != DAT_STATUS) {
    LogPrint("DS(%u,%s,%s)", static_cast<unsigned>(dg), dat_name(dat).c_str(),
             message_name(msg).c_str());
    if (dat != DAT_IMAGELAYOUT || msg == MSG_SET)
      LogPrint("%s", describe_call_data(dat, data).c_str());
  }
}

// Checks made before the source is enabled or disabled; they never stop the
// call.
void before_user_interface(unsigned msg, const void* data) {
  Session& s = session();
  if (msg == MSG_DISABLEDS) {
    if (s.saved_parent && !platform::window_is_enabled(s.saved_parent)) {
      LogPrint("Re-enabling 0x%08lx\n", static_cast<unsigned long>(s.saved_parent));
      platform::window_enable(s.saved_parent, true);
    }
    return;
  }
  if (msg != MSG_ENABLEDS || !data) return;
  const auto parent =
      reinterpret_cast<platform::WindowHandle>(static_cast<const TW_USERINTERFACE*>(data)->hParent);
  if (!parent) {
    ReportUrgentError(ERR_BAD_WINDOW, "Orivane:MSG_ENABLEDS with HWND=NULL");
  } else if (platform::window_thread(parent) != platform::thread_id()) {
    LogPrint("Thread(twUI.hParent)=%d\n", platform::window_thread(parent));
    ReportUrgentError(ERR_BAD_WINDOW, "Orivane:MSG_ENABLEDS with HWND from another thread");
  }
}

// One device is known to fail if asked for its status right after enabling.
bool skips_status_after_enable(std::uint32_t dg, unsigned dat, unsigned msg) {
  if (dg != DG_CONTROL || dat != DAT_USERINTERFACE || msg != MSG_ENABLEDS) return false;
  if (strncasecmp(session().source_manufacturer.c_str(), "KeyScanx", 8) != 0) return false;
  LogPrint("#Hack[KeyScan] avoid GetCC after MSG_ENABLEDS\n");
  return true;
}

}  // namespace

int mgr_call(std::uint32_t dg, unsigned dat, unsigned msg, void* data) {
  Session& s = session();
  s.last_return_code = TWRC_FAILURE;
  LogPrint("Mgr(%u, %s, %s)", static_cast<unsigned>(dg), dat_name(dat).c_str(),
           message_name(msg).c_str());
  if (s.nesting != 0) {
    LogPrint(" nested==%d! => FALSE\n", s.nesting);
    return 0;
  }
  if (!s.dsm_entry) {
    LogPrint(" !pDSM_Entry => FALSE\n");
    return 0;
  }
  EntryCall call{s.dsm_entry, &s.app_identity, nullptr, dg, static_cast<TW_UINT16>(dat),
                 static_cast<TW_UINT16>(msg), data};
  const std::uint32_t start = platform::tick_count_ms();
  ++s.nesting;
  const int fault = call_entry(call);
  --s.nesting;
  if (fault) return mgr_fault(fault);
  s.last_return_code = call.rc;
  LogPrint("[%dms]=> %s\n", elapsed_since(start), rc_short(call.rc).c_str());
  const bool ok = call.rc == TWRC_SUCCESS;
  if (dg == DG_CONTROL) mgr_after(dat, msg, data, ok);
  return ok ? 1 : 0;
}

int ds_call(std::uint32_t dg, unsigned dat, unsigned msg, void* data) {
  Session& s = session();
  s.last_return_code = TWRC_FAILURE;
  prepare_outputs(dg, dat, msg, data);
  if (!s.dsm_entry) return 0;
  const bool traced = !is_event_forwarding(dg, dat, msg) || (LogLevel() & kLogVerbose);
  if (traced) trace_ds_call(dg, dat, msg, data);
  if (dg == DG_CONTROL && dat == DAT_USERINTERFACE) before_user_interface(msg, data);
  if (s.nesting != 0) {
    LogPrint("DS nested call aborted!\n");
    return 0;
  }
  EntryCall call{s.dsm_entry, &s.app_identity, &s.source_identity, dg,
                 static_cast<TW_UINT16>(dat), static_cast<TW_UINT16>(msg), data};
  const std::uint32_t start = platform::tick_count_ms();
  ++s.nesting;
  const int fault = call_entry(call);
  --s.nesting;
  if (fault) return ds_fault(fault);
  s.last_return_code = call.rc;
  const int ms = elapsed_since(start);
  if (dat != DAT_STATUS && dat != DAT_EVENT && !skips_status_after_enable(dg, dat, msg))
    s.last_condition_code = fetch_condition_code();
  if (traced) {
    if (call.rc == TWRC_SUCCESS && is_capability_get(dat, msg)) {
      LogPrint("[%dms]=> ", ms);
    } else {
      LogPrint("[%dms]=> %s/%s\n", ms, rc_short(call.rc).c_str(),
               cc_short(s.last_condition_code).c_str());
    }
  }
  return ds_apply_rules(dg, dat, msg, data, call.rc);
}

int fetch_condition_code() {
  Session& s = session();
  if (s.state < 3 || !s.dsm_entry) return 0;
  TW_STATUS status{};
  EntryCall call{s.dsm_entry, &s.app_identity, s.state >= 4 ? &s.source_identity : nullptr,
                 DG_CONTROL, DAT_STATUS, MSG_GET, &status};
  if (call_entry(call) != 0) {
    LogPrint("** fault while asking for the condition code\n");
    return 0;
  }
  return status.ConditionCode;
}

}  // namespace twain

int TWAIN_Mgr(uint32_t dg, unsigned dat, unsigned msg, void* data) {
  LogApiCall("%s", "");
  if (dg != DG_CONTROL || dat != DAT_IDENTITY || !data) return twain::mgr_call(dg, dat, msg, data);
  // The Source Manager hands on what a careless source wrote past its
  // identity; a caller's TW_IDENTITY has no room for that, so the identity
  // travels in a work area and only its 156 bytes come back, the product name
  // always ending inside its field.
  twain::IdentityArea area;
  std::memcpy(area.identity(), data, sizeof(TW_IDENTITY));
  const int ok = twain::mgr_call(dg, dat, msg, area.identity());
  twain::identity_check_overrun(area, "*** twid overrun!\n");
  TW_IDENTITY* out = static_cast<TW_IDENTITY*>(data);
  std::memcpy(out, area.identity(), sizeof(TW_IDENTITY));
  if (!memchr(out->ProductName, 0, sizeof out->ProductName))
    out->ProductName[sizeof out->ProductName - 1] = '\0';
  return ok;
}

int TWAIN_DS(uint32_t dg, unsigned dat, unsigned msg, void* data) {
  if (!twain::is_event_forwarding(dg, dat, msg) || (LogLevel() & kLogVerbose)) LogApiCall("%s", "");
  return twain::ds_call(dg, dat, msg, data);
}
