// Beginning and ending the process's multipage file, and the lock that
// keeps it to one thread at a time.
#include "fileio/multipage.h"

#include <sys/stat.h>

#include <cstring>
#include <string>

#include "core/error_record.h"
#include "core/state_registry.h"
#include "dib/live_count.h"
#include "fileio/codec_modules.h"
#include "fileio/options.h"
#include "fileio/pdf_options.h"
#include "fileio/write_support.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"
#include "platform/clock.h"

namespace fileio {

void OwnedLock::acquire() {
  const int me = platform::thread_id();
  std::unique_lock<std::mutex> lock(m_);
  cv_.wait(lock, [&] { return owner_ == 0 || owner_ == me; });
  owner_ = me;
  ++count_;
}

bool OwnedLock::release() {
  std::lock_guard<std::mutex> lock(m_);
  if (owner_ != platform::thread_id() || count_ == 0) return false;
  if (--count_ == 0) {
    owner_ = 0;
    cv_.notify_all();
  }
  return true;
}

void OwnedLock::force_release() {
  std::lock_guard<std::mutex> lock(m_);
  owner_ = 0;
  count_ = 0;
  cv_.notify_all();
}

bool OwnedLock::held_by_me() const {
  std::lock_guard<std::mutex> lock(m_);
  return owner_ == platform::thread_id() && count_ > 0;
}

MultipageState& multipage() {
  static MultipageState state;
  return state;
}

namespace {

constexpr std::size_t kPathMax = 259;
// What a fault inside a codec's multipage calls is recorded with.
constexpr const char* kBeginContext = "BeginMultipageFile";
constexpr const char* kEndContext = "EndMultipageFile";

int multipage_code_of_format(int format) {
  switch (format) {
    case FF_TIFF: return MPF_TIFF;
    case FF_BMP: return MPF_BMP;
    case FF_JPEG: return MPF_JPEG;
    case FF_PNG: return MPF_PNG;
    case FF_DCX: return MPF_DCX;
    case FF_GIF: return MPF_GIF;
    case FF_PDF: return MPF_PDF;
    default: return -1;
  }
}

const char* extension_of(int code) {
  switch (code) {
    case MPF_TIFF: return ".tif";
    case MPF_PDF: return ".pdf";
    case MPF_DCX: return ".dcx";
    case MPF_JPEG: return ".jpg";
    case MPF_BMP: return ".bmp";
    case MPF_PNG: return ".png";
    case MPF_GIF: return ".gif";
    default: return nullptr;
  }
}

// The format a name asks for: the extension's when a dot among the last five
// characters starts a known one; otherwise `format`, whose extension is added
// to a name without such a dot. -3 when that format has no extension.
int resolve_format(std::string* path, int format) {
  const std::size_t from = path->size() > 5 ? path->size() - 5 : 0;
  const std::size_t dot = path->find('.', from);
  if (dot != std::string::npos) {
    const int named = multipage_code_of_format(FormatFromExtension(path->c_str() + dot + 1, FF_UNKNOWN));
    return named >= 0 ? named : format;
  }
  const char* ext = extension_of(format);
  if (!ext) {
    char text[32];
    std::snprintf(text, sizeof text, "format(%d)", format);
    RecordError(ERR_FORMAT_UNSUPPORTED, text);
    return -3;
  }
  *path += ext;
  return format;
}

// Opens the temporary file the pages go into, starting as a copy of
// `start_from` when that is not empty; -2 when it cannot be made.
int open_output(MultipageState& mp, const std::string& start_from) {
  mp.output = std::make_unique<AtomicOutput>(mp.path, start_from);
  if (mp.output->status() == 0) return 0;
  errno = mp.output->status();
  RecordError(errno == EACCES || errno == EPERM ? ERR_FILE_ACCESS : ERR_FILE_WRITE, mp.path.c_str());
  mp.output.reset();
  return -2;
}

// What an append adds to: the held file this one continues, else the file
// under the name; "" when the new file starts empty.
std::string append_source(MultipageState& mp) {
  if (!output_settings().append) return "";
  if (mp.held) return mp.held->temp_path();
  mp.replaces_final = regular_file_exists(mp.path);
  return mp.replaces_final ? mp.path : "";
}

int begin_codec_file(MultipageState& mp) {
  const std::string source = mp.format == MPF_TIFF || mp.format == MPF_PDF || mp.format == MPF_DCX
                                 ? append_source(mp)
                                 : std::string();
  switch (mp.format) {
    case MPF_TIFF: {
      const TiffApi* tiff = tiff_api();
      if (!tiff) {
        RecordError(ERR_TIFF_LIBRARY, mp.path.c_str());
        return -3;
      }
      if (const int rc = open_output(mp, source); rc != 0) return rc;
      TiffUse use(tiff);
      tiff->SetAppendFlag(!source.empty());
      tiff->SetPageCount(file_state().output_page_count);
      file_state().output_page_count = -1;
      const char* temp = mp.output->temp_path().c_str();
      return codec_guarded(kBeginContext, -5, [&] { return tiff->BeginMultipageFile(temp); });
    }
    case MPF_PDF: {
      const PdfApi* pdf = pdf_api();
      if (!pdf) return -3;
      if (!source.empty()) {
        pdf_prepare(pdf);
        const char* password = pdf_settings().open_password.c_str();
        codec_guarded(kBeginContext, -5, [&] { return pdf->CountPagesInFile(source.c_str(), password); });
        if (core::error_record().code != 0) return -2;
      }
      // The pages already there are read straight from their file, which
      // the name lock keeps as it is until the new file is in place.
      if (const int rc = open_output(mp, ""); rc != 0) return rc;
      pdf_prepare(pdf);
      pdf->SetAppendSource(source.c_str());
      const char* temp = mp.output->temp_path().c_str();
      const int32_t appending = source.empty() ? 0 : 1;
      return codec_guarded(kBeginContext, -5, [&] { return pdf->BeginMultipageFile(temp, appending); });
    }
    case MPF_DCX: {
      const DcxApi* dcx = dcx_api();
      if (!dcx) {
        RecordError(ERR_DCX_LIBRARY, mp.path.c_str());
        return -3;
      }
      if (const int rc = open_output(mp, source); rc != 0) return rc;
      dcx_prepare(dcx, !source.empty());
      const char* temp = mp.output->temp_path().c_str();
      return codec_guarded(kBeginContext, -5, [&] { return dcx->BeginMultipageFile(temp); });
    }
    default:
      // The stacked formats write nothing until the end; a held file they
      // continue is the top of the new stack.
      if (mp.held && output_settings().append) {
        mp.merged = DIB_LoadPage(mp.held->temp_path().c_str(), 0);
        if (!mp.merged) return -2;
      }
      return 0;
  }
}

// The merged image made ready for JPEG: 24-bit colour or 8-bit gray.
int prepare_merged_for_jpeg(MultipageState& mp) {
  const int type = DIB_PixelType(mp.merged);
  const int depth = DIB_Depth(mp.merged);
  int want_type = -1, want_depth = 0;
  if (type == DIB_PT_PALETTE || type == DIB_PT_CMY || type == DIB_PT_CMYK || depth > 24) {
    want_type = DIB_PT_RGB;
    want_depth = 24;
  } else if (type == DIB_PT_BW || (type == DIB_PT_GRAY && depth != 8)) {
    want_type = DIB_PT_GRAY;
    want_depth = 8;
  }
  if (want_type < 0) return 0;
  const DIB_HANDLE converted = DIB_ConvertToFormat(mp.merged, want_type, want_depth, nullptr);
  if (!converted) {
    RecordError(ERR_MEMORY, mp.path.c_str());
    return -5;
  }
  DibFree(mp.merged);
  mp.merged = converted;
  return 0;
}

// Writes the stacked image into the file's temporary file.
int end_merged_file(MultipageState& mp) {
  if (!mp.merged) return -3;
  if (mp.format == MPF_JPEG) {
    if (const int rc = prepare_merged_for_jpeg(mp); rc != 0) return rc;
  }
  if (open_output(mp, "") != 0) return -4;
  DirectTarget into(mp.path, mp.output->temp_path());
  int rc;
  switch (mp.format) {
    case MPF_JPEG: rc = DIB_WriteToJpeg(mp.merged, mp.path.c_str()); break;
    case MPF_PNG: rc = DIB_WriteToPng(mp.merged, mp.path.c_str()); break;
    case MPF_GIF: rc = DIB_WriteToGif(mp.merged, mp.path.c_str()); break;
    default: rc = write_bmp(mp.merged, mp.path.c_str()); break;
  }
  if (rc == 0) return 0;
  return rc == -2 || rc == -3 || rc == -4 ? -4 : -5;
}

// Ends the codec's file in its temporary file.
int end_codec_file(MultipageState& mp) {
  int rc = -5;
  switch (mp.format) {
    case MPF_TIFF: {
      const TiffApi* tiff = tiff_api();
      if (!tiff) return -3;
      TiffUse use(tiff);
      rc = codec_guarded(kEndContext, -5, [&] { return tiff->EndMultipageFile(); });
      break;
    }
    case MPF_PDF: {
      LogPrint("PDF_EndMultipageFile(...)\n");
      const PdfApi* pdf = pdf_api();
      if (!pdf) return -3;
      rc = codec_guarded(kEndContext, -5, [&] { return pdf->EndMultipageFile(); });
      pdf->SetAppendSource(nullptr);
      pdf_reset_defaults(pdf);
      break;
    }
    case MPF_DCX: {
      const DcxApi* dcx = dcx_api();
      if (!dcx) return -3;
      rc = codec_guarded(kEndContext, -5, [&] { return dcx->EndMultipageFile(); });
      break;
    }
    default:
      return -5;
  }
  if (!mp.output) return rc == 0 ? -5 : rc;
  // Nothing reaches the final name unless the background writes succeeded.
  if (rc == 0) rc = mp.writer.result.load();
  if (rc != 0) {
    rename_in_error(mp.output->temp_path(), mp.path);
    // A page's own error may have been cleared since: the file's failure
    // is told at its end.
    if (core::error_record().code == 0) RecordError(ERR_FILE_WRITE, mp.path.c_str());
  }
  return rc;
}

bool is_merged(int format) {
  return format == MPF_JPEG || format == MPF_BMP || format == MPF_PNG || format == MPF_GIF;
}

// Moves a finished file into place; 0 or -4 (recorded). The name it took
// becomes the last output name.
int commit_output(MultipageState& mp, AtomicOutput& out) {
  const bool replace = mp.replaces_final || output_settings().replace_existing;
  if (out.commit(replace) != 0) {
    RecordError(ERR_FILE_WRITE, out.final_path().c_str());
    return -4;
  }
  file_state().last_output = out.final_path();
  return 0;
}

// Drops the held file and the claim on its name.
void forget_held(MultipageState& mp) {
  mp.held.reset();  // an uncommitted temporary file is removed here
  mp.replaces_final = false;
  mp.name_lock = NameLock();
}

enum class Ending { Keep, Hold, Discard };

// Ends the open file: finished and moved into place (Keep), finished and
// held (Hold), or dropped (Discard). The multipage lock is released.
int end_open_file(MultipageState& mp, Ending how) {
  int result = 0;
  if (how != Ending::Discard || !is_merged(mp.format))
    result = is_merged(mp.format) ? end_merged_file(mp) : end_codec_file(mp);
  if (how == Ending::Discard) result = 0;
  // The file this one continued is part of it now, or of nothing.
  mp.held.reset();
  file_state().last_output = mp.path;
  if (result == 0 && how == Ending::Hold) {
    mp.held = std::move(mp.output);
  } else {
    if (result == 0 && how == Ending::Keep) result = commit_output(mp, *mp.output);
    mp.output.reset();  // an uncommitted temporary file is removed here
    forget_held(mp);
  }
  mp.open = false;
  mp.path.clear();
  mp.format = -1;
  LogPrint("Releasing multipage lock\n");
  if (!mp.lock.release()) mp.lock.force_release();
  if (mp.merged) DibFree(mp.merged);
  mp.merged = 0;
  return result;
}

// Claims the name for the new file: appends and replacements hold it until
// the file is in place, so that no other run writes it meanwhile. A file
// that replaces nothing needs no claim: it never takes a name in use.
int claim_name(MultipageState& mp) {
  if (mp.held || mp.name_lock.held()) return 0;
  if (!output_settings().append && !output_settings().replace_existing) return 0;
  mp.name_lock = NameLock(mp.path, output_settings().name_wait_ms);
  return mp.name_lock.held() ? 0 : output_refused(mp.name_lock.status(), mp.path.c_str());
}

// The checks and the opening of TWAIN_BeginMultipageFile; 0 or its result.
int begin_file(MultipageState& mp, std::string path, int default_format) {
  if (mp.open) {
    RecordError(ERR_MULTIPAGE_OPEN, mp.path.c_str());
    return -6;
  }
  mp.pages = 0;
  int format = default_format;
  if (!EnsureFolderExists(path.c_str())) {
    RecordError(ERR_FILE_ACCESS, path.c_str());
    return -2;
  }
  if ((format = resolve_format(&path, default_format)) < 0) return -3;
  if (path.size() > kPathMax) {
    RecordError(ERR_BAD_FILENAME, path.c_str());
    return -2;
  }
  // A held file is continued by an append of its own name, nothing else.
  if (mp.held && (mp.held->final_path() != path || !output_settings().append)) {
    RecordError(ERR_MULTIPAGE_OPEN, mp.held->final_path().c_str());
    return -6;
  }
  mp.path = path;
  mp.format = format;
  // A failed background write belongs to the file it was written for.
  mp.writer.result = 0;
  // A document is worth a look at its folder each time.
  sweep_leftovers(path, true);
  int result = claim_name(mp);
  if (result == 0) result = begin_codec_file(mp);
  if (result == -2 && core::error_record().code == 0) RecordError(ERR_FILE_ACCESS, path.c_str());
  return result;
}

}  // namespace

void multipage_reset_for_tests() {
  MultipageState& mp = multipage();
  FinishBgWriter();
  mp.output.reset();
  forget_held(mp);
  if (mp.merged) DibFree(mp.merged);
  mp.merged = 0;
  mp.lock.force_release();
  mp.open = false;
  mp.path.clear();
  mp.format = -1;
  mp.pages = 0;
}

}  // namespace fileio

