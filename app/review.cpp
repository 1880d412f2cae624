// The review window's answers as the scan loop counts them.
#include "app/review.h"

#include "app/report.h"
#include "log/trace.h"
#include "platform/ui.h"

namespace {

platform::UiReviewEnd run_review(const std::string& file, std::uintptr_t* image) {
  platform::UiReviewRequest request;
  request.title = front_end().app_name;
  request.file = file;
  return platform::ui().review(request, image);
}

}  // namespace

int ReviewPage(std::uintptr_t& image) {
  switch (run_review("", &image)) {
    case platform::UiReviewEnd::Cancel: return 2;
    case platform::UiReviewEnd::Reject: LogPrint("user clicked <Discard>\n"); return 1;
    default: return 0;
  }
}

int FileReview(const std::string& path) {
  switch (run_review(path, nullptr)) {
    case platform::UiReviewEnd::Accept: return 0;
    case platform::UiReviewEnd::Cancel: LogPrint("user Cancelled\n"); return 2;
    case platform::UiReviewEnd::Reject: LogPrint("user clicked <Discard>\n"); return 1;
    default: return -1;
  }
}
