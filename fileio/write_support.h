// What the file writers share: the image block locked and checked for one
// write, and writing a file all-or-nothing under a temporary name.
#pragma once
#include <cerrno>
#include <cstdint>
#include <string>

#include "core/error_record.h"
#include "dib/dib.h"
#include "fileio/file_state.h"
#include "fileio/options.h"
#include "fileio/output_files.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "platform/memblock.h"

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

// What a write does with a file already under its name.
enum class Existing {
  Replace,  // the new file takes its place
  Copy,     // appended to: the temporary starts as a copy of it
  Source,   // appended to: the writer reads it itself
};

// Records why an output could not be prepared (errno `e`); -2.
int output_refused(int e, const char* path);

// Runs `write(temp path, appending)` for `path` all-or-nothing. An append
// holds the name for its whole read and rewrite, so two runs appending to
// one file both keep their pages. A file the run was not asked to replace
// (TWAIN_SetReplaceExisting(0)) is never replaced: the write takes the next
// free number. Returns the writer's result, or -2 when the name is busy or
// the temporary copy or the final move fails.
template <typename Write>
int write_atomically(const char* path, Existing mode, Write write) {
  if (!file_state().direct_temp.empty() && file_state().direct_final == path)
    return write(file_state().direct_temp.c_str(), false);
  NameLock lock;
  if (mode != Existing::Replace) {
    lock = NameLock(path, output_settings().name_wait_ms);
    if (!lock.held()) return output_refused(lock.status(), path);
  }
  const bool appending = mode != Existing::Replace && regular_file_exists(path);
  AtomicOutput out(path, appending && mode == Existing::Copy ? path : "");
  if (out.status() != 0) return output_refused(out.status(), path);
  const int rc = write(out.temp_path().c_str(), appending);
  if (rc != 0) {
    rename_in_error(out.temp_path(), path);
    return rc;
  }
  if (out.commit(appending || output_settings().replace_existing) != 0) {
    RecordError(ERR_FILE_WRITE, path);
    return -2;
  }
  if (out.final_path() != path) file_state().last_output = out.final_path();
  return 0;
}

}  // namespace fileio
