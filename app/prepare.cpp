// Reading a command line: the pre-scan of the switches that act first, and
// the full preparation of a ScanRequest with its derived defaults and the
// combinations that are refused.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/naming.h"
#include "app/options.h"
#include "app/report.h"
#include "app/stream_output.h"
#include "orivane/trace_log.h"

namespace {

enum class ArgKind { Switch, FileName, EndOfSwitches };

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

// On this platform "/" also separates folders: an argument that begins with
// "/" and has a second "/" before any "=", ":" or quote is a path, unless the
// text between the two slashes is itself a switch ("/BW/GRAY" is a missing
// blank, not a folder).
bool looks_like_path(std::string_view arg) {
  std::size_t second = arg.find_first_of("/=:\"'", 1);
  if (second == std::string_view::npos || arg[second] != '/') return false;
  return !IsKnownSwitch(arg.substr(1, second - 1));
}

ArgKind classify(std::string_view arg, bool switches_ended) {
  if (switches_ended) return ArgKind::FileName;
  if (arg == "--") return ArgKind::EndOfSwitches;
  // "-" alone is standard output, as for any Linux program.
  if (arg.empty() || arg == "-") return ArgKind::FileName;
  if (arg[0] == '-') return ArgKind::Switch;
  if (arg[0] == '/') return looks_like_path(arg) ? ArgKind::FileName : ArgKind::Switch;
  return ArgKind::FileName;
}

// A quoted value loses its opening quote and ends at the matching one.
std::string unquote(std::string_view value) {
  if (!value.empty() && (value[0] == '"' || value[0] == '\'')) {
    char quote = value[0];
    value.remove_prefix(1);
    value = value.substr(0, value.find(quote));
  }
  constexpr std::size_t kLogNameMax = 259;
  return std::string(value.substr(0, kLogNameMax));
}

struct PreScan {
  int level = 0;
};

void prescan_log(PreScan& p, std::string_view sw) {
  for (std::string_view key : {"logname=", "logfile="}) {
    if (starts_with_nocase(sw, key)) {
      TWAIN_SetLogName(unquote(sw.substr(key.size())).c_str());
      if (p.level == 0) p.level = 1;
      return;
    }
  }
  if (!starts_with_nocase(sw, "log")) return;
  std::string_view rest = sw.substr(3);
  if (!rest.empty() && std::isalpha(static_cast<unsigned char>(rest[0]))) return;
  if (!rest.empty() && (rest[0] == '=' || rest[0] == ':')) rest.remove_prefix(1);
  if (!rest.empty() && std::isdigit(static_cast<unsigned char>(rest[0]))) {
    int level = 0;
    for (std::size_t i = 0; i < rest.size() && std::isdigit(static_cast<unsigned char>(rest[i])); ++i)
      level = level < 100000 ? level * 10 + (rest[i] - '0') : level;
    p.level = level;
    return;
  }
  p.level = 1;
  if (!rest.empty()) TWAIN_SetLogName(unquote(rest).c_str());
}

void prescan_report_file(std::string_view sw) {
  if (!starts_with_nocase(sw, "o=") || sw.size() < 3) return;
  std::string path(sw.substr(2));
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return;
  FrontEnd& fe = front_end();
  if (fe.report_stream && fe.report_stream != stderr) std::fclose(fe.report_stream);
  fe.report_stream = f;
}

void prescan_app_name(std::string_view sw) {
  if (starts_with_nocase(sw, "app=") && sw.size() > 4)
    front_end().app_name = bounded(std::string(sw.substr(4)), kAppNameMax);
}

std::string format_message(const char* format, const std::string& arg) {
  char out[kMessageMax + 1];
  std::snprintf(out, sizeof out, format, arg.c_str());
  return out;
}

// The combinations that cannot run, in the order they are checked.
const char* refused_combination(const ScanRequest& r) {
  if (r.server && r.client) return "/server and /bg cannot be combined";
  if (r.close && !r.server && !r.client) return "/close is only valid with /bg";
  if (r.stop && !r.server && !r.client) return "/stop is only valid with /bg";
  if (r.pixel_types == kPixelBw && r.text_area) return "/ta cannot be used for B&W scanning";
  if ((r.pixel_types & kPixelBw) && r.deep) return "/deep is incompatible with /BW";
  if ((r.file_format == FF_BMP || r.file_format == FF_GIF) &&
      (r.deep || r.bit_depth == 16 || r.bit_depth == 48))
    return "Cannot save deep-pixel scans to BMP or GIF";
  // The recognised text has a place only in a PDF file: elsewhere /OCR
  // would do nothing (one file per page) or fail at the first page (a
  // multipage file).
  if (r.ocr && r.scan && r.file_format != FF_PDF) return "/OCR only supported to PDF (/PDF, /PDF+ or a .pdf name)";
  // A device that writes its own files hands over no page to stamp.
  if (r.transfer_mode == kTransferFile && !r.text_template.empty())
    return "/text cannot stamp the files the device writes itself (/file)";
  return nullptr;
}

bool take_file_name(ScanRequest& r, std::string_view arg, std::string& out_message) {
  if (arg.empty()) {
    out_message = "Empty argument: a file name or switch was expected";
    return false;
  }
  if (!r.output_name.empty()) {
    out_message = format_message("Too many filenames: %s", std::string(arg));
    return false;
  }
  // A longer name would be cut and the pages written under another name.
  if (arg.size() > kOutputNameMax) {
    out_message = format_message("File name too long (over 259 characters): %.64s...", std::string(arg));
    return false;
  }
  r.output_name = std::string(arg);
  return true;
}

}  // namespace

