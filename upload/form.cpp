#include "upload/form.h"

#include <sys/stat.h>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_options.h"
#include "upload/transfer.h"
#include "upload/upload_settings.h"

namespace upload {
namespace {

// The first failure of the parts' set-up, recorded as the form's failure.
bool form_failed(const CurlApi& api, CURLcode c) {
  if (c == CURLE_OK) return false;
  if (c == CURLE_OUT_OF_MEMORY) RecordError(ERR_MEMORY, "Upload");
  else RecordErrorF(ERR_FILE_TRANSFER, "formadd=> %d: %s", static_cast<int>(c), api.easy_strerror(c));
  return true;
}

bool add_field(const CurlApi& api, curl_mime* form, const std::string& name, const std::string& value) {
  curl_mimepart* part = api.mime_addpart(form);
  if (!part) return !form_failed(api, CURLE_OUT_OF_MEMORY);
  return !form_failed(api, api.mime_name(part, name.c_str())) &&
         !form_failed(api, api.mime_data(part, value.data(), value.size()));
}

bool add_file(const CurlApi& api, curl_mime* form, const FilePart& f) {
  curl_mimepart* part = api.mime_addpart(form);
  if (!part) return !form_failed(api, CURLE_OUT_OF_MEMORY);
  return !form_failed(api, api.mime_name(part, f.part_name.c_str())) &&
         !form_failed(api, api.mime_filedata(part, f.path.c_str())) &&
         !form_failed(api, api.mime_filename(part, f.remote_name.c_str())) &&
         !form_failed(api, api.mime_type(part, content_type_of(f.remote_name)));
}

std::uint64_t total_size(const std::vector<FilePart>& files) {
  std::uint64_t total = 0;
  for (const FilePart& f : files) {
    struct stat st {};
    if (stat(f.path.c_str(), &st) == 0) total += static_cast<std::uint64_t>(st.st_size);
  }
  return total;
}

}  // namespace

const char* content_type_of(const std::string& name) {
  switch (FormatFromExtension(name.c_str(), FF_UNKNOWN)) {
    case FF_TIFF: return "image/tiff";
    case FF_BMP: return "image/bmp";
    case FF_JPEG: return "image/jpeg";
    case FF_PNG: return "image/png";
    case FF_DCX: return "image/dcx";
    case FF_GIF: return "image/gif";
    case FF_PDF: return "application/pdf";
    default: return "application/octet-stream";
  }
}

Mime build_form(const CurlApi& api, const std::vector<FilePart>& files) {
  Mime form(api.mime_init(nullptr));
  if (!form) {
    RecordError(ERR_MEMORY, "Upload");
    return nullptr;
  }
  for (const auto& [name, value] : upload_settings().fields) {
    if (!add_field(api, form.get(), name, value)) return nullptr;
  }
  for (const FilePart& f : files) {
    if (!add_file(api, form.get(), f)) return nullptr;
  }
  return form;
}

int post_files(const CurlApi& api, const std::string& url, const std::vector<FilePart>& files) {
  Mime form = build_form(api, files);
  upload_settings().fields.clear();
  if (!form) {
    upload_settings().headers.clear();
    return -5;
  }
  TransferRequest r;
  r.url = url;
  r.form = form.get();
  r.announced_bytes = total_size(files);
  return perform(api, r);
}

}  // namespace upload
