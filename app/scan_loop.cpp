// The scan loop: the page plan, one pass per page until the plan, the
// device or the user ends the run, error recovery between pages, and the
// end of the multipage file.
#include "app/scan_loop.h"

#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/device.h"
#include "app/exit_status.h"
#include "app/naming.h"
#include "app/progress.h"
#include "app/report.h"
#include "app/review.h"
#include "app/stream_output.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"
#include "orivane/twain.h"
#include "orivane/twain_acquire.h"
#include "orivane/twain_session.h"
#include "orivane/twain_settings.h"
#include "orivane/twain_sources.h"
#include "orivane/twain_switches.h"
#include "orivane/view_api.h"
#include "platform/interrupt.h"
#include "platform/ui.h"

namespace {

enum class Next { Scan, Stop };

struct Run {
  ScanRequest& r;
  int stored = 0;
  int exit_code = 0;
  // The run ends now with exit_code, its report without a page count.
  bool end_at_once = false;
};

bool family_is_travelscan() {
  TW_IDENTITY id{};
  if (!TWAIN_GetSourceIdentity(&id)) return false;
  return strcasecmp(id.ProductFamily, "TravelScan") == 0;
}

void plan_pages(ScanRequest& r) {
  if (r.duplex && !TWAIN_GetDuplexSupport()) r.duplex = false;
  if (r.multipage && r.page_count == 0) r.page_count = -1;
  if (r.auto_feed > 0 && r.page_count == 0) r.page_count = -1;
  if (r.duplex && r.page_count == 0 && !r.multipage && r.file_format == FF_PDF) {
    r.page_count = 2;
    r.multipage = true;
  }
  if (r.page_count == 0 || r.page_count == 1) {
    r.single_scan = true;
    r.page_count = 1;
  }
  if (family_is_travelscan() && r.page_count < 0) r.prompt_on_empty = true;
}

// The first name, collisions, and the multipage file. 0, or the result of
// beginning the multipage file.
int prepare_names(ScanRequest& r) {
  if (!r.multipage && !r.single_scan && r.number_position >= 0 &&
      (static_cast<std::size_t>(r.number_position) >= r.output_name.size() ||
       r.output_name[r.number_position] < '0' || r.output_name[r.number_position] > '9'))
    IncrementFileName(r);
  SkipExistingNames(r);
  // Numbered names skip what exists; a file that appears meanwhile is
  // never replaced either: the write takes the next number instead.
  TWAIN_SetReplaceExisting(r.auto_increment ? 0 : 1);
  if (r.multipage) return TWAIN_BeginMultipageFile(r.output_name.c_str());
  return 0;
}

// Whether another page follows, by the device's state after a page.
Next more_pages(Run& run) {
  ScanRequest& r = run.r;
  run.exit_code = 0;
  const int state = TWAIN_State();
  if (state < 5) {
    if (TWAIN_GetHideUI() && r.prompt_on_empty && TWAIN_PromptToContinue(0)) {
      LogPrint("POE: trying for another page.\n");
      TWAIN_SetWaitDialogDelay(3);
      return Next::Scan;
    }
    LogPrint("break, TWAIN_State() < 5\n");
    return Next::Stop;
  }
  if (TWAIN_GetHideUI() && state == 5) {
    if (r.prompt_on_empty) {
      if (TWAIN_PromptToContinue(0)) {
        LogPrint("POE: trying for another page.\n");
        TWAIN_DisableSource();
        TWAIN_SetWaitDialogDelay(3);
        return Next::Scan;
      }
      LogPrint("POE: Document Complete\n");
      return Next::Stop;
    }
    if (r.page_count < 0) {
      LogPrint("break: NoUI && State < 6 && nImages < 0\n");
      return Next::Stop;
    }
    TWAIN_SetWaitDialogDelay(3);
    return Next::Scan;
  }
  if (r.stop_on_empty && state == 5) {
    LogPrint("SOE: Document Complete\n");
    TWAIN_DisableSource();
    return Next::Stop;
  }
  return Next::Scan;
}

// Shows the pages so far; 1 when the user accepted them and wants to go on.
// With windows the library's viewer shows the file itself (OK goes on);
// without, the question is asked where someone may answer it, and a person
// who is not there does not accept.
int view_pages_so_far(const std::string& file) {
  if (platform::ui().shows_windows()) {
    TWAIN_SetViewOption("title", "Here's what we've got");
    return TWAIN_ViewFile(file.c_str());
  }
  const platform::UiAnswer a =
      platform::ui().ask("Here's what we've got",
                         std::string("Scanning stopped with an error. Pages so far: ") + file + "\nContinue scanning?",
                         platform::UiButtons::OkCancel, platform::UiAnswer::Cancel);
  return a == platform::UiAnswer::Ok ? 1 : 0;
}

const char* signal_name(int sig) {
  switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
  }
}

