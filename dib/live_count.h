// The live-image count: how many DIB handles are allocated and not yet freed.
#pragma once

namespace dib {

long live_count();
// Called by the allocator and by DIB_Free.
void live_count_add(long delta);

}  // namespace dib
