// Helpers shared by the source listing, selection and opening.
#pragma once
#include <string>

#include "twain/session/identity.h"

namespace twain {

// Names compared without regard to case over at most 32 characters.
bool source_names_equal(const std::string& a, const std::string& b);

// Keeps the process's current folder across a Source Manager walk: some
// sources change it while they are queried.
class CurrentFolderKeeper {
 public:
  CurrentFolderKeeper();
  ~CurrentFolderKeeper();
  CurrentFolderKeeper(const CurrentFolderKeeper&) = delete;
  CurrentFolderKeeper& operator=(const CurrentFolderKeeper&) = delete;

 private:
  std::string folder_;
};

// Asks the Source Manager for its default source into `area` (zeroed
// first). True on success; an over-long name is cut, traced as
// `overrun_trace`.
bool read_default_identity(IdentityArea& area, const char* overrun_trace);

// What follows a successful open: the device settings asked for so far are
// applied (transfer count, units, then every deferred setting). False when
// they could not be; the source stays open.
bool apply_settings_after_open();

}  // namespace twain
