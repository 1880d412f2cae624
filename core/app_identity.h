// The application as the whole library presents it: its title captions every
// message box and names the software in the files the writers make.
#pragma once
#include <string>

namespace core {

struct AppIdentity {
  std::string title = "Application";   // at most 199 characters
};

AppIdentity& app_identity();
void app_identity_reset_for_tests();

}  // namespace core
