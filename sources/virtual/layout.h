// DG_IMAGE / DAT_IMAGELAYOUT: the area to scan, in the current units, with
// the document, page and frame numbers. The same frame as ICAP_FRAMES: setting
// either sets both and clears the paper size (ICAP_SUPPORTEDSIZES).
#pragma once
#include "orivane/twain.h"
#include "sources/virtual/session.h"

namespace vscan {

// MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_SET (state 4; a frame
// reaching outside the scan area is cut with TWRC_CHECKSTATUS, an empty or
// inverted one refused with TWCC_BADVALUE), MSG_RESET.
Reply image_layout_call(Session& session, const DeviceConfig& device, TW_UINT16 msg,
                        TW_IMAGELAYOUT& layout);

}  // namespace vscan
