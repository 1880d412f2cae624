// The TWAIN session state and the application identity.
#include "twain/session.h"

#include <array>

#include "log/trace.h"

namespace twain {

namespace {
constexpr std::array<const char*, 8> kStateNames = {
    "State 0?",     "PRESESSION",     "DSM_LOADED",     "DSM_OPEN",
    "SOURCE_OPEN",  "SOURCE_ENABLED", "TRANSFER_READY", "TRANSFERRING"};
}

Session& session() {
  static Session s;
  return s;
}

const char* state_name(int state) {
  if (state < 1 || state >= static_cast<int>(kStateNames.size())) return kStateNames[0];
  return kStateNames[state];
}

void set_state(int state) {
  Session& s = session();
  if (state == s.state) return;
  LogPrint("State: %s -> %s\n", state_name(s.state), state_name(state));
  LogFlush();
  s.previous_state = s.state;
  s.state = state;
}

void session_reset_for_tests() { session() = Session{}; }

}  // namespace twain
