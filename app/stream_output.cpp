#include "app/stream_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/exit_status.h"
#include "app/report.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "platform/file_copy.h"

namespace {

// The descriptor a name stands for without being opened: "-" and the
// names of the program's own descriptors; -1 for any other name.
int own_descriptor(const std::string& name) {
  if (name == "-" || name == "/dev/stdout") return STDOUT_FILENO;
  if (name == "/dev/stderr") return STDERR_FILENO;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::size_t n = std::strlen(prefix);
    if (name.compare(0, n, prefix) != 0 || name.size() == n) continue;
    char* end = nullptr;
    const long fd = std::strtol(name.c_str() + n, &end, 10);
    if (*end == '\0' && fd >= 0 && fd < 1024) return static_cast<int>(fd);
  }
  return -1;
}

bool deliver_file(const std::string& target, const std::string& file) {
  int fd = own_descriptor(target);
  const bool opened = fd < 0;
  if (opened) fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = platform::copy_file_to_descriptor(file, fd);
  const int saved = errno;
  if (opened && ::close(fd) != 0 && ok) return false;
  errno = saved;
  return ok;
}

}  // namespace

bool IsStreamTarget(const std::string& name) {
  if (own_descriptor(name) >= 0) return true;
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return false;
  return S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode);
}

bool StreamIsStandardOutput(const std::string& target) {
  return !target.empty() && own_descriptor(target) == STDOUT_FILENO;
}

bool WritesOneFile(const ScanRequest& r) {
  if (r.multipage) return true;
  // Both sides of one sheet into one PDF, as the page plan makes them.
  if (r.duplex && r.page_count == 0 && r.file_format == FF_PDF) return true;
  return (r.page_count == 0 || r.page_count == 1) && r.auto_feed <= 0;
}

bool StreamBegin(ScanRequest& r) {
  StreamOutput& s = front_end().stream;
  s = StreamOutput{};
  if (r.stream_target.empty()) return true;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillet-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    note_failure(std::string("No room for the file to stream: ") + pattern + ": " + std::strerror(errno));
    return false;
  }
  s.target = r.stream_target;
  s.folder = pattern;
  r.output_name = s.folder + "/" + r.output_name;
  // A carbon copy named without a folder goes where the run started, as it
  // would beside a named file, not into the folder that is removed.
  if (r.carbon_copy && r.carbon_copy_path.find('/') == std::string::npos)
    r.carbon_copy_path = front_end().start_folder + "/" + r.carbon_copy_path;
  LogPrint("[Quillet] the file for '%s' is written in %s\n", s.target.c_str(), s.folder.c_str());
  return true;
}

int StreamEnd(const ScanRequest& r, bool deliver) {
  StreamOutput& s = front_end().stream;
  if (s.folder.empty()) return 0;
  int result = 0;
  if (deliver) {
    // The one file of the run, under the name it was given in the folder.
    const std::string& file = r.output_name;
    if (::access(file.c_str(), F_OK) != 0 || !deliver_file(s.target, file)) {
      const std::string why = std::strerror(errno);
      LogPrint("[Quillet] writing to '%s' failed: %s\n", s.target.c_str(), why.c_str());
      note_failure("Writing the file to " + (s.target == "-" ? std::string("standard output") : s.target) +
                   " failed: " + why);
      result = -4;
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(s.folder, ec);
  s = StreamOutput{};
  return result;
}

std::string ReportedFileName(const std::string& path) {
  const StreamOutput& s = front_end().stream;
  if (s.folder.empty() || path.compare(0, s.folder.size() + 1, s.folder + "/") != 0) return path;
  return s.target;
}
