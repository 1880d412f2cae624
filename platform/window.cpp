// Window records and per-thread message queues.
//
// Window handles use the same packing as memory handles (slot index, a tag,
// the slot's generation) with their own tag, so a block handle, a stale window
// handle or a small integer is refused rather than taken for a window.
//
// Locking: the registry mutex guards the records and the table of queues; each
// queue has its own mutex and condition variable so a waiting thread does not
// hold up the others. The registry mutex is always taken before a queue mutex.
#include "platform/window.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace platform {
namespace {

constexpr std::uint32_t kMaxSlots = std::uint32_t{1} << 24;
constexpr std::uintptr_t kSlotMask = kMaxSlots - 1;
constexpr std::uintptr_t kWindowTag = 0x57;  // 'W'
constexpr int kTagShift = 24;
constexpr int kGenerationShift = 32;

struct WindowRecord {
  std::string title;
  WindowHandle owner = 0;
  int thread = 0;
  bool enabled = true;
  bool live = false;
  std::uint32_t generation = 1;
  std::uint64_t serial = 0;  // creation order, for window_find
  std::uint64_t z = 0;       // window order: raised on creation and activation
  bool child = false;        // a control inside `owner`
  bool button = false;
  bool visible = true;
  int control_id = 0;
  std::shared_ptr<WindowProcedure> procedure;
};

struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<Message> messages;
};

struct WindowRegistry {
  std::mutex mutex;
  std::vector<WindowRecord> records;
  std::vector<std::uint32_t> free_slots;
  std::uint64_t next_serial = 1;
  std::uint64_t next_z = 1;
  WindowHandle active = 0;
  // Shared so a thread waiting on its queue keeps it alive across a reset.
  std::map<int, std::shared_ptr<ThreadQueue>> queues;
};

// Never destroyed: threads may still post or wait while the process exits.
WindowRegistry& window_registry() {
  static WindowRegistry* registry = new WindowRegistry;
  return *registry;
}

WindowHandle make_handle(std::uint32_t index, std::uint32_t generation) {
  return (static_cast<std::uintptr_t>(generation) << kGenerationShift) |
         (kWindowTag << kTagShift) | index;
}

// Caller holds the registry mutex.
WindowRecord* find_record(WindowRegistry& reg, WindowHandle w) {
  if (((w >> kTagShift) & 0xff) != kWindowTag) return nullptr;
  const std::uintptr_t index = w & kSlotMask;
  const auto generation = static_cast<std::uint32_t>(w >> kGenerationShift);
  if (index >= reg.records.size()) return nullptr;
  WindowRecord& rec = reg.records[index];
  if (!rec.live || rec.generation != generation) return nullptr;
  return &rec;
}

// The queue of `thread`, created when `create` is set. Caller holds the
// registry mutex.
std::shared_ptr<ThreadQueue> find_queue(WindowRegistry& reg, int thread, bool create) {
  auto it = reg.queues.find(thread);
  if (it != reg.queues.end()) return it->second;
  if (!create) return nullptr;
  auto queue = std::make_shared<ThreadQueue>();
  reg.queues.emplace(thread, queue);
  return queue;
}

// The calling thread's queue; using it is what makes a thread reachable by
// post_thread_message.
std::shared_ptr<ThreadQueue> own_queue() {
  WindowRegistry& reg = window_registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  return find_queue(reg, thread_id(), true);
}

void enqueue(ThreadQueue& queue, const Message& m) {
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    queue.messages.push_back(m);
  }
  queue.arrived.notify_all();
}

// A new record in a free slot; 0 when the table is full. Caller holds the
// registry mutex.
WindowHandle new_record(WindowRegistry& reg, const std::string& title, WindowHandle owner,
                        int thread) {
  std::uint32_t index = 0;
  if (!reg.free_slots.empty()) {
    index = reg.free_slots.back();
    reg.free_slots.pop_back();
  } else {
    if (reg.records.size() >= kMaxSlots) return 0;
    reg.free_slots.reserve(reg.records.size() + 1);
    reg.records.emplace_back();
    index = static_cast<std::uint32_t>(reg.records.size() - 1);
  }
  // The queue exists from the window's birth so posts to it never get lost.
  find_queue(reg, thread, true);
  WindowRecord& rec = reg.records[index];
  const std::uint32_t generation = rec.generation;
  rec = WindowRecord{};
  rec.generation = generation;
  rec.title = title;
  rec.owner = owner;
  rec.thread = thread;
  rec.live = true;
  rec.serial = reg.next_serial++;
  rec.z = reg.next_z++;
  return make_handle(index, rec.generation);
}

void drop_messages_for(ThreadQueue& queue, WindowHandle w) {
  std::lock_guard<std::mutex> lock(queue.mutex);
  auto& q = queue.messages;
  q.erase(std::remove_if(q.begin(), q.end(), [w](const Message& m) { return m.window == w; }),
          q.end());
}

}  // namespace