void PreScanArguments(int argc, const char* const* argv) {
  PreScan p;
  bool ended = false;
  bool file_to_stdout = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i] ? argv[i] : "";
    ArgKind kind = classify(arg, ended);
    if (kind == ArgKind::EndOfSwitches) ended = true;
    if (kind == ArgKind::FileName) file_to_stdout = file_to_stdout || StreamIsStandardOutput(std::string(arg));
    if (kind != ArgKind::Switch) continue;
    std::string_view sw = arg.substr(1);
    prescan_log(p, sw);
    prescan_report_file(sw);
    prescan_app_name(sw);
  }
  if (p.level != 0) TWAIN_LogFile(p.level);
  // The file takes standard output: the report goes to standard error
  // unless it has a file of its own (/O=), refused command lines included.
  if (file_to_stdout && !front_end().report_stream) front_end().report_stream = stderr;
}

bool PrepareRequest(ScanRequest& r, int argc, const char* const* argv, std::string& out_message) {
  out_message.clear();
  r.show_version = argc <= 1;
  r.implies_scan = !r.show_version;
  r.text_height = 1.0 / 6.0;
  r.text_flags = kTextBottom;
  bool ended = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i] ? argv[i] : "";
    switch (classify(arg, ended)) {
      case ArgKind::EndOfSwitches: ended = true; break;
      case ArgKind::Switch:
        if (!ParseSwitch(r, arg, out_message)) return false;
        break;
      case ArgKind::FileName:
        if (!take_file_name(r, arg, out_message)) return false;
        break;
    }
  }
  if (!r.output_name.empty() && IsStreamTarget(r.output_name)) {
    // The format comes from the switches; the name inside the run's private
    // folder is only a name.
    r.stream_target = r.output_name;
    r.output_name = "stdout";
  }
  if (!r.output_name.empty()) {
    DeriveOutputName(r);
    if (r.output_name.size() > kOutputNameMax) {
      out_message = format_message("File name too long (over 259 characters): %.64s...", r.output_name);
      return false;
    }
  } else {
    r.scan = r.implies_scan;
  }
  if (!r.stream_target.empty() && !WritesOneFile(r)) {
    out_message = format_message(
        "%s takes one file: scan one page (/N=1) or into one multipage file (/PDF+, /TIFF+, /DCX+)",
        r.stream_target == "-" ? std::string("Standard output (-)") : r.stream_target);
    return false;
  }
  if (const char* refusal = refused_combination(r)) {
    out_message = refusal;
    return false;
  }
  // Barcode types without an engine are read by the first engine.
  if (r.barcode_types != 0 && r.barcode_engine == 0) r.barcode_engine = 1;
  r.units_needed = r.resolution != 0 || r.top != 0 || r.left != 0 || r.width != 0 || r.height != 0;
  if (r.prompt_on_empty && r.page_count == 0) r.page_count = -1;
  out_message.clear();
  return true;
}

namespace {

bool all_switches(std::string_view arg) {
  std::size_t start = 1;
  while (start <= arg.size()) {
    std::size_t end = arg.find('/', start);
    if (end == std::string_view::npos) end = arg.size();
    if (!IsKnownSwitch(arg.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

std::string SwitchPathHint(int argc, const char* const* argv) {
  bool ended = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i] ? argv[i] : "";
    const ArgKind kind = classify(arg, ended);
    if (kind == ArgKind::EndOfSwitches) ended = true;
    if (kind != ArgKind::Switch || arg[0] != '/') continue;
    // A second slash inside the keyword, not in a value (/O=/tmp/r.txt).
    const std::size_t second = arg.find_first_of("/=:\"'", 1);
    if (second == std::string_view::npos || arg[second] != '/') continue;
    if (all_switches(arg)) continue;  // "/BW/GRAY": a missing blank, not a path
    const std::string path(arg);
    return "if " + path + " is a file name, put it after --: quillet [switches] -- " + path;
  }
  return "";
}
