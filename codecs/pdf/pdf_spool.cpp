#include "codecs/pdf/pdf_spool.h"

#include <fcntl.h>
#include <qpdf/Pipeline.hh>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/codec_abi.h"
#include "codecs/pdf/pdf_image.h"

namespace pdf {

namespace {

// Bytes moved per read when a stream is handed back.
constexpr std::size_t kReadChunk = 256 * 1024;
// Names tried for a spool on a file system without O_TMPFILE.
constexpr int kNameTries = 100;

std::string temp_folder() {
  const char* t = std::getenv("TMPDIR");
  return t && *t ? t : "/tmp";
}

// A name the library's leftover sweep knows as a temporary file of ours
// (".orv-tmp." and 16 hex digits), should we be killed before the unlink.
std::string spool_name(const std::string& folder) {
  std::uint64_t v = 0;
  if (::getrandom(&v, sizeof v, 0) != static_cast<ssize_t>(sizeof v))
    v = static_cast<std::uint64_t>(::getpid()) << 32 ^ reinterpret_cast<std::uintptr_t>(&v);
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(v));
  return folder + "/.orv-tmp." + hex + ".spool";
}

// An anonymous read-write file in `folder`, or -1 with errno set.
int open_anonymous(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // Only a file system that cannot make nameless files gets a named one.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
  for (int i = 0; i < kNameTries; ++i) {
    const std::string name = spool_name(folder);
    const int named = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (named < 0 && errno == EEXIST) continue;
    if (named >= 0) ::unlink(name.c_str());
    return named;
  }
  return -1;
}

class SpoolProvider : public QPDFObjectHandle::StreamDataProvider {
 public:
  SpoolProvider(std::shared_ptr<const Spool> spool, Spool::Extent e) : spool_(std::move(spool)), extent_(e) {}
  void provideStreamData(QPDFObjGen const&, Pipeline* out) override {
    spool_->copy_to(extent_, *out);
    // The pipeline may compress or encrypt: it is complete only once finished.
    out->finish();
  }

 private:
  std::shared_ptr<const Spool> spool_;
  Spool::Extent extent_;
};

}  // namespace

Spool::Spool(const std::string& folder) {
  const std::string first = folder.empty() ? temp_folder() : folder;
  fd_ = open_anonymous(first);
  int why = errno;
  if (fd_ < 0 && first != temp_folder()) {
    fd_ = open_anonymous(temp_folder());
    if (fd_ < 0) why = errno;
  }
  if (fd_ < 0) fail(ORVPDF_E_IO, "cannot make the page spool in " + first + ": " + std::strerror(why));
}

Spool::~Spool() {
  if (fd_ >= 0) ::close(fd_);
}

Spool::Extent Spool::append(std::string_view bytes) {
  // Written at our own count, not the file offset: after a short write the
  // next stream simply overwrites the broken tail.
  std::uint64_t at = size_;
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(ORVPDF_E_IO, std::string("page spool write failed: ") + std::strerror(n < 0 ? errno : ENOSPC));
    done += static_cast<std::size_t>(n);
  }
  size_ = at + bytes.size();
  return Extent{at, bytes.size()};
}

void Spool::copy_to(const Extent& e, Pipeline& out) const {
  std::vector<unsigned char> buf(static_cast<std::size_t>(std::min<std::uint64_t>(e.length, kReadChunk)));
  for (std::uint64_t done = 0; done < e.length;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(e.length - done, buf.size()));
    const ssize_t n = ::pread(fd_, buf.data(), want, static_cast<off_t>(e.offset + done));
    if (n < 0 && errno == EINTR) continue;
    // A short spool would make a stream shorter than its page: no document.
    if (n <= 0) fail(ORVPDF_E_IO, std::string("page spool read failed: ") + (n < 0 ? std::strerror(errno) : "short file"));
    out.write(buf.data(), static_cast<std::size_t>(n));
    done += static_cast<std::uint64_t>(n);
  }
  read_back_ += e.length;
}

std::shared_ptr<QPDFObjectHandle::StreamDataProvider> spool_provider(std::shared_ptr<const Spool> spool,
                                                                     Spool::Extent e) {
  return std::make_shared<SpoolProvider>(std::move(spool), e);
}

}  // namespace pdf