using fileio::multipage;
using fileio::MultipageState;

int TWAIN_BeginMultipageFile(const char* path_in) {
  MultipageState& mp = multipage();
  const int default_format = fileio::output_settings().multipage_format;
  LogApiCall("BeginMultipageFile(%s) def form=%d\n", path_in ? path_in : "(null)", default_format);
  std::string path = path_in ? path_in : "";
  int format = default_format;
  if (path.empty()) {
    char buffer[261] = {};
    if (!PromptForMultipageSaveName(&format, buffer) || buffer[0] == '\0') return -1;
    path = buffer;
  }
  int result;
  {
    LogNest nest;
    mp.lock.acquire();
    LogPrint("Claimed multipage lock\n");
    core::error_clear();
    result = fileio::begin_file(mp, path, format);
    if (result == 0) {
      fileio::file_state().last_output = mp.path;
      mp.open = true;
      if (fileio::output_settings().lazy_writing) fileio::StartBgWriter();
    } else if (result != -6) {
      mp.output.reset();
      mp.path.clear();
      mp.format = -1;
      if (!mp.held) fileio::forget_held(mp);
    }
  }
  LogPrint("BeginMultipageFile => %d\n", result);
  if (result != 0) {
    LogPrint("Releasing multipage lock\n");
    mp.lock.release();
  }
  return result;
}

