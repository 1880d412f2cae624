// Shared set-up for unit tests: every process-wide struct back to its start.
#pragma once
#include <filesystem>
#include <string>

#include "app/report.h"
#include "core/app_identity.h"
#include "core/error_record.h"
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
#include "twain/acquire.h"
#include "twain/deferred.h"
#include "twain/memory_xfer.h"
#include "twain/multipage_loop.h"
#include "twain/session.h"
#include "twain/switches.h"

inline void ResetForTests() {
  // Library code traces; tracing before the library is attached warns the user.
  if (!LogAttached()) LogAttach();
  front_end_reset_for_tests();
  core::error_reset_for_tests();
  core::app_identity_reset_for_tests();
  twain::session_reset_for_tests();
  twain::switches() = twain::Switches{};
  twain::deferred_reset();
  twain::acquisition_reset();
  twain::memory_transfer_reset_for_tests();
  twain::ext_info_reset();
  twain::blank_flag() = 0;
  twain::multipage_loop_reset();
  fileio::multipage_reset_for_tests();
  fileio::output_settings_reset_for_tests();
  fileio::pdf_settings_reset_for_tests();
  fileio::codec_modules_reset_for_tests();
  fileio::file_state_reset_for_tests();
  dib::convert_defaults_reset();
  dib::crop_size_range() = dib::CropSizeRange{};
  dib::image_limit() = dib::ImageLimit{DIB_DEFAULT_MAX_IMAGE_PIXELS};
}

// The build folder: the unit tests run from its "tests" folder, and the
// codec modules, the Source Manager and the data sources lie there.
inline std::string build_folder() {
  return std::filesystem::path(platform::program_path()).parent_path().parent_path().string();
}
