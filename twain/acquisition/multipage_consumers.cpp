// The consumers of the multipage loop: the page hook only, one multipage
// file, an array of DIBs, one file per image, and a multipage file per N
// pages (named by counting the number in the file name up, with the file
// layer's incrementer).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "core/error_record.h"
#include "fileio/multipage.h"

#include "core/state_registry.h"
#include "engines/ocr_engine.h"
#include "fileio/output_files.h"
#include "log/trace.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"
#include "orivane/twain.h"
#include "orivane/twain_multipage_acquire.h"
#include "orivane/twain_settings.h"
#include "twain/acquisition/multipage_loop.h"

namespace twain {

namespace {

constexpr std::size_t kMaxPath = 260;  // bytes, terminator included

struct ToFilesState {
  char path[kMaxPath] = "";  // the current output path, absolute
  int format = 0;            // FF_ code
  int file_count = 0;
  int pages_per_file = 1;
  int images_per_file = 1;
};

ToFilesState& to_files() {
  static ToFilesState s;
  return s;
}

// Automatic recognition of the pages (TWAIN_SetAutoOCR).
bool automatic_ocr_on() { return engines::auto_ocr_on(); }

// Hands the recognised text of a page to the PDF writer before the page is
// written.
void automatic_ocr_attach_text(std::uintptr_t dib) { engines::auto_ocr_hand_text(dib); }

// Copies `path` made absolute into `out` (at most kMaxPath - 1 characters).
void copy_absolute(const char* path, char* out) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  const std::string text = ec ? std::string(path) : p.string();
  std::snprintf(out, kMaxPath, "%s", text.c_str());
}

// --- Multipage file -----------------------------------------------------

struct MultipageFileJob {
  char path[kMaxPath] = "";
};

int mpf_begin(intptr_t value) {
  return TWAIN_BeginMultipageFile(reinterpret_cast<MultipageFileJob*>(value)->path);
}

int mpf_page(std::uintptr_t dib, intptr_t) {
  if (automatic_ocr_on() && TWAIN_MultipageFileFormat() == MPF_PDF) automatic_ocr_attach_text(dib);
  return fileio::DibWritePage(dib, 2);
}

int mpf_end(intptr_t) { return TWAIN_EndMultipageFile(); }

// --- Array --------------------------------------------------------------

struct ArrayJob {
  std::uintptr_t* array;
  int capacity;
  int stored = 0;
};

int array_page(std::uintptr_t dib, intptr_t value) {
  ArrayJob& job = *reinterpret_cast<ArrayJob*>(value);
  if (job.stored >= job.capacity) {
    RecordError(ERR_TOO_MANY_IMAGES, "AcquireToArray");
    DibFree(dib);
    return -4;
  }
  job.array[job.stored++] = dib;
  return 0;
}

int free_page(std::uintptr_t dib, intptr_t) {
  DibFree(dib);
  return 0;
}

// --- One file per image --------------------------------------------------

int itf_begin(intptr_t value) {
  const char* path = reinterpret_cast<const char*>(value);
  LogPrint("ITFbegin('%s')\n", path);
  ToFilesState& st = to_files();
  st.format = TWAIN_GetSaveFormat();
  int result = 0;
  if (path[0] != '\0') {
    copy_absolute(path, st.path);
    st.format = FormatFromExtension(st.path, st.format);
  } else if (!PromptForSaveName(st.path, &st.format, 0)) {
    result = -10;
  }
  LogPrint("=> %d, with format=%d\n", result, st.format);
  return result;
}

int itf_page(std::uintptr_t dib, intptr_t) {
  LogPrint("ITFdib\n");
  ToFilesState& st = to_files();
  if (automatic_ocr_on() && st.format == FF_PDF) automatic_ocr_attach_text(dib);
  const int result = DIB_WriteToFilename(dib, st.path);
  if (result == 0) {
    ++st.file_count;
    LogPrint("FileCount=%d\n", st.file_count);
    IncrementFilename(st.path);
    LogPrint("IncrementFilename to: '%s'\n", st.path);
  }
  DibFree(dib);
  LogPrint("ITFdib=>%d\n", result);
  return result;
}

// --- N pages per file ---------------------------------------------------

// Begins the next multipage file on the current output path.
int ptf_open_file() {
  ToFilesState& st = to_files();
  TWAIN_SetOutputPageCount(st.images_per_file);
  const int result = TWAIN_BeginMultipageFile(st.path);
  if (result == 0) ++st.file_count;
  return result;
}

int ptf_begin(intptr_t value) {
  const char* path = reinterpret_cast<const char*>(value);
  LogPrint("PTFbegin('%s')\n", path);
  ToFilesState& st = to_files();
  st.images_per_file = st.pages_per_file * (TWAIN_IsDuplexEnabled() ? 2 : 1);
  LogPrint("images/file: %d\n", st.images_per_file);
  if (st.images_per_file == 1) return itf_begin(value);
  int result = 0;
  if (path[0] != '\0') {
    copy_absolute(path, st.path);
  } else {
    // The chosen entry's extension is added to a name typed without one, so
    // the name alone decides the format when the file is begun.
    int code = TWAIN_GetMultipageFormat();
    if (!PromptForMultipageSaveName(&code, st.path) || st.path[0] == '\0') result = -10;
  }
  if (result == 0) result = ptf_open_file();
  LogPrint("PTFbegin=> %d (format=%d)\n", result, TWAIN_MultipageFileFormat());
  return result;
}

int ptf_page(std::uintptr_t dib, intptr_t value) {
  LogPrint("PTFdib\n");
  ToFilesState& st = to_files();
  if (st.images_per_file == 1) return itf_page(dib, value);
  int result = 0;
  if (TWAIN_IsMultipageFileOpen() && TWAIN_MultipagePageCount() >= st.images_per_file) {
    result = TWAIN_EndMultipageFile();
    if (result == 0) {
      IncrementFilename(st.path);
      LogPrint("Next filename: '%s'\n", st.path);
    }
  }
  if (result == 0 && !TWAIN_IsMultipageFileOpen()) result = ptf_open_file();
  if (result != 0) {
    DibFree(dib);
  } else if (!automatic_ocr_on() || TWAIN_MultipageFileFormat() != MPF_PDF) {
    // The text of a page has nowhere to go in the other formats: the page is
    // written as the multipage-file consumer writes it.
    result = fileio::DibWritePage(dib, 2);
  } else {
    result = engines::ocr_write_page(dib) ? 0 : -1;
    DibFree(dib);
  }
  LogPrint("PTFdib=> %d\n", result);
  return result;
}

int ptf_end(intptr_t) {
  LogPrint("PTFend\n");
  ToFilesState& st = to_files();
  int result = 0;
  if (TWAIN_IsMultipageFileOpen()) {
    const int pages = TWAIN_MultipagePageCount();
    result = TWAIN_EndMultipageFile();
    LogPrint("FileCount=%d\n", st.file_count);
    if (pages < st.images_per_file) RecordError(ERR_NOT_ENOUGH_PAGES, st.path);
  }
  LogPrint("PTFend=> %d\n", result);
  return result;
}

// A loop result of 0 with nothing produced is a failure.
int no_pages_failure(const char* detail) {
  RecordError(ERR_NO_PAGES, detail);
  return -1;
}

}  // namespace

