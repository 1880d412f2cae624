// What a device holds beyond its capabilities, and the small triplets that
// reach it: the transfer group (DAT_XFERGROUP), the device events it
// announced (DAT_DEVICEEVENT), its response curves (DAT_GRAYRESPONSE,
// DAT_RGBRESPONSE) and its whole setup as custom data (DAT_CUSTOMDSDATA).
#pragma once
#include "orivane/twain.h"
#include "sources/virtual/device.h"
#include "sources/virtual/session.h"

namespace vscan {

// DG_CONTROL / DAT_XFERGROUP: MSG_GET answers DG_IMAGE, the only group this
// device transfers; MSG_SET takes DG_IMAGE and refuses any other.
Reply xfer_group_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);

// DG_CONTROL / DAT_DEVICEEVENT / MSG_GET: the oldest device event not yet
// read (TWCC_SEQERROR when there is none).
Reply device_event_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);

// DG_IMAGE / DAT_GRAYRESPONSE and DAT_RGBRESPONSE, state 4: MSG_SET takes a
// curve of 256 TW_ELEMENT8 (the gray one while the pixel type is 8-bit gray,
// the RGB one while it is 24-bit RGB; other depths: TWCC_BADVALUE), MSG_RESET
// returns to the identity and writes it into the caller's 256 elements.
Reply gray_response_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply rgb_response_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);

// DG_CONTROL / DAT_CUSTOMDSDATA, state 4: MSG_GET hands out the device's
// negotiable capabilities as text in a block of the Source Manager's memory
// (the application frees it); MSG_SET restores such text, each value through
// the same rules as a MSG_SET of its capability, all or nothing
// (TWCC_BADVALUE for text that is not this device's).
Reply custom_data_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);

}  // namespace vscan
