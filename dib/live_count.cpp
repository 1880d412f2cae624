#include "dib/live_count.h"

#include <atomic>

namespace dib {

namespace {
std::atomic<long> g_live{0};
}

long live_count() { return g_live.load(); }
void live_count_add(long delta) { g_live.fetch_add(delta); }

}  // namespace dib
