// The request's text stamp on a scanned page (/TEXT).
#pragma once
#include <cstdint>
#include <string>

#include "app/request.h"

// Stamps the page when the request has a text template: the template's
// variables expanded for this page ($file: `path`, $page: page_index + 1)
// and drawn with the request's style. Nothing fails visibly: the library
// traces what it could not draw.
void StampPage(const ScanRequest& request, std::uintptr_t image, const std::string& path, int page_index);
