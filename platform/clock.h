// Tick counts and thread identities.
#pragma once
#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the platform's
// tick count; differences are taken in unsigned arithmetic.
std::uint32_t tick_count_ms();
// The calling thread's identifier as the kernel numbers it (never 0).
int thread_id();
// Sleeps the calling thread.
void sleep_ms(int ms);

}  // namespace platform