namespace {

int end_multipage(const char* name, fileio::Ending how) {
  MultipageState& mp = multipage();
  LogApiCall("%s\n", name);
  const unsigned started = platform::tick_count_ms();
  int result;
  {
    LogNest nest;
    fileio::FinishBgWriter();
    fileio::file_state().output_page_count = -1;
    if (mp.open) {
      result = fileio::end_open_file(mp, how);
    } else if (how == fileio::Ending::Discard && mp.held) {
      fileio::file_state().last_output = mp.held->final_path();
      fileio::forget_held(mp);
      result = 0;
    } else {
      LogPrint("No multipage file open\n");
      result = -6;
    }
    LogPrint("DIBs in use: %ld\n", dib::live_count());
  }
  LogPrint("%s => %d [%dms]\n", name, result, static_cast<int>(platform::tick_count_ms() - started));
  return result;
}

}  // namespace

int TWAIN_EndMultipageFile(void) { return end_multipage("EndMultipageFile", fileio::Ending::Keep); }

int TWAIN_HoldMultipageFile(void) { return end_multipage("HoldMultipageFile", fileio::Ending::Hold); }

int TWAIN_DiscardMultipageFile(void) { return end_multipage("DiscardMultipageFile", fileio::Ending::Discard); }

const char* TWAIN_HeldMultipageFileName(void) {
  const MultipageState& mp = multipage();
  return mp.held && !mp.open ? mp.held->temp_path().c_str() : "";
}

