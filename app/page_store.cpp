// One page from the device to its file: the transfer, the corrections the
// switches ask for, the review, and storing it in its own file or in the
// open multipage file (with its recognised text under /OCR), with its carbon
// copy.
#include <cstdio>
#include <string>

#include "app/exit_status.h"
#include "app/naming.h"
#include "app/report.h"
#include "app/review.h"
#include "app/stream_output.h"
#include "app/scan_loop.h"
#include "core/error_record.h"
#include "app/text_stamp.h"
#include "dib/page_analysis.h"
#include "log/trace.h"
#include "orivane/barcode_api.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"
#include "orivane/ocr_api.h"
#include "orivane/twain_acquire.h"
#include "orivane/twain_switches.h"

namespace {

constexpr const char* kNoMemory = "Insufficient memory (or internal failure)";

// The blank test of /BLANK (the library's threshold).
bool page_is_blank(uintptr_t image) {
  try {
    dib::Locked page(image);
    return dib::is_blank(page.view(), TWAIN_GetBlankPageThreshold());
  } catch (const dib::Error&) {
    return false;
  }
}

// The barcodes of the page, one report line each, when the request reads
// barcodes.
void report_barcodes(const ScanRequest& r, uintptr_t image, int page_index) {
  if (r.barcode_types == 0) return;
  const int n = BARCODE_Recognize(image, -1, r.barcode_types);
  char text[BARCODE_TEXT_MAX + 1];
  for (int i = 0; i < n; ++i) {
    BARCODE_GetText(i, text);
    ReportLine("Page%d.Barcode%d=%s\n", page_index + 1, i + 1, text);
  }
}

// Replaces the page by `made` when an operation made a new image.
void replace(uintptr_t& image, uintptr_t made) {
  if (made == 0 || made == image) return;
  DIB_Free(image);
  image = made;
}

void apply_corrections(const ScanRequest& r, uintptr_t& image, const std::string& path, int page_index) {
  if (r.quantize && DIB_Depth(image) == 24) replace(image, DIB_ConvertToFormat(image, DIB_PT_PALETTE, 8, nullptr));
  if (r.negate) DIB_Negate(image);
  if (r.rotation != 0) {
    const uintptr_t turned = DIB_Rotate90(image, r.rotation);
    if (turned == 0) TWAIN_ErrorBox(kNoMemory);
    replace(image, turned);
  }
  if (r.to_gray != 0) {
    const uintptr_t gray = r.to_gray == 1 ? DIB_ConvertToFormat(image, DIB_PT_GRAY, 8, nullptr)
                                          : DIB_ScaleToGray(image, r.to_gray);
    if (gray == 0) TWAIN_ErrorBox(kNoMemory);
    replace(image, gray);
  }
  StampPage(r, image, path, page_index);
  if (r.text_area) {
    const int type = DIB_PixelType(image);
    if (type == DIB_PT_GRAY || type == DIB_PT_RGB || type == DIB_PT_PALETTE) {
      int threshold = DIB_AutoThreshold(image);
      threshold = threshold < 0 ? 0 : threshold > 255 ? 255 : threshold;
      const uintptr_t bw = DIB_ConvertToBW(image, threshold);
      if (bw == 0) TWAIN_ErrorBox(kNoMemory);
      replace(image, bw);
    } else {
      TWAIN_ErrorBox("/TA only makes sense for color or gray images.");
    }
  }
}

// A numbered run that found its name taken at the last moment wrote the
// next free number instead: later pages count on from there.
void follow_written_name(ScanRequest& r, const std::string& path) {
  const std::string written = LastOutputFileName();
  if (written.empty() || written == path) return;
  const std::size_t slash = r.output_name.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : r.output_name.substr(0, slash + 1);
  r.output_name = folder + written.substr(written.rfind('/') + 1);
  LogPrint("[Quillet] written as \"%s\"\n", written.c_str());
}

int store_single(ScanRequest& r, uintptr_t image, const std::string& path) {
  if (!TWAIN_SetSaveFormat(r.file_format)) {
    show_failure_box("Requested file save format is not available.");
    return -1;
  }
  // /OCR into a PDF file: the page's text goes over it. A page that cannot
  // be read is still written, without text; the write clears the library's
  // record, so the reason is put back afterwards for the report.
  core::ErrorRecord ocr_failure;
  if (r.ocr && r.file_format == FF_PDF) {
    if (OCR_RecognizeDib(image) < 0) ocr_failure = core::error_record();
    OCR_WriteTextToPDF();
  }
  int result = DIB_WriteToFilename(image, path.c_str());
  if (result == 0) core::error_record_again(ocr_failure);
  if (result == 0) {
    follow_written_name(r, path);
    if (r.single_scan) {
      ReportLine("File=%s\n", ReportedFileName(LastOutputFileName()).c_str());
    } else {
      ReportLine("File%d=%s\n", ++front_end().file_counter, ReportedFileName(LastOutputFileName()).c_str());
    }
  } else if (result == -1) {
    result = -10;
  }
  return result;
}

int acquire_image(ScanRequest& r, uintptr_t window, const std::string& path, uintptr_t* image) {
  switch (r.transfer_mode) {
    case kTransferNative: *image = TWAIN_AcquireNative(window, 0); return -1;
    case kTransferFile:
      if (TWAIN_AcquireFile(window, r.file_format, path.c_str())) return 0;
      // The device could not write its file: a write failure, not a cancel.
      return TWAIN_LastErrorCode() == ERR_FILE_WRITE ? -4 : -1;
    case kTransferMemory: *image = TWAIN_AcquireMemory(window); return -1;
    default: show_failure_box("Internal Error 703"); return -2;
  }
}

int report_outcome(int result) {
  if (result == -1) {
    if (TWAIN_LastErrorCode() == ERR_CANCELLED) return 2;
    show_library_failure("Error during Acquire");
    return -1;
  }
  switch (result) {
    case -10: break;
    case -4: show_failure_box("File write failed, possibly output device is full"); break;
    case -3: show_failure_box("File write failed: invalid image or format error."); break;
    case -2: show_failure_box("File open failed (invalid path or name, or access denied)"); break;
    case 0: case 1: case 2: break;
    default: show_library_failure("Error during Acquire"); break;
  }
  return result;
}

}  // namespace

