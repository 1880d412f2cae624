// The multipart form of an upload: the stored form fields first, then one
// part per file with its part name, remote file name and content type.
#pragma once
#include <string>
#include <vector>

#include "upload/curl_library.h"

namespace upload {

struct FilePart {
  std::string part_name;    // "file1"
  std::string path;         // the file sent
  std::string remote_name;  // the name the server is told
};

// The content type of a file of that name's format ("image/tiff", ...,
// "application/octet-stream" for names of no format).
const char* content_type_of(const std::string& name);

// The form, or nullptr with the error recorded (ERR_MEMORY "Upload", or
// ERR_FILE_TRANSFER "formadd=> %d: %s").
Mime build_form(const CurlApi& api, const std::vector<FilePart>& files);

// Sends the form to `url`: perform()'s result, -5 when the form cannot be
// built. The stored form fields are cleared in every case.
int post_files(const CurlApi& api, const std::string& url, const std::vector<FilePart>& files);

}  // namespace upload
