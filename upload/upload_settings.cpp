#include "upload/upload_settings.h"

#include <algorithm>
#include <cstring>

#include "core/error_record.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/errors.h"

namespace upload {
namespace {

const char* text_or_null(const char* s) { return s ? s : "(null)"; }

}  // namespace

UploadSettings& upload_settings() {
  static UploadSettings s;
  return s;
}

void keep_response(const char* bytes, std::size_t length) {
  std::string& r = upload_settings().response;
  r.append(bytes, std::min(length, kResponseBytes - std::min(r.size(), kResponseBytes)));
}

namespace {
const bool kSettingsRegistered = core::register_state(
    {"upload.settings", [] { upload_settings() = UploadSettings{}; }, nullptr, core::ResetStage::Plain});
}  // namespace

}  // namespace upload

using upload::upload_settings;

int32_t UPLOAD_AddFormField(const char* name, const char* value) {
  LogPrint("UPLOAD_AddFormField('%s', '%s')\n", upload::text_or_null(name), upload::text_or_null(value));
  upload::UploadSettings& s = upload_settings();
  if (s.fields.size() >= upload::kMaxFormFields) {
    RecordError(ERR_FILE_TRANSFER, "too many AddFormFields");
    return 0;
  }
  if (!name || !value) {
    RecordError(ERR_BAD_PARAMETER, "UPLOAD_AddFormField");
    return 0;
  }
  s.fields.emplace_back(name, value);
  return 1;
}

void UPLOAD_SetProxy(const char* address, const char* user_password, int32_t tunnel) {
  upload::UploadSettings& s = upload_settings();
  s.proxy = std::string(address ? address : "").substr(0, upload::kMaxSettingText);
  s.proxy_user_password = std::string(user_password ? user_password : "").substr(0, upload::kMaxSettingText);
  s.proxy_tunnel = tunnel != 0;
}

void UPLOAD_EnableProgressBar(int32_t enable) {
  upload_settings().progress_bar = enable != 0;
  LogPrint("UPLOAD_EnableProgressBar(%d)... bHideProgress=%d\n", enable, enable == 0 ? 1 : 0);
}

void UPLOAD_SetProgressCallback(UPLOAD_PROGRESS_CALLBACK callback, intptr_t user) {
  LogPrint("UPLOAD_SetProgressCallback(0x%p,0x%p)\n", reinterpret_cast<void*>(callback),
           reinterpret_cast<void*>(user));
  upload_settings().callback = callback;
  upload_settings().callback_user = user;
}

void UPLOAD_GetResponse(char* out) {
  if (!out) {
    RecordError(ERR_BAD_PARAMETER, "UPLOAD_GetResponse: NULL ptr");
    return;
  }
  const std::string& r = upload_settings().response;
  const std::size_t n = std::min<std::size_t>(r.size(), 1023);
  std::memcpy(out, r.data(), n);
  out[n] = '\0';
}

int32_t UPLOAD_SetCertificateFile(const char* path) {
  const std::string p = path ? path : "";
  if (p.size() > upload::kMaxCaPath) {
    RecordError(ERR_BAD_FILENAME, p.c_str());
    return 0;
  }
  upload_settings().ca_file = p;
  LogPrint("UPLOAD_SetCertificateFile(\"%s\")\n", p.c_str());
  return 1;
}

void UPLOAD_SetVerifyPeer(int32_t verify) {
  upload_settings().verify_peer = verify != 0;
  if (!verify) LogPrint("UPLOAD_SetVerifyPeer(0): INSECURE, the server's certificate is not checked\n");
}

void UPLOAD_SetMaxDownloadBytes(int64_t bytes) { upload_settings().max_download_bytes = std::max<int64_t>(bytes, 1); }

void UPLOAD_SetTimeouts(int32_t connect_seconds, int32_t stall_seconds) {
  upload_settings().connect_seconds = std::max(connect_seconds, 1);
  upload_settings().stall_seconds = std::max(stall_seconds, 1);
}
