// What every data source's DS_Entry does the same way (the virtual scanner,
// the SANE bridge): the reply of a call with the condition code kept for
// DAT_STATUS, the states of an open device, the status and entry-point
// triplets, the session of an application, an identity's texts, and the
// guard that keeps anything thrown from crossing back into the caller.
#pragma once
#include <algorithm>
#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "orivane/twain.h"

namespace twsource {

// The answer to one call: return code and the condition code that goes with
// it (kept for DAT_STATUS).
struct Reply {
  TW_UINT16 rc;
  TW_UINT16 cc;
};
constexpr Reply kDone{TWRC_SUCCESS, TWCC_SUCCESS};
constexpr Reply refuse(TW_UINT16 cc) { return Reply{TWRC_FAILURE, cc}; }

// TWAIN states of an open device (the application's view).
enum class DsState { Open = 4, Enabled = 5, TransferReady = 6, Transferring = 7 };

// DG_CONTROL / DAT_STATUS / MSG_GET: hands `condition` over and clears it.
Reply status_get(TW_UINT16 msg, TW_MEMREF data, TW_UINT16& condition);
// DG_CONTROL / DAT_ENTRYPOINT / MSG_SET: keeps the Source Manager's entry
// points (`Size` 0 until then).
Reply entry_points_set(TW_UINT16 msg, TW_MEMREF data, TW_ENTRYPOINT& out);

// The texts of a device's identity; the version numbers and `Id` are the
// caller's.
struct IdentityText {
  std::string version_info, manufacturer, family, product;
};
// Fills the identity as our sources present themselves (TWAIN 2, image
// data, DSM2 protocol), each text cut to its field.
void identity_fill(TW_IDENTITY& out, const IdentityText& text);
// Whether `presented`'s product name is the one `wanted` carries.
bool product_name_is(const TW_IDENTITY& presented, const TW_IDENTITY& wanted);

// The session of application `app` (by its Id), or null.
template <typename Session>
Session* session_of(const std::vector<std::unique_ptr<Session>>& sessions, const TW_IDENTITY* app) {
  if (app == nullptr) return nullptr;
  for (const auto& s : sessions) {
    if (s->app.Id == app->Id) return s.get();
  }
  return nullptr;
}

template <typename Session>
void session_remove(std::vector<std::unique_ptr<Session>>& sessions, const Session* session) {
  std::erase_if(sessions, [&](const auto& s) { return s.get() == session; });
}

// Where a call's condition code is kept: the session of the application
// that made it, else the source's own (calls without a session).
template <typename State, typename Session>
TW_UINT16& condition_of(State& state, Session* session) {
  return session != nullptr ? session->condition : state.condition;
}

// DS_SelectDevice: the device (of `count`) the next MSG_OPENDS opens.
template <typename State>
TW_UINT16 device_select(State& state, std::size_t count, TW_UINT32 index) {
  std::lock_guard<std::recursive_mutex> lock(state.mutex);
  if (index >= count) return TWRC_FAILURE;
  state.selected = index;
  return TWRC_SUCCESS;
}

// Runs `call` (the whole of a DS_Entry call); what it throws becomes a
// failure whose condition code (TWCC_LOWMEMORY, else TWCC_BUMMER) is handed
// to `record`, never an exception in the caller.
template <typename Call, typename Record>
TW_UINT16 entry_guarded(Call&& call, Record&& record) {
  TW_UINT16 cc = TWCC_BUMMER;
  try {
    return call();
  } catch (const std::bad_alloc&) {
    cc = TWCC_LOWMEMORY;
  } catch (...) {
  }
  try {
    record(cc);
  } catch (...) {
  }
  return TWRC_FAILURE;
}

}  // namespace twsource