void to_files_reset() { to_files() = ToFilesState{}; }

}  // namespace twain

using twain::PageConsumer;

int TWAIN_AcquireMultipage(uintptr_t window) {
  LogApiCall("AcquireMultipage(0x%08lx)\n", static_cast<unsigned long>(window));
  PageConsumer c;
  c.page = twain::free_page;
  return twain::AcquireMultipageLoop(window, c);
}

int TWAIN_AcquireMultipageFile(uintptr_t window, const char* path) {
  LogApiCall("AcquireMultipageFile(0x%08lx, '%s')\n", static_cast<unsigned long>(window),
             path ? path : "");
  twain::MultipageFileJob job;
  std::snprintf(job.path, sizeof job.path, "%s", path ? path : "");
  PageConsumer c{twain::mpf_begin, twain::mpf_page, twain::mpf_end,
                 reinterpret_cast<intptr_t>(&job)};
  int result = twain::AcquireMultipageLoop(window, c);
  if (result == 0 && TWAIN_ProcessedPageCount() == 0) {
    result = twain::no_pages_failure(LastOutputFileName());
  }
  return result;
}

int TWAIN_AcquireToArray(uintptr_t window, uintptr_t* array, int capacity) {
  LogApiCall("AcquireToArray(0x%08lx, %d)\n", static_cast<unsigned long>(window), capacity);
  if (array == nullptr || capacity < 0) capacity = 0;
  std::fill_n(array, capacity, 0);
  twain::ArrayJob job{array, capacity};
  PageConsumer c;
  c.page = twain::array_page;
  c.value = reinterpret_cast<intptr_t>(&job);
  const int result = twain::AcquireMultipageLoop(window, c);
  if (result != 0) {
    LogPrint("Acquire failed. Freeing %d images.\n", job.stored);
    for (int i = 0; i < job.stored; ++i) {
      DibFree(array[i]);
      array[i] = 0;
    }
    return result;
  }
  return job.stored > 0 ? job.stored : twain::no_pages_failure("AcquireToArray");
}

