// Writing pages into the open multipage file: queuing them for the
// background writer, or writing them now.
#include <cstdint>

#include "core/error_record.h"
#include "fileio/codec_modules.h"
#include "fileio/multipage.h"
#include "fileio/options.h"
#include "fileio/pdf_options.h"
#include "fileio/write_support.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"
#include "orivane/pdf_api.h"
#include "platform/clock.h"

namespace fileio {
namespace {

// What a fault inside a codec's page writer is recorded with.
constexpr const char* kPageContext = "DibWritePage";

int tiff_compression_for(DIB_HANDLE page) {
  const int type = DIB_PixelType(page);
  return type >= 0 && type <= 5 ? output_settings().tiff_compression[type] : -1;
}

int write_tiff_page(const BlockLock& lock, int compression) {
  const TiffApi* tiff = tiff_api();
  if (!tiff) return -5;
  TiffUse use(tiff);
  const int type = lock.pixel_type();
  if (type >= 0 && type <= 5 && compression >= 0) tiff->SetCompression(type, compression);
  return codec_guarded(kPageContext, -5, [&] { return tiff->DibWritePage(lock.get()); });
}

// DCX pages are black and white: deeper pages go in as a converted copy.
int write_dcx_page(DIB_HANDLE page) {
  const DcxApi* dcx = dcx_api();
  if (!dcx) return -5;
  DIB_HANDLE copy = 0;
  if (DIB_Depth(page) > 1) {
    copy = DIB_ConvertToFormat(page, DIB_PT_BW, 1, nullptr);
    if (!copy) {
      RecordError(ERR_DCX_CONVERT, multipage().path.c_str());
      return -5;
    }
  }
  int rc;
  {
    BlockLock lock(copy ? copy : page);
    rc = lock.get() ? codec_guarded(kPageContext, -5, [&] { return dcx->DibWritePage(lock.get()); }) : -2;
  }
  if (copy) DibFree(copy);
  return rc;
}

// Holds the caller back while the machine is short of memory and pages are
// waiting, and while the queue is full: each queued page is a whole image in
// memory, so a scanner faster than the writer must not pile them up without
// bound.
void throttle(BackgroundWriter& writer) {
  constexpr int kBudgetMs = 30000;
  constexpr int kStepMs = 2000;
  constexpr int kHighLoad = 90;
  if (writer.pending.load() > 0) {
    for (int budget = kBudgetMs;;) {
      const int load = memory_load_percent();
      LogPrint("PendingWrites=%d, Memory Load %d%%\n", writer.pending.load(), load);
      if (load < kHighLoad) break;
      platform::sleep_ms(kStepMs);
      budget -= kStepMs;
      if (writer.pending.load() == 0 || budget <= 0) break;
    }
  }
  constexpr int kMaxQueued = 4;
  if (writer.pending.load() < kMaxQueued) return;
  const std::uint32_t started = platform::tick_count_ms();
  while (writer.pending.load() >= kMaxQueued && !writer.done.load()) platform::sleep_ms(2);
  writer.queue_wait_ms += static_cast<long>(platform::tick_count_ms() - started);
}

// Hands the page to the writer thread; false when the pipe refused it.
bool queue_page(BackgroundWriter& writer, DIB_HANDLE page, int compression) {
  throttle(writer);
  writer.pending.fetch_add(1);
  const QueuedPage record{page, compression};
  const ssize_t n = ::write(writer.write_fd, &record, sizeof record);
  if (n == static_cast<ssize_t>(sizeof record)) {
    LogPrint("Queued to Bg: 0x%08lx\n", static_cast<unsigned long>(page));
    return true;
  }
  LogPrint("WriteFile GLE(%d) ", errno);
  RecordError(ERR_FAILURE, "WriteFile to Bg queue");
  writer.pending.fetch_sub(1);
  return false;
}

}  // namespace

int pdf_write_page(DIB_HANDLE page) {
  const PdfApi* pdf = pdf_api();
  if (!pdf) return -3;
  if (!BlockLock(page).get()) {
    RecordError(ERR_BAD_DIB, "(PDF_DibWritePage)");
    return -2;
  }
  if (const int recognised = pdf_searchable_text(page); recognised < 0) return recognised;
  // A page whose text was laid for it turned upright is written turned.
  const DIB_HANDLE turned = pdf_take_turned_page(page);
  int rc;
  {
    BlockLock lock(turned ? turned : page);
    if (!lock.get()) {
      RecordError(ERR_BAD_DIB, "(PDF_DibWritePage)");
      rc = -2;
    } else {
      rc = codec_guarded(kPageContext, -5, [&] { return pdf->DibWritePage(lock.get()); });
    }
  }
  if (turned) DibFree(turned);
  return rc;
}

int DibWritePageNow(DIB_HANDLE page, int compression) {
  const unsigned started = platform::tick_count_ms();
  MultipageState& mp = multipage();
  int rc;
  if (mp.format == MPF_JPEG || mp.format == MPF_BMP || mp.format == MPF_PNG || mp.format == MPF_GIF) {
    rc = merged_add_page(page);
  } else if (mp.format == MPF_DCX) {
    rc = write_dcx_page(page);
  } else if (mp.format == MPF_PDF) {
    rc = pdf_write_page(page);
  } else {
    BlockLock lock(page);
    if (!lock.get()) {
      RecordError(ERR_BAD_DIB, "(DibWritePageNow)");
      rc = -2;
    } else if (mp.format == MPF_TIFF) {
      rc = write_tiff_page(lock, compression);
    } else {
      rc = -5;
    }
  }
  if (rc != 0 && mp.output) rename_in_error(mp.output->temp_path(), mp.path);
  LogFlush();
  LogPrint("DibWritePageNow => %d [%dms]\n", rc, static_cast<int>(platform::tick_count_ms() - started));
  return rc;
}

int DibWritePage(DIB_HANDLE dib, int disposition) {
  LogPrint("DibWritePage(0x%lx, disp=%d)\n", static_cast<unsigned long>(dib), disposition);
  LogNest nest;
  MultipageState& mp = multipage();
  DIB_HANDLE page = 0;
  if (disposition == 0) {
    page = dib ? DibCopy(dib) : 0;
  } else if (disposition == 1 || disposition == 2) {
    page = dib;
  }
  // Whether `page` is still this call's to free.
  bool ours = disposition == 0 || disposition == 2;
  int rc;
  if (!mp.open) {
    RecordError(ERR_FAILURE, "DibWritePage: No multipage file open.");
    rc = -6;
  } else if (!page) {
    RecordError(ERR_MEMORY, "Queuing page for output");
    rc = -2;
  } else {
    const int compression = tiff_compression_for(page);
    BackgroundWriter& writer = mp.writer;
    if (writer.write_fd >= 0 && queue_page(writer, page, compression)) {
      ++mp.pages;
      ours = false;
      rc = 0;
    } else if (!WaitForBgWriter()) {
      rc = -2;
    } else {
      rc = DibWritePageNow(page, compression);
      if (rc == 0) {
        ++mp.pages;
        ours = true;  // written: the page (or its copy) is done with
      }
    }
  }
  if (ours && page) DibFree(page);
  return rc;
}

}  // namespace fileio

int TWAIN_DibWritePage(uintptr_t dib) { return fileio::DibWritePage(dib, 0); }

int TWAIN_WritePageAndFree(uintptr_t dib) {
  LogPrint("WritePageAndFree ");
  return fileio::DibWritePage(dib, 2);
}

int PDF_DibWritePage(uintptr_t dib) {
  LogPrint("PDF_DibWritePage(0x%lx)\n", static_cast<unsigned long>(dib));
  return fileio::pdf_write_page(dib);
}
