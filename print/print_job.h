// The print job: a CUPS destination, the job CUPS gave a number, the sheet
// the destination prints on and the document being assembled; and the rest
// of the process's printing state.
#pragma once
#include <cups/cups.h>

#include <memory>
#include <string>
#include <vector>

#include "orivane/dib_api.h"
#include "print/page_layout.h"
#include "print/pdf_document.h"

namespace print {

struct HttpCloser {
  void operator()(http_t* h) const { httpClose(h); }
};
struct DestFreer {
  void operator()(cups_dest_t* d) const { cupsFreeDests(1, d); }
};
struct InfoFreer {
  void operator()(cups_dinfo_t* i) const { cupsFreeDestInfo(i); }
};

struct Job {
  std::unique_ptr<http_t, HttpCloser> http;
  std::unique_ptr<cups_dest_t, DestFreer> dest;
  std::unique_ptr<cups_dinfo_t, InfoFreer> info;
  int id = 0;  // 0 until CUPS created the job
  std::string name;
  int page_counter = 0;
  Sheet sheet;
  PdfDocument document;
};

struct PrintState {
  std::string specified;              // DIB_SpecifyPrinter
  std::vector<std::string> printers;  // the last DIB_EnumeratePrinters
  Job job;                            // no destination while no job is open
  bool range_chosen = false;          // pages the dialog chose, when it chose
  int range_from = 0, range_to = 0;
  bool scale_to_fit = true;
  int next_job_pages = 0;
  int last_job_id = 0;
};

PrintState& print_state();

// A connection to the scheduler CUPS_SERVER (or the default) names, bounded:
// 5 s to connect, 30 s per request. nullptr when it cannot be reached.
std::unique_ptr<http_t, HttpCloser> connect_server();

// The destinations CUPS lists ("name" or "name/instance"), and which of them
// is the default (0 when none is marked). Empty when no server answers.
std::vector<std::string> list_destinations(std::size_t* out_default = nullptr);

// Opens the destination for a job of `pages` pages: the specified one without
// a dialog, else the dialog's choice (or the default without a dialog).
// 0, or -2 / -10 with the error recorded.
int open_printer(int pages, bool no_prompt);
// Opens a printer and has CUPS create the job: 0, or the failure.
int begin_job(int pages, bool no_prompt, const std::string& name);
// Prints one page of the open job: 0 or the failure (pages outside the
// chosen range are skipped with 0).
int print_page(DIB_HANDLE dib);
// Sends the document and closes the job: 0, or -4 when CUPS did not take it.
int end_job();

}  // namespace print
