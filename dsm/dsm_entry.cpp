// DSM_Entry: the Source Manager's one exported function. Sorts each call into
// a notification from a source, one of the Source Manager's own triplets, or
// a triplet for an open source, and keeps anything thrown from crossing back
// into the caller.
#include <iterator>
#include <new>

#include "dsm/manager.h"
#include "dsm/manager_protocol.h"

namespace dsm {
namespace {

using Operation = Outcome (*)(const Call&);

struct OwnTriplet {
  TW_UINT16 dat;
  TW_UINT16 msg;
  Operation operation;
};

// Every DG_CONTROL triplet the Source Manager answers itself.
constexpr OwnTriplet kOwnTriplets[] = {
    {DAT_PARENT, MSG_OPENDSM, parent_open},
    {DAT_PARENT, MSG_CLOSEDSM, parent_close},
    {DAT_IDENTITY, MSG_GETFIRST, identity_first},
    {DAT_IDENTITY, MSG_GETNEXT, identity_next},
    {DAT_IDENTITY, MSG_GETDEFAULT, identity_default},
    {DAT_IDENTITY, MSG_USERSELECT, identity_user_select},
    {DAT_IDENTITY, MSG_OPENDS, identity_open},
    {DAT_IDENTITY, MSG_CLOSEDS, identity_close},
    {DAT_STATUS, MSG_GET, status_get},
    {DAT_ENTRYPOINT, MSG_GET, entry_point_get},
    {DAT_CALLBACK, MSG_REGISTER_CALLBACK, callback_register},
    {DAT_CALLBACK2, MSG_REGISTER_CALLBACK, callback_register},
};

bool is_notification(const Call& call) {
  if (call.dg != DG_CONTROL || call.dat != DAT_NULL) return false;
  return call.msg == MSG_XFERREADY || call.msg == MSG_CLOSEDSREQ || call.msg == MSG_CLOSEDSOK ||
         call.msg == MSG_DEVICEEVENT;
}

// Callback registration names the source in the destination but is the
// Source Manager's business.
bool is_callback_registration(const Call& call) {
  return call.dg == DG_CONTROL && (call.dat == DAT_CALLBACK || call.dat == DAT_CALLBACK2);
}

Operation find_own(const Call& call) {
  if (call.dg != DG_CONTROL) return nullptr;
  for (const OwnTriplet& triplet : kOwnTriplets) {
    if (triplet.dat == call.dat && triplet.msg == call.msg) return triplet.operation;
  }
  return nullptr;
}

TW_UINT16 dispatch(const Call& call) {
  if (call.origin == nullptr) {
    record_condition(nullptr, TWCC_BADPROTOCOL);
    return TWRC_FAILURE;
  }
  if (is_notification(call)) return relay_notification(call);
  if (call.dest != nullptr && !is_callback_registration(call)) return route_to_source(call);
  const Operation operation = find_own(call);
  const Outcome outcome = operation != nullptr ? operation(call) : failure(TWCC_BADPROTOCOL);
  // Reading the status must not overwrite the code it just handed out.
  if (call.dat != DAT_STATUS) record_condition(call.origin, outcome.cc);
  return outcome.rc;
}

}  // namespace
}  // namespace dsm

extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(pTW_IDENTITY origin,
                                                                      pTW_IDENTITY dest,
                                                                      TW_UINT32 dg, TW_UINT16 dat,
                                                                      TW_UINT16 msg,
                                                                      TW_MEMREF data) {
  const dsm::Call call{origin, dest, dg, dat, msg, data};
  try {
    return dsm::dispatch(call);
  } catch (const std::bad_alloc&) {
    dsm::record_condition(origin, TWCC_LOWMEMORY);
  } catch (...) {
    dsm::record_condition(origin, TWCC_BUMMER);
  }
  return TWRC_FAILURE;
}

extern "C" __attribute__((visibility("default"))) TW_UINT32 DSM_ReleaseApplication(
    pTW_IDENTITY app) {
  try {
    return dsm::release_application(app);
  } catch (...) {
    return 0;
  }
}

extern "C" __attribute__((visibility("default"))) void DSM_SetHostForm(DS_HOSTFORMPROC form) {
  dsm::Manager& m = dsm::manager();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  dsm::source_list_set_host_form(m.sources, form);
}
