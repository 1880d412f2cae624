#include "core/state_registry.h"

#include <algorithm>
#include <mutex>

#include "platform/locale.h"
#include "platform/window.h"

namespace core {
namespace {

struct Registry {
  std::mutex mutex;
  std::vector<StateEntry> entries;
};

// Built on first use: states register from static initialisers of files
// whose order the language leaves open.
Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

bool register_state(const StateEntry& entry) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.entries.push_back(entry);
  return true;
}

std::vector<StateEntry> registered_states() {
  Registry& r = registry();
  std::vector<StateEntry> entries;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    entries = r.entries;
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const StateEntry& a, const StateEntry& b) { return a.stage < b.stage; });
  return entries;
}

// The resets run outside the lock: a reset may itself touch other states.
void reset_states() {
  for (const StateEntry& e : registered_states())
    if (e.reset) e.reset();
}

void reset_states_for_reset_all() {
  for (const StateEntry& e : registered_states())
    if (e.reset_all) e.reset_all();
}

namespace {

// The platform's and the trace's states, registered here as those layers lie
// below this one. Those without a reset are process resources the whole run
// (and every test) shares.
void reset_locale() { platform::locale_set(platform::locale_from_environment()); }

const bool kPlatformRegistered = [] {
  register_state({"platform.locale", reset_locale, nullptr});
  register_state({"platform.windows", platform::windows_reset_for_tests, nullptr, ResetStage::Last});
  for (const char* name : {"platform.ui", "platform.settings_store", "platform.clipboard", "platform.memory_blocks",
                           "platform.crash_guard", "log.trace"})
    register_state({name, nullptr, nullptr, ResetStage::Resource});
  return true;
}();

}  // namespace

}  // namespace core