int TWAIN_CommitMultipageFile(void) {
  MultipageState& mp = multipage();
  LogApiCall("CommitMultipageFile\n");
  if (mp.open || !mp.held) {
    RecordError(ERR_FAILURE, "CommitMultipageFile: no finished file held");
    return -6;
  }
  const int result = fileio::commit_output(mp, *mp.held);
  fileio::forget_held(mp);
  LogPrint("CommitMultipageFile => %d\n", result);
  return result;
}

void TWAIN_SetOutputPageCount(int count) {
  LogPrint("SetOutputPageCount(%d)\n", count);
  fileio::file_state().output_page_count = count;
}

int TWAIN_IsMultipageFileOpen(void) { return multipage().open ? 1 : 0; }
const char* TWAIN_MultipageFileName(void) { return multipage().path.c_str(); }
int TWAIN_MultipagePageCount(void) { return multipage().pages.load(); }
int TWAIN_MultipageFileFormat(void) { return multipage().open ? multipage().format : -1; }

int DIB_WriteArrayToFilename(const uintptr_t* array, int count, const char* path) {
  LogPrint("WriteArrayToFilename(0x%08lx, %d, '%s')\n", reinterpret_cast<unsigned long>(array), count,
           path ? path : "");
  if (!array || count < 1) {
    RecordError(ERR_BAD_PARAMETER, "DIB_WriteArrayToFilename");
    return -2;
  }
  if (count == 1) return DIB_WriteToFilename(array[0], path);
  TWAIN_SetOutputPageCount(count);
  int rc = TWAIN_BeginMultipageFile(path);
  if (rc == -10) rc = -1;
  if (rc != 0) return rc;
  for (int i = 0; i < count; ++i) {
    rc = fileio::DibWritePage(array[i], 0);
    if (rc != 0) {
      TWAIN_EndMultipageFile();
      return rc;
    }
  }
  return TWAIN_EndMultipageFile();
}

namespace {

// The multipage file being written (TWAIN_ResetAll ends or discards it itself).
const bool kMultipageRegistered = core::register_state({"fileio.multipage", [] { fileio::multipage_reset_for_tests(); }, nullptr});

}  // namespace