WindowHandle window_create(const std::string& title, WindowHandle owner) {
  try {
    const int thread = thread_id();
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    if (owner != 0 && find_record(reg, owner) == nullptr) return 0;
    return new_record(reg, title, owner, thread);
  } catch (...) {
    return 0;
  }
}

namespace {

// Retires a window and, first, the controls inside it. Caller holds the
// registry mutex and has checked `w`.
void destroy_locked(WindowRegistry& reg, WindowHandle w) {
  for (std::uint32_t i = 0; i < reg.records.size(); ++i) {
    const WindowRecord& rec = reg.records[i];
    if (rec.live && rec.child && rec.owner == w) destroy_locked(reg, make_handle(i, rec.generation));
  }
  WindowRecord* rec = find_record(reg, w);
  rec->live = false;
  rec->title.clear();
  rec->procedure.reset();
  if (++rec->generation == 0) rec->generation = 1;
  reg.free_slots.push_back(static_cast<std::uint32_t>(w & kSlotMask));
  if (reg.active == w) reg.active = 0;
  // A thread message may name the window too, so every queue is swept.
  for (auto& entry : reg.queues) drop_messages_for(*entry.second, w);
}

}  // namespace

bool window_destroy(WindowHandle w) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    if (find_record(reg, w) == nullptr) return false;
    destroy_locked(reg, w);
    return true;
  } catch (...) {
    return false;
  }
}

bool window_is_valid(WindowHandle w) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    return find_record(reg, w) != nullptr;
  } catch (...) {
    return false;
  }
}

bool window_enable(WindowHandle w, bool enable) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    WindowRecord* rec = find_record(reg, w);
    if (rec == nullptr) return false;
    const bool was_enabled = rec->enabled;
    rec->enabled = enable;
    return was_enabled;
  } catch (...) {
    return false;
  }
}

bool window_is_enabled(WindowHandle w) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    WindowRecord* rec = find_record(reg, w);
    return rec != nullptr && rec->enabled;
  } catch (...) {
    return false;
  }
}

int window_thread(WindowHandle w) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    WindowRecord* rec = find_record(reg, w);
    return rec == nullptr ? 0 : rec->thread;
  } catch (...) {
    return 0;
  }
}

std::string window_title(WindowHandle w) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    WindowRecord* rec = find_record(reg, w);
    return rec == nullptr ? std::string() : rec->title;
  } catch (...) {
    return std::string();
  }
}

WindowHandle window_find(const std::string& title) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    // Slots are reused, so "first" is decided by creation order, not slot order.
    const WindowRecord* best = nullptr;
    std::uint32_t best_index = 0;
    for (std::uint32_t i = 0; i < reg.records.size(); ++i) {
      const WindowRecord& rec = reg.records[i];
      if (!rec.live || rec.title != title) continue;
      if (best == nullptr || rec.serial < best->serial) {
        best = &rec;
        best_index = i;
      }
    }
    return best == nullptr ? 0 : make_handle(best_index, best->generation);
  } catch (...) {
    return 0;
  }
}

bool window_activate(WindowHandle w) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    WindowRecord* rec = find_record(reg, w);
    if (rec == nullptr) return false;
    reg.active = w;
    rec->z = reg.next_z++;
    return true;
  } catch (...) {
    return false;
  }
}

WindowHandle window_active() {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    return find_record(reg, reg.active) == nullptr ? 0 : reg.active;
  } catch (...) {
    return 0;
  }
}

bool post_message(const Message& m) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    WindowRecord* rec = find_record(reg, m.window);
    if (rec == nullptr) return false;
    // Enqueued under the registry mutex so a concurrent window_destroy either
    // refuses this post or sweeps the message out; it cannot outlive the window.
    enqueue(*find_queue(reg, rec->thread, true), m);
    return true;
  } catch (...) {
    return false;
  }
}

bool post_thread_message(int thread, const Message& m) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    std::shared_ptr<ThreadQueue> queue = find_queue(reg, thread, false);
    if (queue == nullptr) return false;
    enqueue(*queue, m);
    return true;
  } catch (...) {
    return false;
  }
}

bool peek_message(Message* out_message, bool remove) {
  try {
    std::shared_ptr<ThreadQueue> queue = own_queue();
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->messages.empty()) return false;
    if (out_message != nullptr) *out_message = queue->messages.front();
    if (remove) queue->messages.pop_front();
    return true;
  } catch (...) {
    return false;
  }
}

bool wait_message(int timeout_ms) {
  try {
    std::shared_ptr<ThreadQueue> queue = own_queue();
    std::unique_lock<std::mutex> lock(queue->mutex);
    auto has_message = [&queue] { return !queue->messages.empty(); };
    if (timeout_ms < 0) {
      queue->arrived.wait(lock, has_message);
      return true;
    }
    return queue->arrived.wait_for(lock, std::chrono::milliseconds(timeout_ms), has_message);
  } catch (...) {
    return false;
  }
}

