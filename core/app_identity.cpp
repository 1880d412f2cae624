#include "core/app_identity.h"

namespace core {

AppIdentity& app_identity() {
  static AppIdentity identity;
  return identity;
}

void app_identity_reset_for_tests() { app_identity() = AppIdentity{}; }

}  // namespace core
