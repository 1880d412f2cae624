// The TWAIN session: the one set of process-wide session state (state, the
// application identity and title, the open source's identity).
#pragma once
#include <string>

namespace twain {

struct Session {
  int state = 1;            // 1..7
  int previous_state = 1;
  std::string app_title = "Application";   // message-box caption
  // Application identity.
  int app_major = 1, app_minor = 0, app_language = 13, app_country = 1;
  std::string app_version_info = "Unknown";
  std::string app_manufacturer = "Unknown";
  std::string app_family = "Unspecified";
  std::string app_product = "Application using Orivane";
  // Open source's identity (meaningful in state 4 and above).
  std::string source_product;
  std::string source_manufacturer;
  unsigned source_major = 0, source_minor = 0;
  // Last TWAIN result kept by the call gates.
  int last_return_code = 0;
  int last_condition_code = 0;
  int attach_count = 0;
};

Session& session();
// Name of a state for traces and the front end: 1 "PRESESSION" ... 7
// "TRANSFERRING"; anything else "State 0?".
const char* state_name(int state);
// Enters a state, tracing "State: %s -> %s" when it changes.
void set_state(int state);

void session_reset_for_tests();

}  // namespace twain