std::size_t queued_message_count() {
  try {
    std::shared_ptr<ThreadQueue> queue = own_queue();
    std::lock_guard<std::mutex> lock(queue->mutex);
    return queue->messages.size();
  } catch (...) {
    return 0;
  }
}

WindowHandle window_create_button(WindowHandle parent, const std::string& caption, int id) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    const WindowRecord* owner = find_record(reg, parent);
    if (owner == nullptr) return 0;
    const WindowHandle w = new_record(reg, caption, parent, owner->thread);
    if (w == 0) return 0;
    WindowRecord& rec = reg.records[w & kSlotMask];
    rec.child = true;
    rec.button = true;
    rec.control_id = id;
    return w;
  } catch (...) {
    return 0;
  }
}

namespace {

// Runs `read` on the live record of `w` under the registry mutex; `fallback`
// for an invalid handle.
template <typename T, typename Read>
T read_record(WindowHandle w, T fallback, Read read) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    WindowRecord* rec = find_record(reg, w);
    return rec == nullptr ? fallback : read(*rec);
  } catch (...) {
    return fallback;
  }
}

void collect_children(const WindowRegistry& reg, WindowHandle w, std::vector<WindowHandle>& out) {
  std::vector<std::pair<std::uint64_t, WindowHandle>> direct;
  for (std::uint32_t i = 0; i < reg.records.size(); ++i) {
    const WindowRecord& rec = reg.records[i];
    if (rec.live && rec.child && rec.owner == w)
      direct.emplace_back(rec.serial, make_handle(i, rec.generation));
  }
  std::sort(direct.begin(), direct.end());
  for (const auto& entry : direct) {
    out.push_back(entry.second);
    collect_children(reg, entry.second, out);
  }
}

}  // namespace

bool window_is_button(WindowHandle w) {
  return read_record(w, false, [](const WindowRecord& r) { return r.button; });
}

int window_control_id(WindowHandle w) {
  return read_record(w, 0, [](const WindowRecord& r) { return r.child ? r.control_id : 0; });
}

WindowHandle window_parent(WindowHandle w) {
  return read_record(w, WindowHandle{0},
                     [](const WindowRecord& r) { return r.child ? r.owner : WindowHandle{0}; });
}

bool window_set_visible(WindowHandle w, bool visible) {
  return read_record(w, false, [visible](WindowRecord& r) {
    const bool was_visible = r.visible;
    r.visible = visible;
    return was_visible;
  });
}

bool window_is_visible(WindowHandle w) {
  return read_record(w, false, [](const WindowRecord& r) { return r.visible; });
}

std::vector<WindowHandle> window_children(WindowHandle w) {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    std::vector<WindowHandle> out;
    if (find_record(reg, w) != nullptr) collect_children(reg, w, out);
    return out;
  } catch (...) {
    return {};
  }
}

WindowHandle window_top() {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    const WindowRecord* best = nullptr;
    std::uint32_t best_index = 0;
    for (std::uint32_t i = 0; i < reg.records.size(); ++i) {
      const WindowRecord& rec = reg.records[i];
      if (!rec.live || rec.child) continue;
      if (best == nullptr || rec.z > best->z) {
        best = &rec;
        best_index = i;
      }
    }
    return best == nullptr ? 0 : make_handle(best_index, best->generation);
  } catch (...) {
    return 0;
  }
}

bool window_set_procedure(WindowHandle w, WindowProcedure procedure) {
  auto shared = procedure ? std::make_shared<WindowProcedure>(std::move(procedure)) : nullptr;
  return read_record(w, false, [&shared](WindowRecord& r) {
    r.procedure = std::move(shared);
    return true;
  });
}

bool dispatch_message(const Message& m) {
  if (m.window == 0) return false;
  // Called outside the lock: a procedure may create, destroy or post.
  const std::shared_ptr<WindowProcedure> procedure = read_record(
      m.window, std::shared_ptr<WindowProcedure>{}, [](const WindowRecord& r) { return r.procedure; });
  if (!procedure) return false;
  (*procedure)(m);
  return true;
}

void windows_reset_for_tests() {
  try {
    WindowRegistry& reg = window_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    // Records are retired, not erased: the generations must survive so that
    // handles from before the reset stay refused.
    for (std::uint32_t i = 0; i < reg.records.size(); ++i) {
      WindowRecord& rec = reg.records[i];
      if (!rec.live) continue;
      rec.live = false;
      rec.title.clear();
      rec.procedure.reset();
      if (++rec.generation == 0) rec.generation = 1;
      reg.free_slots.push_back(i);
    }
    reg.active = 0;
    for (auto& entry : reg.queues) {
      std::lock_guard<std::mutex> queue_lock(entry.second->mutex);
      entry.second->messages.clear();
    }
    reg.queues.clear();
  } catch (...) {
  }
}

}  // namespace platform
