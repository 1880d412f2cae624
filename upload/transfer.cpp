#include "upload/transfer.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "platform/interrupt.h"
#include "platform/ui.h"
#include "upload/upload_settings.h"

namespace upload {
namespace {

constexpr long kMaxRedirections = 10;
// Only these travel; a redirection to file: or another scheme would read
// or reach what the caller never named.
constexpr const char* kProtocols = "http,https,ftp";

// What the handle's functions share during one transfer.
struct Progress {
  const CurlApi* api = nullptr;
  CURL* handle = nullptr;
  std::string* download = nullptr;
  std::int64_t limit = 0;
  std::int64_t received = 0;
  bool over_limit = false;
  bool no_memory = false;
  bool shown = false;
  int last_percent = -1;
};

void tell(const char* text) {
  const UploadSettings& s = upload_settings();
  if (s.callback) s.callback(text, s.callback_user);
}

// The reply's bytes traced as text, or only their first 80 characters when
// they look binary (an image sent back).
void trace_reply(const char* bytes, std::size_t n) {
  static constexpr unsigned char kBinaryMarks[] = {0, 1, 16, 33, 64, 70, 79};
  bool binary = false;
  if (n > 80) {
    for (std::size_t i = 0; i < n && !binary; ++i) {
      const auto c = static_cast<unsigned char>(bytes[i]);
      binary = c > 127 || std::find(std::begin(kBinaryMarks), std::end(kBinaryMarks), c) != std::end(kBinaryMarks);
    }
  }
  LogPrint("%.*s", static_cast<int>(binary ? 80 : n), bytes);
}

// Room for the whole file the server announced (within the limit), so that
// a large download is not copied again each time its buffer grows.
void reserve_announced(Progress& p) {
  curl_off_t announced = -1;
  if (p.api->easy_getinfo(p.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK && announced > 0)
    p.download->reserve(static_cast<std::size_t>(std::min<std::int64_t>(announced, p.limit)));
}

size_t on_reply(char* bytes, size_t size, size_t count, void* user) {
  auto* p = static_cast<Progress*>(user);
  const std::size_t n = size * count;
  // A reply, kept or not, ends at the limit: a server that sends for ever
  // must not hold the caller for ever.
  p->received += static_cast<std::int64_t>(n);
  if (p->received > p->limit) {
    p->over_limit = true;
    return 0;
  }
  if (!p->download) {
    keep_response(bytes, n);
    trace_reply(bytes, n);
    return n;
  }
  try {
    if (p->download->empty()) reserve_announced(*p);
    p->download->append(bytes, n);
  } catch (const std::bad_alloc&) {
    RecordError(ERR_MEMORY, "file download");
    p->no_memory = true;
    return 0;
  }
  return n;
}

int on_progress(void* user, curl_off_t dl_total, curl_off_t dl_now, curl_off_t ul_total, curl_off_t ul_now) {
  auto* p = static_cast<Progress*>(user);
  const bool upload = ul_total > 0;
  const double total = static_cast<double>(upload ? ul_total : dl_total);
  const double done = static_cast<double>(upload ? ul_now : dl_now);
  if (total > 0) {
    const int percent = static_cast<int>(100 * done / total);
    if (percent != p->last_percent) {
      p->last_percent = percent;
      LogPrint("Progress %g/%g\n", done, total);
      char text[32];
      std::snprintf(text, sizeof text, "progress:%d%%", percent);
      tell(text);
      if (p->shown) platform::ui().progress_update(done / total);
    }
  }
  // Ctrl-C or a termination request ends the transfer, not only the wait.
  return platform::interrupt_raised() ? 1 : 0;
}

int on_debug(CURL*, curl_infotype type, char* data, size_t size, void*) {
  switch (type) {
    case CURLINFO_TEXT: LogPrint("*  %.*s", static_cast<int>(size), data); break;
    case CURLINFO_HEADER_IN: LogPrint("<< %.*s", static_cast<int>(size), data); break;
    case CURLINFO_HEADER_OUT: LogPrint(">> %.*s", static_cast<int>(size), data); break;
    case CURLINFO_DATA_IN: LogPrint("<< [data]\n"); break;
    case CURLINFO_DATA_OUT: LogPrint(">> [data]\n"); break;
    default: break;
  }
  return 0;
}

bool is_http(const std::string& url) { return strncasecmp(url.c_str(), "http", 4) == 0; }

void set_security(const CurlApi& api, CURL* h, const UploadSettings& s) {
  api.easy_setopt(h, CURLOPT_PROTOCOLS_STR, kProtocols);
  api.easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, kProtocols);
  if (!s.ca_file.empty()) api.easy_setopt(h, CURLOPT_CAINFO, s.ca_file.c_str());
  if (!s.verify_peer) {
    LogPrint("INSECURE: the server's certificate and name are not verified\n");
    api.easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    api.easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  if (!s.proxy.empty()) api.easy_setopt(h, CURLOPT_PROXY, s.proxy.c_str());
  if (!s.proxy_user_password.empty()) api.easy_setopt(h, CURLOPT_PROXYUSERPWD, s.proxy_user_password.c_str());
  api.easy_setopt(h, CURLOPT_HTTPPROXYTUNNEL, s.proxy_tunnel ? 1L : 0L);
}

void set_limits(const CurlApi& api, CURL* h, const UploadSettings& s) {
  api.easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  api.easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirections);
  api.easy_setopt(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(s.connect_seconds));
  // A server that stops sending (or never answers) is given up after the
  // stall time instead of holding the caller for ever.
  api.easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  api.easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(s.stall_seconds));
  api.easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(s.max_download_bytes));
}