// The console's cancel (Ctrl-C, SIGTERM) ends the run as the user's cancel
// in the device does: pages already stored as files stay, a multipage file
// is ended as a cancelled one is, and nobody is asked about the pages so
// far, since the person who interrupted has already answered.
Next cancel_on_interrupt(Run& run) {
  const std::string why = std::string("Scan cancelled by ") + signal_name(platform::interrupt_signal());
  LogPrint("[Quillet] %s, nExit=2\n", why.c_str());
  TWAIN_ClearError();
  note_failure(why);
  run.exit_code = 2;
  return Next::Stop;
}

// After a failed page: resume (Scan) or end the run with an exit code. The
// pages so far of a multipage file are finished but held apart from its
// name, which keeps what it held until the whole run succeeds.
Next recover(Run& run, int failure) {
  ScanRequest& r = run.r;
  if (platform::interrupt_raised()) return cancel_on_interrupt(run);
  // Without its pages so far there is nothing to go on with.
  const bool held = !r.multipage || TWAIN_HoldMultipageFile() == 0;
  const std::string so_far = r.multipage ? TWAIN_HeldMultipageFileName() : LastOutputFileName();
  if (!held || view_pages_so_far(so_far) != 1) {
    run.exit_code = failure;
    LogPrint("[Quillet] break, nExit=%d\n", run.exit_code);
    return Next::Stop;
  }
  LogPrint("Attempting to resume scan loop...\n");
  if (TWAIN_State() >= 5) {
    TWAIN_DisableSource();
  } else if (!OpenDevice(r, front_end().main_window)) {
    run.exit_code = 255;
  } else if (!ApplySettings(r)) {
    run.exit_code = 252;
  }
  if (run.exit_code != 0) {
    LogPrint("[Quillet] break, nExit=%d\n", run.exit_code);
    return Next::Stop;
  }
  if (r.multipage) {
    TWAIN_SetFileAppendFlag(1);
    if (const int rc = TWAIN_BeginMultipageFile(r.output_name.c_str()); rc != 0) {
      // The pages the user accepted are kept; the run ends with the result.
      TWAIN_CommitMultipageFile();
      run.exit_code = rc;
      run.end_at_once = true;
      return Next::Stop;
    }
  }
  LogPrint("Resuming scan loop!\n");
  // The user went on past the failure: it is no longer why the run ends.
  clear_failure_note();
  return Next::Scan;
}

// One pass; Stop ends the loop with run.exit_code.
Next scan_one(Run& run) {
  ScanRequest& r = run.r;
  if (platform::interrupt_raised()) return cancel_on_interrupt(run);
  const int delivered = front_end().batch.delivered;
  const int result = AcquireOne(r, front_end().main_window, run.stored);
  if (front_end().batch.delivered != delivered) progress_page(front_end().batch);
  if (result == 1) {
    if (r.single_scan) {
      LogPrint("discarded only scan.\n");
      run.exit_code = 2;
      return Next::Stop;
    }
    return more_pages(run);
  }
  if (result == -1 && run.stored == 0) {
    LogPrint("[Quillet] cancel on first scan, nExit=%d\n", -1);
    run.exit_code = 2;
    return Next::Stop;
  }
  if (result == 0) {
    ++run.stored;
    if (r.page_count > 0 && --r.page_count == 0) {
      LogPrint("break, nImages=0\n");
      run.exit_code = 0;
      return Next::Stop;
    }
    if (!r.multipage) {
      IncrementFileName(r);
      SkipExistingNames(r);
    }
    return more_pages(run);
  }
  if (result == -1 && TWAIN_CloseRequested()) {
    run.exit_code = 0;
    LogPrint("[Quillet] break, nExit=%d\n", run.exit_code);
    return Next::Stop;
  }
  return recover(run, result);
}

