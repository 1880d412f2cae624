// One transfer through libcurl with the process's upload settings: the
// handle's set-up (reply, progress, trace, headers, certificate checks, proxy,
// redirections, time-outs, size limit), the transfer itself and what follows
// every transfer (the header lines and progress go, the callback is told).
#pragma once
#include <cstdint>
#include <string>

#include "upload/curl_library.h"

namespace upload {

// What a transfer sends and where its reply goes.
struct TransferRequest {
  std::string url;
  curl_mime* form = nullptr;             // a multipart post, or none (a fetch)
  std::string* download = nullptr;       // the reply's bytes (a fetch), else the reply
                                         // goes to the kept response
  std::uint64_t announced_bytes = 0;     // "started:%lu" (the files' sizes)
};

// Runs the transfer: 0, or -100 - c for libcurl's error c with
// ERR_FILE_TRANSFER recorded ("<libcurl's message> (<details>)"). A reply of
// an HTTP status of 400 or more fails as libcurl's "HTTP response code said
// error" (22), its text kept as the response; a download larger than the
// limit fails as "Maximum file size exceeded" (63).
int perform(const CurlApi& api, const TransferRequest& request);

// The header line list of the next transfer (AddHeader/AddCookie).
bool add_header_line(const std::string& line);

}  // namespace upload
