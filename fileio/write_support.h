// What the file writers share: the image block locked and checked for one
// write, and writing a file all-or-nothing under a temporary name.
#pragma once
#include <cerrno>
#include <cstdint>
#include <string>

#include "dib/dib.h"
#include "fileio/file_state.h"
#include "orivane/dib_api.h"
#include "orivane/twain_error.h"
#include "platform/memblock.h"
#include "twain/error_record.h"

namespace fileio {

// The image block locked for one write, checked so that a module never sees
// rows (or a stream) running past the end of the block.
class BlockLock {
 public:
  explicit BlockLock(DIB_HANDLE h) : h_(h) {
    if (h == 0 || !dib::dib_is_block(h)) return;
    auto* p = static_cast<std::uint8_t*>(platform::mem_lock(h));
    if (!p) return;
    const auto view = dib::DibView::over(p, platform::mem_size(h));
    const bool usable =
        view && (view->rows_ok() ||
                 (view->compressed() && view->pixel_offset() + view->header().size_image <= view->block_size()));
    if (usable) {
      p_ = p;
      compression_ = view->header().compression;
      depth_ = view->depth();
      pixel_type_ = view->pixel_type();
    } else {
      platform::mem_unlock(h);
    }
  }
  ~BlockLock() {
    if (p_) platform::mem_unlock(h_);
  }
  BlockLock(const BlockLock&) = delete;
  BlockLock& operator=(const BlockLock&) = delete;

  const void* get() const { return p_; }
  bool compressed() const { return (compression_ & dib::kCompressionCodeMask) != 0; }
  int stream_code() const { return static_cast<int>((compression_ >> 8) & 0xFF); }
  int depth() const { return depth_; }
  int pixel_type() const { return pixel_type_; }

 private:
  DIB_HANDLE h_;
  void* p_ = nullptr;
  std::uint32_t compression_ = 0;
  int depth_ = 0;
  int pixel_type_ = -1;
};

// Writes a BMP file all-or-nothing: 0, -2 or the writer's failure.
int write_bmp(DIB_HANDLE dib, const char* path);

// A module's message may name the temporary file; the user knows the final one.
void rename_in_error(const std::string& temp, const std::string& final_path);

// Runs `write(temp path)` for `path` all-or-nothing. Returns the writer's
// result, or -2 when the temporary copy or the final rename fails.
template <typename Write>
int write_atomically(const char* path, bool append, Write write) {
  AtomicOutput out(path, append);
  if (out.status() != 0) {
    errno = out.status();
    RecordError(out.status() == EACCES || out.status() == EPERM ? ERR_FILE_ACCESS : ERR_FILE_WRITE, path);
    return -2;
  }
  const int rc = write(out.temp_path().c_str());
  if (rc != 0) {
    rename_in_error(out.temp_path(), path);
    return rc;
  }
  if (out.commit() != 0) {
    RecordError(ERR_FILE_WRITE, path);
    return -2;
  }
  return 0;
}

}  // namespace fileio