// Ends the multipage file: kept and reported, or dropped. A dropped file
// takes only this run's pages with it: whatever the name held before the
// run (an archive appended to, a file to be replaced) stays as it was.
void finish_multipage(Run& run) {
  if (run.exit_code != 0) {
    TWAIN_DiscardMultipageFile();
    run.stored = 0;
    return;
  }
  if (TWAIN_HoldMultipageFile() != 0) {
    run.exit_code = -1;
    run.stored = 0;
    return;
  }
  if (run.r.file_review) {
    const int f = FileReview(TWAIN_HeldMultipageFileName());
    ReportLine("FileReview=%s\n",
               f == 0 ? "OK" : f == 1 ? "discard" : f == 2 ? "cancel" : "error");
    run.exit_code = f;
    if (f != 0) {
      TWAIN_DiscardMultipageFile();
      run.stored = 0;
      return;
    }
  }
  if (TWAIN_CommitMultipageFile() != 0) {
    run.exit_code = -1;
    run.stored = 0;
    return;
  }
  // Reported as a full path, as single files are: the multipage file was
  // named relative to the folder the run started in.
  ReportLine("File=%s\n",
             ReportedFileName(PageFullPath(LastOutputFileName(), front_end().start_folder)).c_str());
}

// The batch's account beside the pages written: what was asked for, what
// the device delivered, how many of those were blank and dropped.
void report_batch() {
  const BatchCounts& b = front_end().batch;
  if (b.asked < 0) {
    ReportLine("PagesAsked=all\n");
  } else {
    ReportLine("PagesAsked=%d\n", b.asked);
  }
  ReportLine("PagesDelivered=%d\n", b.delivered);
  ReportLine("BlankPagesDropped=%d\n", b.blank_dropped);
}

// The loop over the pages of an opened, prepared device.
void scan_batch(Run& run) {
  ScanRequest& r = run.r;
  LogPrint("[Quillet] Starting scan loop.  nImages=%d\n", r.page_count);
  progress_begin();
  while (r.page_count != 0 && scan_one(run) == Next::Scan) {
  }
  progress_end();
  if (run.end_at_once) return;
  LogPrint("Scan loop terminated.\n");
  if (r.multipage) finish_multipage(run);
}

}  // namespace

int ScanPages(ScanRequest& r) {
  Run run{r};
  front_end().batch = BatchCounts{};
  if (!OpenDevice(r, front_end().main_window)) {
    ReportLine("PagesWritten=%d\n", run.stored);
    return 255;
  }
  ReportLine("Source=%s\n", TWAIN_SourceName());
  plan_pages(r);
  front_end().batch.asked = r.page_count;
  if (!ApplySettings(r)) {
    run.exit_code = 252;
  } else if (!StreamBegin(r)) {
    run.exit_code = -2;
  } else if (const int rc = prepare_names(r); rc != 0) {
    // The multipage file could not be begun: the run ends at once.
    run.exit_code = rc;
    run.end_at_once = true;
  } else {
    scan_batch(run);
  }
  // The one file goes to its stream once it is complete and kept.
  if (const int rc = StreamEnd(r, run.exit_code == 0 && run.stored > 0); rc != 0 && run.exit_code == 0) {
    run.exit_code = rc;
    run.stored = 0;
  }
  report_batch();
  // A run that ended at once has no page count, as ever.
  if (!run.end_at_once) ReportLine("PagesWritten=%d\n", run.stored);
  return run.exit_code;
}
