// Posting files and images: the UPLOAD_ calls that send.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"
#include "orivane/upload_api.h"
#include "platform/paths.h"
#include "upload/form.h"
#include "upload/upload_settings.h"

namespace {

constexpr std::size_t kMaxPath = 260;

std::string or_default_field(const char* field) { return field && *field ? field : "file"; }

std::string trimmed(const std::string& s) {
  const std::size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// The files of a list "a.tif; b.pdf|c.jpg" as parts <field>1, <field>2, ...;
// false with ERR_BAD_FILENAME (the rest of the list) for an empty or
// over-long path.
bool parts_of_list(const std::string& list, const std::string& field, std::vector<upload::FilePart>& out) {
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find_first_of(";|", start), list.size());
    const std::string path = trimmed(list.substr(start, end - start));
    if (path.empty() || path.size() > kMaxPath) {
      RecordError(ERR_BAD_FILENAME, list.c_str() + start);
      return false;
    }
    const std::string part = field + std::to_string(out.size() + 1);
    const std::string remote = std::filesystem::path(path).filename().string();
    LogPrint("queuing: field=%s, filename=file=%s\n", part.c_str(), path.c_str());
    out.push_back({part, path, remote});
    start = end + 1;
  }
  return true;
}

// A folder of our own for the files an upload writes, gone with the object
// (with whatever the writers left in it).
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = platform::temp_folder() + "/OrvPTU.XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The checks made before anything is loaded or written: -3 with the error
// recorded, else 0.
int check_image_request(const DIB_HANDLE* images, int count, const char* url, const char* remote_name) {
  if (!remote_name) {
    RecordError(ERR_BAD_PARAMETER, "DibsToURL: NULL filename");
    return -3;
  }
  if (!url || !*url) {
    RecordError(ERR_BAD_PARAMETER, "DibsToURL: empty URL");
    return -3;
  }
  if (FormatFromExtension(remote_name, FF_UNKNOWN) == FF_UNKNOWN) {
    RecordError(ERR_BAD_PARAMETER, remote_name);
    return -3;
  }
  if (count < 1 || !images) {
    RecordErrorF(ERR_BAD_PARAMETER, "upload image count=%d?", count);
    return -3;
  }
  return 0;
}

// Writes the images for the post: one file (together) or one per image, with
// their parts. 0, or the writer's failure / -5.
int write_parts(const DIB_HANDLE* images, int count, const std::string& folder, const std::string& remote,
                const std::string& field, bool separately, std::vector<upload::FilePart>& parts) {
  if (folder.empty()) {
    RecordError(ERR_FAILURE, "DibsToURL:GTIN");
    return -5;
  }
  const std::filesystem::path name(remote);
  const std::string base = name.stem().string(), ext = name.extension().string();
  if (!separately) {
    const std::string path = folder + "/OrvPTU" + ext;
    const int written = DIB_WriteArrayToFilename(images, count, path.c_str());
    if (written != 0) return written;
    parts.push_back({field, path, remote});
    return 0;
  }
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i + 1);
    const std::string path = folder + "/OrvPTU" + n + ext;
    const int written = DIB_WriteToFilename(images[i], path.c_str());
    if (written != 0) return written;
    parts.push_back({field + n, path, base + n + ext});
  }
  return 0;
}

int dibs_to_url(const DIB_HANDLE* images, int count, const char* url, const char* remote_name, const char* field,
                bool separately) {
  core::error_clear();
  upload::upload_settings().response.clear();
  const std::string part_field = or_default_field(field);
  LogPrint("DibsToURL(0x%p,%d,\"%s\",\"%s\",\"%s\",%s)\n", static_cast<const void*>(images), count, url ? url : "",
           remote_name ? remote_name : "", part_field.c_str(), separately ? "SEPARATE" : "TOGETHER");
  if (const int bad = check_image_request(images, count, url, remote_name)) return bad;
  const upload::CurlApi* api = upload::curl_api();
  if (!api) return -3;
  TempFolder folder;
  std::vector<upload::FilePart> parts;
  if (const int failed = write_parts(images, count, folder.path(), remote_name, part_field, separately, parts)) {
    upload::upload_settings().fields.clear();
    return failed;
  }
  for (const upload::FilePart& p : parts)
    LogPrint("queuing: field=%s, filename=%s\n   file= %s\n", p.part_name.c_str(), p.remote_name.c_str(),
             p.path.c_str());
  return upload::post_files(*api, url, parts);
}

}  // namespace

int32_t UPLOAD_FilesToURL(const char* paths, const char* url, const char* field) {
  core::error_clear();
  upload::upload_settings().response.clear();
  const std::string part_field = or_default_field(field);
  LogPrint("FilesToURL(\"%s\",\"%s\", \"%s\")\n", paths ? paths : "", url ? url : "", part_field.c_str());
  int result = -3;
  std::vector<upload::FilePart> parts;
  if (!paths || !url) {
    RecordError(ERR_BAD_PARAMETER, "FilesToURL");
  } else if (const upload::CurlApi* api = upload::curl_api(); api) {
    result = parts_of_list(paths, part_field, parts) ? upload::post_files(*api, url, parts) : -5;
  }
  if (result == -5 || result == -3) upload::upload_settings().fields.clear();
  LogPrint("FilesToURL => %d\n", result);
  return result;
}

int32_t UPLOAD_DibsToURL(const DIB_HANDLE* images, int32_t count, const char* url, const char* remote_name,
                         const char* field) {
  const int result = dibs_to_url(images, count, url, remote_name, field, false);
  LogPrint("DibsToURL => %d\n", result);
  return result;
}

int32_t UPLOAD_DibsToURLSeparately(const DIB_HANDLE* images, int32_t count, const char* url,
                                   const char* remote_name, const char* field) {
  const int result = dibs_to_url(images, count, url, remote_name, field, true);
  LogPrint("DibsToURL => %d\n", result);
  return result;
}

int32_t UPLOAD_DibToURL(DIB_HANDLE image, const char* url, const char* remote_name, const char* field) {
  LogPrint("UPLOAD_DibToURL\n");
  return UPLOAD_DibsToURL(&image, 1, url, remote_name, field);
}
