// Moving a file's bytes to and from a stream (standard input or output, a
// pipe): for programs whose files go through streams while the library's
// readers and writers need files they can seek in.
#pragma once
#include <string>

namespace platform {

// Writes the whole file at `path` to the descriptor `fd`; false with errno
// set at the first failure (a closed pipe: EPIPE, when SIGPIPE is ignored).
bool copy_file_to_descriptor(const std::string& path, int fd);

// Reads `fd` to its end into a new file at `path` (which must not exist);
// false with errno set when it cannot.
bool spool_descriptor_to_file(int fd, const std::string& path);

}  // namespace platform
