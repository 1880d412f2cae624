// The system's libcurl, loaded on first use: its entry points, and owners for
// the objects it hands out so that every path frees them.
#pragma once
#define CURL_DISABLE_TYPECHECK 1
#define CURL_NO_OLDIES 1
#include <curl/curl.h>

#include <memory>

namespace upload {

struct CurlApi {
  decltype(&curl_easy_init) easy_init;
  decltype(&curl_easy_setopt) easy_setopt;
  decltype(&curl_easy_perform) easy_perform;
  decltype(&curl_easy_cleanup) easy_cleanup;
  decltype(&curl_easy_getinfo) easy_getinfo;
  decltype(&curl_easy_strerror) easy_strerror;
  decltype(&curl_version) version;
  decltype(&curl_slist_append) slist_append;
  decltype(&curl_slist_free_all) slist_free_all;
  decltype(&curl_mime_init) mime_init;
  decltype(&curl_mime_addpart) mime_addpart;
  decltype(&curl_mime_name) mime_name;
  decltype(&curl_mime_data) mime_data;
  decltype(&curl_mime_filedata) mime_filedata;
  decltype(&curl_mime_filename) mime_filename;
  decltype(&curl_mime_type) mime_type;
  decltype(&curl_mime_free) mime_free;
};

// The loaded library, loading it when it is not yet: nullptr with
// ERR_FILE_TRANSFER recorded when it cannot be loaded or lacks an entry point
// (tried again at the next call). The file is QUILLET_CURL_LIBRARY when set,
// else libcurl.so.4.
const CurlApi* curl_api();

struct EasyDeleter {
  void operator()(CURL* h) const;
};
struct MimeDeleter {
  void operator()(curl_mime* m) const;
};
struct SlistDeleter {
  void operator()(curl_slist* l) const;
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using Mime = std::unique_ptr<curl_mime, MimeDeleter>;
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

}  // namespace upload
