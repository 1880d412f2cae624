// The Source Manager's state and operations.
//
// Applications open the Source Manager (DAT_PARENT / MSG_OPENDSM) and get an
// Id; the first one to open it has the sources listed, the last one to close
// it has them unloaded. Each application has its own condition code, listing
// cursor and open sources ("connections"); a connection carries the callback
// the application registered for it and, for sources that leave
// MSG_PROCESSEVENT to the Source Manager, the notifications not yet claimed.
//
// Calls out to a source (DS_Entry) and to an application's callback are made
// without holding the lock, so a source may call back in (memory, DAT_NULL)
// from inside DS_Entry or from another thread. Listing is the exception: it
// runs under the (recursive) lock, and a source that calls back in while it is
// listed does so on the same thread.
#pragma once
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dsm/source_list.h"
#include "orivane/twain.h"

extern "C" TW_UINT16 DSM_Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                               TW_UINT16 msg, TW_MEMREF data);

namespace dsm {

// One DSM_Entry call.
struct Call {
  pTW_IDENTITY origin;
  pTW_IDENTITY dest;
  TW_UINT32 dg;
  TW_UINT16 dat;
  TW_UINT16 msg;
  TW_MEMREF data;
};

// Return code and the condition code that goes with it.
struct Outcome {
  TW_UINT16 rc;
  TW_UINT16 cc;
};
constexpr Outcome kSuccess{TWRC_SUCCESS, TWCC_SUCCESS};
constexpr Outcome failure(TW_UINT16 cc) { return Outcome{TWRC_FAILURE, cc}; }

struct Callback {
  TW_MEMREF proc = nullptr;  // a TWAINCALLBACKPROC; null: none registered
  TW_UINTPTR ref_con = 0;    // handed back as the callback's data pointer
};

struct Connection {
  TW_UINT32 source_id = 0;
  Callback callback;
  std::deque<TW_UINT16> unclaimed;  // relayed notifications, oldest first
};

struct Application {
  TW_IDENTITY identity{};
  TW_UINT16 condition = TWCC_SUCCESS;
  bool listing = false;  // MSG_GETFIRST seen
  std::size_t cursor = 0;
  Callback callback;  // registered without a destination: for every source
  std::vector<Connection> connections;
};

struct Manager {
  std::recursive_mutex mutex;
  SourceList sources;
  std::vector<Application> apps;
  TW_UINT32 next_id = 1;
  // The condition code of calls from no open application.
  TW_UINT16 condition = TWCC_SUCCESS;
};

// The one Source Manager of the process.
Manager& manager();

// Lookups; the caller holds the lock. Null when not found.
Application* find_app(Manager& m, const TW_IDENTITY* origin);
Connection* find_connection(Application& app, TW_UINT32 source_id);
const Device* find_device(const Manager& m, TW_UINT32 id);

// The product name of a device as applications see it (at most 34
// characters).
std::string device_name(const Device& device);
// The index of the default source: the remembered one when it is listed, else
// the first that may be the default, else the first; nothing when no device
// is listed. Lists the sources listed on demand when the answer may be theirs.
std::optional<std::size_t> default_device_index(Manager& m);
// Lists the devices of the sources listed on demand that were not asked yet;
// true when that added a device. The caller holds the lock.
bool list_on_demand(Manager& m);

// The Source Manager's own triplets (no destination). Each returns the outcome
// whose condition code the caller records for the application.
Outcome parent_open(const Call& call);
Outcome parent_close(const Call& call);
Outcome status_get(const Call& call);
Outcome entry_point_get(const Call& call);
Outcome callback_register(const Call& call);
Outcome identity_first(const Call& call);
Outcome identity_next(const Call& call);
Outcome identity_default(const Call& call);
Outcome identity_user_select(const Call& call);
Outcome identity_open(const Call& call);
Outcome identity_close(const Call& call);

// A triplet for an open source: passed to its DS_Entry (DAT_EVENT answered
// here for sources that leave it to the Source Manager). Returns the source's
// return code; a bad destination fails with TWCC_BADDEST recorded.
TW_UINT16 route_to_source(const Call& call);
// A notification from a source (DG_CONTROL / DAT_NULL / MSG_XFERREADY,
// MSG_CLOSEDSREQ, MSG_CLOSEDSOK, MSG_DEVICEEVENT): handed to the
// application's callback.
TW_UINT16 relay_notification(const Call& call);

// Forgets the application `origin` as if it had closed everything: walks each
// source it still has open back down and closes it, and unloads the sources
// when no application is left (see dsm/manager_protocol.h). Returns the number
// of sources it had open.
TW_UINT32 release_application(const TW_IDENTITY* origin);

// Records `cc` as the condition code of the caller (its application, or the
// Source Manager's own when it has none).
void record_condition(const TW_IDENTITY* origin, TW_UINT16 cc);

}  // namespace dsm