int TWAIN_AcquireImagesToFiles(uintptr_t window, const char* path) {
  LogApiCall("AcquireImagesToFiles(0x%08lx, '%s')\n", static_cast<unsigned long>(window),
             path ? path : "");
  if (path == nullptr) path = "";
  twain::ToFilesState& st = twain::to_files();
  st.file_count = 0;
  st.pages_per_file = 1;
  st.images_per_file = 1;
  // JPEG files can be written straight from the device's compressed data.
  if (FormatFromExtension(path, -1) == FF_JPEG && TWAIN_SetXferMech(TWSX_MEMORY)) {
    TWAIN_SetCompression(TWCP_JPEG);
  }
  PageConsumer c{twain::itf_begin, twain::itf_page, nullptr, reinterpret_cast<intptr_t>(path)};
  const int result = twain::AcquireMultipageLoop(window, c);
  if (result != 0) return result;
  return st.file_count > 0 ? st.file_count : twain::no_pages_failure(st.path);
}

int TWAIN_AcquirePagesToFiles(uintptr_t window, int pages_per_file, const char* path) {
  LogApiCall("AcquirePagesToFiles(0x%08lx, %d, '%s')\n", static_cast<unsigned long>(window),
             pages_per_file, path ? path : "");
  if (path == nullptr) path = "";
  twain::ToFilesState& st = twain::to_files();
  st.file_count = 0;
  // Fewer than one page per file cannot be split: one page each.
  st.pages_per_file = std::max(pages_per_file, 1);
  PageConsumer c{twain::ptf_begin, twain::ptf_page, twain::ptf_end,
                 reinterpret_cast<intptr_t>(path)};
  int result = twain::AcquireMultipageLoop(window, c);
  LogPrint("FileCount=%d\n", st.file_count);
  if (result == 0) {
    result = st.file_count > 0 ? st.file_count : twain::no_pages_failure(st.path);
  }
  LogPrint("AcquirePagesToFiles=> %d\n", result);
  return result;
}

int TWAIN_FileCount(void) { return twain::to_files().file_count; }

void IncrementFilename(char* path) {
  if (path == nullptr) return;
  const std::string next =
      fileio::next_numbered_name(std::string(path, strnlen(path, twain::kMaxPath - 1)));
  if (next.size() >= twain::kMaxPath) {
    // A cut name would be another file, possibly one already written: no
    // name at all makes the next write ask for one instead.
    LogPrint("IncrementFilename: next name too long (%zu characters)\n", next.size());
    path[0] = '\0';
    return;
  }
  std::memcpy(path, next.c_str(), next.size() + 1);
}

namespace {

// The names the to-files loops write to.
const bool kToFilesRegistered = core::register_state({"twain.to_files", [] { twain::to_files_reset(); }, nullptr});

}  // namespace