Slist header_list(const CurlApi& api, const std::vector<std::string>& lines) {
  Slist list;
  for (const std::string& line : lines) {
    curl_slist* grown = api.slist_append(list.get(), line.c_str());
    if (!grown) break;
    (void)list.release();
    list.reset(grown);
  }
  return list;
}

// libcurl's code for what happened, with the reasons it cannot see itself.
CURLcode outcome(const CurlApi& api, CURL* h, CURLcode c, const Progress& p, const std::string& url, char* details,
                 std::size_t details_size) {
  if (p.over_limit) {
    std::snprintf(details, details_size, "the download is larger than %lld bytes",
                  static_cast<long long>(p.limit));
    return CURLE_FILESIZE_EXCEEDED;
  }
  if (c != CURLE_OK || !is_http(url)) return c;
  long status = 0;
  api.easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (status < 400) return c;
  // A server that refuses the post (or has no such file) did not take the
  // scans: that is no success, whatever it sent back as a page.
  std::snprintf(details, details_size, "The requested URL returned error: %ld", status);
  return CURLE_HTTP_RETURNED_ERROR;
}

// What follows every transfer, whatever its end.
void finish(Progress& p) {
  upload_settings().headers.clear();
  if (p.shown) platform::ui().progress_close();
  tell("stopped");
  tell("server response:");
}

}  // namespace

bool add_header_line(const std::string& line) {
  try {
    upload_settings().headers.push_back(line);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int perform(const CurlApi& api, const TransferRequest& r) {
  const UploadSettings& s = upload_settings();
  Progress p;
  p.download = r.download;
  p.limit = s.max_download_bytes;
  Easy easy(api.easy_init());
  if (!easy) {
    RecordError(ERR_FAILURE, "curl init");
    finish(p);
    return -5;
  }
  CURL* h = easy.get();
  p.api = &api;
  p.handle = h;
  char details[CURL_ERROR_SIZE + 64] = {0};
  api.easy_setopt(h, CURLOPT_ERRORBUFFER, details);
  api.easy_setopt(h, CURLOPT_WRITEFUNCTION, on_reply);
  api.easy_setopt(h, CURLOPT_WRITEDATA, &p);
  api.easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  api.easy_setopt(h, CURLOPT_XFERINFOFUNCTION, on_progress);
  api.easy_setopt(h, CURLOPT_XFERINFODATA, &p);
  if (LogLevel() > 0) {
    api.easy_setopt(h, CURLOPT_DEBUGFUNCTION, on_debug);
    api.easy_setopt(h, CURLOPT_VERBOSE, 1L);
  }
  if (r.form) api.easy_setopt(h, CURLOPT_MIMEPOST, r.form);
  const Slist headers = header_list(api, s.headers);
  if (headers) api.easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  api.easy_setopt(h, CURLOPT_URL, r.url.c_str());
  set_security(api, h, s);
  set_limits(api, h, s);

  char started[40];
  std::snprintf(started, sizeof started, "started:%lu", static_cast<unsigned long>(r.announced_bytes));
  tell(started);
  if (s.progress_bar) {
    platform::ui().progress_show(r.form ? "Uploading" : "Downloading");
    p.shown = true;
  }
  LogPrint("%s", r.form ? "Starting upload...\n" : "downloading...\n");
  CURLcode c = api.easy_perform(h);
  LogPrint("OrvCurl_perform => %d\n", static_cast<int>(c));
  c = outcome(api, h, c, p, r.url, details, sizeof details);
  int result = 0;
  if (c != CURLE_OK) {
    LogPrint("OrvCurl_perform failed, details:\n%s\n", details);
    if (!p.no_memory) RecordErrorF(ERR_FILE_TRANSFER, "%s (%s)", api.easy_strerror(c), details);
    result = -100 - static_cast<int>(c);
  }
  finish(p);
  return result;
}

}  // namespace upload

int32_t UPLOAD_AddHeader(const char* line) {
  if (!line) {
    LogPrint("? null header string\n");
    return 0;
  }
  LogPrint("UPLOAD_AddHeader(\"%s\")\n", line);
  if (!upload::curl_api()) return 0;
  return upload::add_header_line(line) ? 1 : 0;
}

int32_t UPLOAD_AddCookie(const char* cookie) {
  if (!cookie) {
    LogPrint("? null cookie string\n");
    return 0;
  }
  LogPrint("UPLOAD_AddCookie(\"%s\")\n", cookie);
  if (!upload::curl_api()) return 0;
  if (!upload::add_header_line(std::string("Cookie: ") + cookie)) {
    RecordError(ERR_MEMORY, "AddCookie");
    return 0;
  }
  return 1;
}
