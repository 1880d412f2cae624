// Format detection by first bytes, the save format, the last output name,
// output folders, temporary names and all-or-nothing output files.
#include "orivane/file_api.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/error_record.h"
#include "core/state_registry.h"
#include "fileio/codec_modules.h"
#include "fileio/file_state.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "platform/clock.h"
#include "platform/input_file.h"
#include "platform/paths.h"

namespace fileio {

FileState& file_state() {
  static FileState s;
  return s;
}

void file_state_reset_for_tests() { file_state() = FileState{}; }

int format_of_bytes(const std::uint8_t* bytes, std::size_t length) {
  std::uint8_t b[4] = {0, 0, 0, 0};
  if (bytes) std::memcpy(b, bytes, length < 4 ? length : 4);
  switch (b[0]) {
    case 0x25: return b[1] == 0x50 && b[2] == 0x44 && b[3] == 0x46 ? FF_PDF : FF_UNKNOWN;
    case 0x42: return b[1] == 0x4D ? FF_BMP : FF_UNKNOWN;
    case 0x47: return b[1] == 0x49 && b[2] == 0x46 ? FF_GIF : FF_UNKNOWN;
    case 0x49:
    case 0x4D: return b[1] == b[0] ? FF_TIFF : FF_UNKNOWN;
    case 0x89: return b[1] == 0x50 && b[2] == 0x4E && b[3] == 0x47 ? FF_PNG : FF_UNKNOWN;
    case 0xB1: return b[1] == 0x68 && b[2] == 0xDE && b[3] == 0x3A ? FF_DCX : FF_UNKNOWN;
    case 0xFF: return b[1] == 0xD8 && b[2] == 0xFF ? FF_JPEG : FF_UNKNOWN;
    default: return FF_UNKNOWN;
  }
}

namespace {

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Copies the file `from` into the open, empty file `out`, with its
// permission bits; 0 or errno.
int copy_into(const std::string& from, int out) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  struct stat st {};
  int rc = ::fstat(in, &st) == 0 ? 0 : errno;
  if (rc == 0 && ::fchmod(out, st.st_mode & 07777) != 0) rc = errno;
  char buf[65536];
  while (rc == 0) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno != EINTR) rc = errno;
      continue;
    }
    for (ssize_t done = 0; done < n && rc == 0;) {
      const ssize_t w = ::write(out, buf + done, static_cast<std::size_t>(n - done));
      if (w >= 0) done += w;
      else if (errno != EINTR) rc = errno;
    }
  }
  ::close(in);
  return rc;
}

}  // namespace

DirectTarget::DirectTarget(const std::string& final_path, const std::string& temp_path) {
  file_state().direct_final = final_path;
  file_state().direct_temp = temp_path;
}

DirectTarget::~DirectTarget() {
  file_state().direct_final.clear();
  file_state().direct_temp.clear();
}

bool regular_file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

AtomicOutput::AtomicOutput(const std::string& final_path, const std::string& start_from, std::size_t max_path)
    : final_(final_path) {
  sweep_leftovers(final_path);
  temp_ = TempFile(final_path, max_path);
  status_ = temp_.status();
  if (status_ == 0 && !start_from.empty()) status_ = copy_into(start_from, temp_.fd());
}

int AtomicOutput::commit(bool replace) {
  // By name: a writer may have put a file of its own under the name.
  int rc = sync_path(temp_.path(), false);
  if (rc == 0) rc = move_into_place(temp_.path(), &final_, replace);
  if (rc != 0) {
    temp_.remove();
    return rc;
  }
  temp_.release();
  const std::string folder = folder_of(final_);
  return sync_path(folder.empty() ? "." : folder, true);
}

}  // namespace fileio

using fileio::file_state;

int DIB_FormatOfBuffer(const void* bytes, uint32_t length) {
  const int f = fileio::format_of_bytes(static_cast<const std::uint8_t*>(bytes), bytes ? length : 0);
  LogPrint("FormatOfBuffer() => %s\n", FormatExtension(f, "-1"));
  return f;
}

