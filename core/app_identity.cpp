#include "core/app_identity.h"

#include "core/state_registry.h"

namespace core {

AppIdentity& app_identity() {
  static AppIdentity identity;
  return identity;
}

void app_identity_reset_for_tests() { app_identity() = AppIdentity{}; }

}  // namespace core

namespace {

// The application's title: the program's, kept across sessions.
const bool kAppIdentityRegistered =
    core::register_state({"core.app_identity", core::app_identity_reset_for_tests, nullptr});

}  // namespace
