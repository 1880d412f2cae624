// Opening files the system reads from outside (configs, settings, images):
// each is opened once, without waiting on a FIFO or a device, and used only
// when that very descriptor names a regular file. Checking a path first and
// opening it afterwards would leave a gap in which the name can be swapped.
#pragma once
#include <cstddef>
#include <string>

namespace platform {

// Largest config or settings file read, bytes (README "Files the library
// reads"). Real ones are a few kilobytes; the cap keeps a wrong name (a
// device, a huge file) from filling memory.
constexpr std::size_t kMaxConfigFileBytes = 1u << 20;

enum class InputProblem {
  None,
  Missing,     // no file of that name (ENOENT, ENOTDIR)
  NotRegular,  // a folder, FIFO, device or socket
  TooLarge,    // more bytes than the caller's cap
  Unreadable,  // any other failure; the error number says which
};

// Opens `path` for reading. Returns the descriptor (close-on-exec, blocking
// reads) when it names a regular file; otherwise -1 with the problem in
// `*out_problem` and the system's error number (0 for NotRegular) in
// `*out_errno`. Links are followed: a config kept elsewhere and linked in is
// the user's own choice.
int open_regular_file(const std::string& path, InputProblem* out_problem, int* out_errno);

// A whole config file read into memory.
struct InputText {
  std::string text;
  InputProblem problem = InputProblem::None;
  int error = 0;  // the system's error number for Missing and Unreadable
};

// Reads a regular file of at most `max_bytes` (a file that grows past the cap
// while it is read is refused too).
InputText read_config_file(const std::string& path,
                           std::size_t max_bytes = kMaxConfigFileBytes);

// A few words for a trace or message: "not a regular file", "larger than
// 1048576 bytes", the system's text for the error number, ...
std::string input_problem_text(InputProblem problem, int error,
                               std::size_t max_bytes = kMaxConfigFileBytes);

}  // namespace platform
