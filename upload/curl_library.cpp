#include "upload/curl_library.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "core/error_record.h"
#include "core/modules.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "platform/module.h"

namespace upload {
namespace {

struct Library {
  platform::ModuleHandle module = nullptr;
  CurlApi api{};
};

Library& library() {
  static Library l;
  return l;
}

template <typename Fn>
bool bind(platform::ModuleHandle m, const char* name, Fn& out) {
  out = reinterpret_cast<Fn>(platform::module_symbol(m, name));
  return out != nullptr;
}

bool bind_all(platform::ModuleHandle m, CurlApi& a) {
  return bind(m, "curl_easy_init", a.easy_init) && bind(m, "curl_easy_setopt", a.easy_setopt) &&
         bind(m, "curl_easy_perform", a.easy_perform) && bind(m, "curl_easy_cleanup", a.easy_cleanup) &&
         bind(m, "curl_easy_getinfo", a.easy_getinfo) && bind(m, "curl_easy_strerror", a.easy_strerror) &&
         bind(m, "curl_version", a.version) && bind(m, "curl_slist_append", a.slist_append) &&
         bind(m, "curl_slist_free_all", a.slist_free_all) && bind(m, "curl_mime_init", a.mime_init) &&
         bind(m, "curl_mime_addpart", a.mime_addpart) && bind(m, "curl_mime_name", a.mime_name) &&
         bind(m, "curl_mime_data", a.mime_data) && bind(m, "curl_mime_filedata", a.mime_filedata) &&
         bind(m, "curl_mime_filename", a.mime_filename) && bind(m, "curl_mime_type", a.mime_type) &&
         bind(m, "curl_mime_free", a.mime_free);
}

std::string library_file() {
  const char* chosen = std::getenv("QUILLET_CURL_LIBRARY");
  return chosen && *chosen ? chosen : "libcurl.so.4";
}

}  // namespace

const CurlApi* curl_api() {
  Library& l = library();
  if (l.module) return &l.api;
  std::string error;
  platform::ModuleHandle m = platform::module_open(library_file(), &error);
  if (!m) {
    LogPrint("cannot load %s: %s\n", library_file().c_str(), error.c_str());
    RecordErrorF(ERR_FILE_TRANSFER, "Could not load OrvCurl.dll (GLE %d)", ENOENT);
    return nullptr;
  }
  CurlApi api{};
  if (!bind_all(m, api)) {
    platform::module_close(m);
    RecordError(ERR_FILE_TRANSFER, "OrvCurl.dll missing entry point");
    return nullptr;
  }
  l.module = m;
  l.api = api;
  core::register_loaded_module({"OrvCurl", platform::module_path(m), 0, m});
  LogPrint("OrvCurl version %s\n", api.version());
  return &l.api;
}

void EasyDeleter::operator()(CURL* h) const {
  if (h) library().api.easy_cleanup(h);
}
void MimeDeleter::operator()(curl_mime* m) const {
  if (m) library().api.mime_free(m);
}
void SlistDeleter::operator()(curl_slist* l) const {
  if (l) library().api.slist_free_all(l);
}

namespace {
// libcurl stays loaded for the life of the process: its TLS library keeps
// process-wide state that does not survive being unloaded.
const bool kCurlRegistered =
    core::register_state({"upload.curl_library", nullptr, nullptr, core::ResetStage::Resource});
}  // namespace

}  // namespace upload
