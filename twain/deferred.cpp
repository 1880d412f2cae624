#include "twain/deferred.h"

namespace twain {

DeferredSettings& deferred() {
  static DeferredSettings d;
  return d;
}

void deferred_reset() { deferred() = DeferredSettings{}; }

}  // namespace twain
