// DG_CONTROL / DAT_CAPABILITY: the rules every capability follows.
//
// - MSG_GET answers the capability's own container (one value, enumeration,
//   range or array); MSG_GETCURRENT and MSG_GETDEFAULT a one value (an array
//   for list-valued capabilities); a device configured with odd containers
//   answers every get in the container it names instead.
// - MSG_SET takes a one value: a value on offer is stored; a value between
//   those offered is stored as the nearest one with TWRC_CHECKSTATUS when the
//   capability allows (resolutions, and the steps of every range); anything
//   else is refused with TWCC_BADVALUE. An enumeration or an array of values
//   on offer narrows what an enumeration offers until the next reset.
// - MSG_RESET returns a capability to its default (answering the new current
//   value), MSG_RESETALL all of them; MSG_QUERYSUPPORT answers the TWQC_
//   operations.
// - Setting and resetting need state 4, or a capability the application made
//   negotiable later through CAP_EXTENDEDCAPS (TWCC_SEQERROR otherwise);
//   read-only capabilities refuse them with TWCC_CAPBADOPERATION; a
//   capability the device does not have is refused with TWCC_CAPUNSUPPORTED
//   (or the condition code its config names).
#pragma once
#include "orivane/twain.h"
#include "sources/virtual/device.h"
#include "sources/virtual/session.h"

namespace vscan {

Reply capability_call(Session& session, const DeviceConfig& device, const DsmMemory& memory,
                      TW_UINT16 msg, TW_CAPABILITY& capability);

}  // namespace vscan