int WriteCarbonCopy(const ScanRequest& r, uintptr_t image, int page_index) {
  const std::string path = CarbonCopyPath(r.carbon_copy_path, r.output_name);
  const int format = FormatFromExtension(path.c_str(), FF_BMP);
  if (page_index > 0) {
    if (format != FF_TIFF && format != FF_DCX && format != FF_PDF) return 0;
    TWAIN_SetFileAppendFlag(1);
  }
  const int result = DIB_WriteToFilename(image, path.c_str());
  TWAIN_SetFileAppendFlag(0);
  // The report names the file written: the writer adds the save format's
  // extension to a copy named without one, and takes the next number where
  // it must not replace a file. A copy that was not written is not reported.
  if (result == 0) ReportLine("CCFile%d=%s\n", front_end().file_counter, LastOutputFileName());
  else LogPrint("[Quillet] carbon copy not written (%d): %s\n", result, path.c_str());
  return result;
}

int AcquireOne(ScanRequest& r, uintptr_t window, int page_index) {
  LogPrint("[Quillet] AcquireOne starting page %d\n", page_index + 1);
  TWAIN_SuppressErrorMessages(1);
  const std::string path = r.output_name.empty() ? "" : PageFullPath(r.output_name, front_end().start_folder);
  uintptr_t image = 0;
  int result = acquire_image(r, window, path, &image);
  if (result == 0 && r.transfer_mode == kTransferFile) follow_written_name(r, path);
  BatchCounts& batch = front_end().batch;
  if (image != 0 || (result == 0 && r.transfer_mode == kTransferFile)) ++batch.delivered;
  if (result == -2) {
    TWAIN_SuppressErrorMessages(0);
    return -1;
  }
  if (image != 0) {
    if (r.blank_discard && page_is_blank(image)) {
      DIB_Free(image);
      image = 0;
      result = 1;
      ++batch.blank_dropped;
    }
  }
  if (image != 0) {
    apply_corrections(r, image, path, page_index);
    report_barcodes(r, image, page_index);
    result = r.review ? ReviewPage(image) : 0;
    if (result == 0) {
      if (r.multipage && r.ocr) {
        result = OCR_WritePage(image) ? 0 : -1;
      } else if (r.multipage) {
        result = TWAIN_DibWritePage(image);
      } else {
        result = store_single(r, image, path);
      }
      if (result == 0 && r.carbon_copy) WriteCarbonCopy(r, image, page_index);
    }
    TWAIN_FreeNative(image);
  }
  TWAIN_SuppressErrorMessages(0);
  LogPrint("[Quillet] nErr == %d\n", result);
  result = report_outcome(result);
  LogPrint("[Quillet] AcquireOne() => %d\n", result);
  return result;
}
