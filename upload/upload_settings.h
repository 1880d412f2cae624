// What every transfer uses, set by the UPLOAD_ calls and the settings file and
// kept for the process: form fields and header lines (cleared after each
// upload or transfer), proxy, certificate checks, limits, progress, and the
// server's reply to the last transfer.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "orivane/upload_api.h"

namespace upload {

constexpr std::size_t kMaxFormFields = 128;
constexpr std::size_t kMaxSettingText = 255;
constexpr std::size_t kMaxCaPath = 259;
constexpr std::size_t kResponseBytes = 4096;  // the rest of a long reply is dropped

struct UploadSettings {
  std::vector<std::pair<std::string, std::string>> fields;
  std::vector<std::string> headers;
  std::string proxy;
  std::string proxy_user_password;
  bool proxy_tunnel = false;
  std::string ca_file;
  bool verify_peer = true;
  bool progress_bar = true;
  UPLOAD_PROGRESS_CALLBACK callback = nullptr;
  intptr_t callback_user = 0;
  std::int64_t max_download_bytes = std::int64_t{1} << 30;
  int connect_seconds = 20;
  int stall_seconds = 60;
  std::string response;
};

UploadSettings& upload_settings();

// Appends to the reply kept for UPLOAD_GetResponse, up to its size.
void keep_response(const char* bytes, std::size_t length);

}  // namespace upload
