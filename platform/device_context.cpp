// The registry behind device-context handles: a stale or foreign handle is
// refused instead of followed.
#include "platform/device_context.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace platform {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<DcHandle, DeviceContext*> contexts;
  DcHandle next = 0x4443'0001;  // never 0, and not an address
};

Registry& registry() {
  static auto* r = new Registry;
  return *r;
}

}  // namespace

DrawRect rect_intersection(const DrawRect& a, const DrawRect& b) {
  const int left = std::max(a.x, b.x), top = std::max(a.y, b.y);
  const long right = std::min<long>(static_cast<long>(a.x) + a.w, static_cast<long>(b.x) + b.w);
  const long bottom = std::min<long>(static_cast<long>(a.y) + a.h, static_cast<long>(b.y) + b.h);
  if (right <= left || bottom <= top) return {};
  return {left, top, static_cast<int>(right - left), static_cast<int>(bottom - top)};
}

DcHandle dc_register(DeviceContext* dc) {
  if (dc == nullptr) return 0;
  try {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const DcHandle handle = r.next++;
    r.contexts[handle] = dc;
    return handle;
  } catch (...) {
    return 0;
  }
}

void dc_unregister(DcHandle handle) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.contexts.erase(handle);
}

DeviceContext* dc_from_handle(DcHandle handle) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto found = r.contexts.find(handle);
  return found == r.contexts.end() ? nullptr : found->second;
}

}  // namespace platform
