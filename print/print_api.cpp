// The DIB_Print family: printing an image, an array, a file, or a job page by
// page, and the destinations to print to.
#include <cups/cups.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/print_api.h"
#include "print/print_job.h"

using print::print_state;

namespace {

constexpr std::size_t kNameMax = 255;

// A job of the given pages, each printed by `page(i)`; the first failure ends
// the job and is the result.
template <typename PrintOne>
int print_job(int pages, bool no_prompt, const std::string& name, PrintOne page) {
  if (const int failed = print::begin_job(pages, no_prompt, name)) return failed;
  for (int i = 0; i < pages; ++i) {
    if (const int failed = page(i)) {
      print::end_job();
      return failed;
    }
  }
  return print::end_job();
}

int print_one(DIB_HANDLE dib, const char* job_name, bool no_prompt) {
  core::error_clear();
  const int result = print_job(1, no_prompt, job_name ? job_name : "", [&](int) { return print::print_page(dib); });
  LogPrint("=> %d\n", result);
  return result;
}

}  // namespace

int32_t DIB_Print(DIB_HANDLE dib, const char* job_name) {
  LogPrint("Print(0x%p, %s)\n", reinterpret_cast<void*>(dib), job_name ? job_name : "");
  return print_one(dib, job_name, false);
}

int32_t DIB_PrintNoPrompt(DIB_HANDLE dib, const char* job_name) {
  LogPrint("PrintNoPrompt(0x%p, %s)\n", reinterpret_cast<void*>(dib), job_name ? job_name : "");
  return print_one(dib, job_name, true);
}

int32_t DIB_PrintArray(const DIB_HANDLE* array, int32_t count, const char* job_name, int32_t no_prompt) {
  LogPrint("DIB_PrintArray(0x%p,'%s',bNoPrompt=%d)\n", static_cast<const void*>(array), job_name ? job_name : "",
           no_prompt);
  core::error_clear();
  int result = -3;
  if (count <= 0 || !array) {
    RecordError(ERR_PRINT, "DIB_PrintArray");
  } else {
    result = print_job(count, no_prompt != 0, job_name ? job_name : "", [&](int i) { return print::print_page(array[i]); });
  }
  LogPrint("DIB_PrintArray => %d\n", result);
  return result;
}

int32_t DIB_PrintFile(const char* path_in, const char* job_name, int32_t no_prompt) {
  LogPrint("DIB_PrintFile('%s','%s',%d)\n", path_in ? path_in : "", job_name ? job_name : "", no_prompt);
  core::error_clear();
  char chosen[260] = {0};
  std::string path = path_in ? path_in : "";
  if (path.empty()) {
    if (!PromptForOpenFilename(chosen)) return -1;
    path = chosen;
  }
  std::string name = job_name ? job_name : "";
  if (name.empty()) {
    name = std::filesystem::path(path).stem().string();
    LogPrint("Jobname=%s\n", name.c_str());
  }
  const int pages = FilePageCount(path.c_str());
  if (pages <= 0) {
    RecordError(ERR_FILE_READ, path.c_str());
    return -3;
  }
  return print_job(pages, no_prompt != 0, name, [&](int i) {
    DIB_HANDLE page = DIB_LoadPage(path.c_str(), i);
    if (!page) return -3;
    const int result = print::print_page(page);
    DIB_Free(page);
    return result;
  });
}

int32_t DIB_PrintJobBegin(const char* job_name, int32_t no_prompt) {
  LogPrint("PrintJobBegin('%s', %d)\n", job_name ? job_name : "", no_prompt);
  core::error_clear();
  const int pages = print_state().next_job_pages;
  print_state().next_job_pages = 0;
  return print::begin_job(pages, no_prompt != 0, job_name ? job_name : "");
}

int32_t DIB_PrintPage(DIB_HANDLE dib) {
  LogPrint("PrintPage(0x%p)\n", reinterpret_cast<void*>(dib));
  core::error_clear();
  return print::print_page(dib);
}

int32_t DIB_PrintJobEnd(void) {
  LogPrint("PrintJobEnd\n");
  return print::end_job();
}

void DIB_SetNextPrintJobPageCount(int32_t count) {
  LogPrint("SetNextPrintJobPageCount(%d)\n", count);
  print_state().next_job_pages = count;
}

int32_t DIB_SpecifyPrinter(const char* name) {
  LogPrint("SpecifyPrinter(%s)\n", name ? name : "(null)");
  print_state().specified = std::string(name ? name : "").substr(0, kNameMax);
  return 1;
}

int32_t DIB_EnumeratePrinters(void) {
  LogPrint("EnumeratePrinters\n");
  std::vector<std::string>& list = print_state().printers;
  list = print::list_destinations();
  LogPrint("..found %d printers\n", static_cast<int>(list.size()));
  return static_cast<int32_t>(list.size());
}

const char* DIB_PrinterName(int32_t index) {
  const std::vector<std::string>& list = print_state().printers;
  const char* name = index >= 0 && index < static_cast<int>(list.size()) ? list[static_cast<std::size_t>(index)].c_str() : "";
  LogPrint("PrinterName(%d) => '%s'\n", index, name);
  return name;
}

int32_t DIB_GetPrinterName(int32_t index, char* out) {
  const std::vector<std::string>& list = print_state().printers;
  LogPrint("GetPrinterName(%d, ...) => ", index);
  if (index < 0 || index >= static_cast<int>(list.size())) {
    if (out) *out = '\0';
    LogPrint("FALSE (invalid index)\n");
    return 0;
  }
  const std::string& name = list[static_cast<std::size_t>(index)];
  LogPrint("%s\n", name.c_str());
  if (out) {
    const std::size_t n = std::min(name.size(), kNameMax);
    std::memcpy(out, name.data(), n);
    out[n] = '\0';
  }
  return 1;
}

void DIB_SetPrintScaleToFit(int32_t on) { print_state().scale_to_fit = on != 0; }
int32_t DIB_GetPrintScaleToFit(void) { return print_state().scale_to_fit ? 1 : 0; }
int32_t DIB_LastPrintJobId(void) { return print_state().last_job_id; }
