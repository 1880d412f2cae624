// Device settings asked for before a source is open, kept in their "not set"
// state until a source opens and they can be negotiated.
#pragma once

namespace twain {

struct DeferredSettings {
  int duplex = -1;        // -1 not set
  int xfer_mech = -1;     // -1 not set
};

DeferredSettings& deferred();
void deferred_reset();

}  // namespace twain
