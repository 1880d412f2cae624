// The review of a scanned page (/REVIEW) and of the finished multipage file
// (/FILEREVIEW), in the review window when there is a display and as a
// question otherwise.
#pragma once
#include <cstdint>
#include <string>

// Shows the page: 0 accepted, 1 rejected, 2 cancel the job. `image` may come
// back replaced (turned; the old handle freed) or changed in place (flipped,
// inverted): the caller stores what comes back.
int ReviewPage(std::uintptr_t& image);

// Shows the pages of the file at `path`: 0 keep, 1 discard, 2 cancel, -1 any
// other way of closing.
int FileReview(const std::string& path);
