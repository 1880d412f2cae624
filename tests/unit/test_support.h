// Shared set-up for unit tests: every process-wide struct back to its start.
#pragma once
#include <filesystem>
#include <string>

#include "app/report.h"
#include "core/app_identity.h"
#include "core/error_record.h"
#include "core/state_registry.h"
#include "dib/autocrop.h"
#include "dib/convert.h"
#include "dib/image_limit.h"
#include "fileio/codec_modules.h"
#include "fileio/file_state.h"
#include "fileio/multipage.h"
#include "fileio/options.h"
#include "fileio/pdf_options.h"
#include "log/trace.h"
#include "orivane/dib_api.h"
#include "platform/paths.h"
#include "twain/acquisition/acquire.h"
#include "twain/acquisition/memory_xfer.h"
#include "twain/acquisition/multipage_loop.h"
#include "twain/capabilities/deferred.h"
#include "twain/capabilities/switches.h"
#include "twain/session/session.h"

inline void ResetForTests() {
  // Library code traces; tracing before the library is attached warns the user.
  if (!LogAttached()) LogAttach();
  // Every state the library and the front end registered, back to a fresh
  // process's value.
  core::reset_states();
}

// The build folder: the unit tests run from its "tests" folder, and the
// codec modules, the Source Manager and the data sources lie there.
inline std::string build_folder() {
  return std::filesystem::path(platform::program_path()).parent_path().parent_path().string();
}