int TWAIN_FormatOfFile(const char* path) {
  LogPrint("FormatOfFile(%s) ", path ? path : "(null)");
  int f = FF_UNKNOWN;
  // Every load by name starts here, so a FIFO or device given as an image
  // (which would wait, or be read, for ever) is refused here for all formats.
  platform::InputProblem problem = platform::InputProblem::Missing;
  int e = ENOENT;
  const int fd = path ? platform::open_regular_file(path, &problem, &e) : -1;
  if (fd < 0) {
    if (problem == platform::InputProblem::NotRegular) {
      RecordError(ERR_FILE_READ, (std::string(path) + " (not a regular file)").c_str());
    } else {
      const int code = (e == ENOENT || e == ENOTDIR) ? ERR_NOT_FOUND
                       : (e == EACCES || e == EPERM) ? ERR_FILE_ACCESS
                                                     : ERR_FILE_READ;
      RecordError(code, path ? path : "");
    }
  } else {
    std::uint8_t b[4];
    std::size_t got = 0;
    while (got < sizeof b) {
      const ssize_t n = ::read(fd, b + got, sizeof b - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        RecordError(ERR_FILE_READ, path);
        got = 0;
        break;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    f = fileio::format_of_bytes(b, got);
  }
  LogPrint("=> %s\n", FormatExtension(f, "-1"));
  return f;
}

int DIB_FormatOfFile(const char* path) { return TWAIN_FormatOfFile(path); }

int IsFileFormatAvailable(const char* path) { return IsFormatAvailable(FormatFromExtension(path, -1)); }

int FormatExtensionToBuffer(int format, char* buffer) {
  const char* ext = FormatExtension(format, "");
  if (buffer) std::snprintf(buffer, 5, "%s", ext);
  return *ext ? 1 : 0;
}

int TWAIN_SetSaveFormat(int format) {
  LogApiCall("SetSaveFormat(%d)\n", format);
  if (format == FF_BMP) {
    file_state().save_format = format;
    return 1;
  }
  fileio::Codec codec;
  if (!fileio::codec_for_format(format, &codec)) return 0;
  const bool error_before = core::error_record().code != 0;
  if (!fileio::codec_module(codec)) {
    // The loader may have recorded its own reason; the caller asked about
    // the format, so the format's error is the one to keep.
    if (!error_before) core::error_clear();
    switch (format) {
      case FF_TIFF: RecordError(ERR_TIFF_LIBRARY, ""); break;
      case FF_JPEG: RecordError(ERR_JPEG_LIBRARY, ""); break;
      case FF_DCX: RecordError(ERR_DCX_LIBRARY, ""); break;
      case FF_PNG: RecordError(ERR_LIBRARY_LOAD, "OrvPng.dll"); break;
      case FF_GIF: RecordError(ERR_LIBRARY_LOAD, "OrvGif.dll"); break;
      default: RecordError(ERR_LIBRARY_LOAD, "OrvPdf.dll"); break;
    }
    return 0;
  }
  file_state().save_format = format;
  return 1;
}

int TWAIN_GetSaveFormat(void) { return file_state().save_format; }

const char* LastOutputFileName(void) { return file_state().last_output.c_str(); }

int EnsureFolderExists(const char* path) {
  std::string folder = fileio::folder_of(path ? path : "");
  if (folder.empty()) folder = platform::current_folder();
  else if (folder.size() > 1) folder.pop_back();
  if (folder.empty()) folder.assign(1, '.');
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return 1;
    RecordError(ERR_CREATE_FOLDER, folder.c_str());
    return 0;
  }
  // Parents first, then this folder.
  if (!EnsureFolderExists(folder.c_str())) return 0;
  if (::mkdir(folder.c_str(), 0777) != 0) {
    if (errno == EEXIST && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 1;
    RecordError(ERR_CREATE_FOLDER, folder.c_str());
    return 0;
  }
  return 1;
}

int GenerateTempImageName(const char* prefix, int format, char* out) {
  LogPrint("GenerateTempImageName(%s,%d)\n", prefix ? prefix : "", format);
  if (!out) return 0;
  const std::string folder = platform::temp_folder() + "/";
  const char* ext = FormatExtension(format, ".tmp");
  unsigned n = static_cast<unsigned>(platform::thread_id());
  int denied = 0;
  for (;;) {
    const int len = std::snprintf(out, 260, "%s%s%u%s", folder.c_str(), prefix ? prefix : "", n, ext);
    if (len < 0 || len >= 260) {
      // A name that does not fit would name another file.
      LogPrint("**snprintf < 0! ");
      out[0] = '\0';
      return 0;
    }
    struct stat st {};
    if (::lstat(out, &st) != 0) {
      if (errno == ENOENT) return 1;
      if (errno == EACCES) {
        if (++denied > 64) {
          LogPrint("**Too many errors!\n");
          return 0;
        }
      } else {
        LogPrint("**GetFileAttributes:GLE(%d)!\n", errno);
        return 0;
      }
    }
    ++n;
  }
}

namespace {

// The last file written and the save format.
const bool kFileStateRegistered = core::register_state({"fileio.file_state", [] { fileio::file_state_reset_for_tests(); }, nullptr});

}  // namespace
