// The settings file "Orivane3.ini": an administrator's presets for the
// library's switches, read once when the library is attached.
//
// Each line names a key and an integer: "LogFile(1)", "AutoDeskew=1",
// "TWAIN_SetAutoDeskew=1" and "SetAutoDeskew(1)" all work; the "TWAIN_" and
// "Set" prefixes are optional. The OCR language takes a word instead:
// "OcrLanguage=deu+eng". Lines end in LF or CR LF; every line is read
// whatever its ending. Keys may hold underscores so that the PDF keys
// ("PDF_SelectPageSize") can be named at all.
#include "twain/capabilities/switches.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "core/error_record.h"
#include "engines/ocr_engine.h"
#include "fileio/options.h"
#include "log/trace.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_options.h"
#include "orivane/ocr_api.h"
#include "orivane/pdf_api.h"
#include "orivane/trace_log.h"
#include "orivane/twain_settings.h"
#include "orivane/twain_switches.h"
#include "orivane/upload_api.h"
#include "platform/input_file.h"
#include "twain/acquisition/next_page.h"
#include "twain/capabilities/deferred.h"
#include "upload/upload_settings.h"

namespace twain {

namespace {

constexpr std::size_t kKeyMax = 63;
constexpr const char* kSettingsFileName = "Orivane3.ini";

struct SettingKey {
  const char* name;
  void (*apply)(int value);
  // A key whose value is a word rather than a number takes it here instead.
  void (*apply_text)(const std::string& value) = nullptr;
};

const SettingKey kKeys[] = {
    {"LogFile", [](int v) { TWAIN_LogFile(v); }},
    {"AutoNegate", [](int v) { TWAIN_SetAutoNegate(v); }},
    {"AutoDeskew", [](int v) { TWAIN_SetAutoDeskew(v); }},
    {"AutoCrop", [](int v) { TWAIN_SetAutoCrop(v); }},
    {"DisableParent", [](int v) { TWAIN_DisableParent(v); }},
    {"DefaultScanAnotherPagePrompt", [](int v) { next_page_prompt().default_answer = v; }},
    {"EnableDuplex", [](int v) { TWAIN_EnableDuplex(v); }},
    {"PDF_SelectPageSize", [](int v) { PDF_SelectPageSize(v); }},
    {"XferMech", [](int v) { TWAIN_SetXferMech(v); }},
    {"LazyWriting", [](int v) { TWAIN_SetLazyWriting(v); }},
    {"PDF_SetPDFACompliance", [](int v) { PDF_SetPDFACompliance(v); }},
    {"BlankPageMode", [](int v) { TWAIN_SetBlankPageMode(v); }},
    {"JpegQuality", [](int v) { TWAIN_SetJpegQuality(v); }},
    {"MaxImagePixels", [](int v) { DIB_SetMaxImagePixels(v); }},
    {"OCR_SetAutoRotatePagesToPDF", [](int v) { OCR_SetAutoRotatePagesToPDF(v); }},
    {"OcrLanguage", nullptr, [](const std::string& v) { engines::ocr_set_default_language(v); }},
    // Transfers to and from web servers (upload/): the certificate checks,
    // the download size limit in MiB and the time-outs in seconds.
    {"UploadCertificateFile", nullptr, [](const std::string& v) { UPLOAD_SetCertificateFile(v.c_str()); }},
    {"UploadVerifyPeer", [](int v) { UPLOAD_SetVerifyPeer(v); }},
    {"UploadMaxDownloadMB", [](int v) { UPLOAD_SetMaxDownloadBytes(static_cast<int64_t>(v) << 20); }},
    {"UploadConnectTimeout", [](int v) { UPLOAD_SetTimeouts(v, upload::upload_settings().stall_seconds); }},
    {"UploadStallTimeout", [](int v) { UPLOAD_SetTimeouts(upload::upload_settings().connect_seconds, v); }},
};

bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool is_key_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

void skip_blanks(std::string_view line, std::size_t& i) {
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
}

// The word after "(" or "=": up to a closing ")", a blank or the line's end.
std::string parse_word(std::string_view line, std::size_t i) {
  skip_blanks(line, i);
  const std::size_t end = line.find_first_of(") \t", i);
  return std::string(line.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i));
}

// The integer after "(" or "=", as the C library's conversion reads it;
// values beyond int are clamped rather than wrapped.
int parse_value(std::string_view line, std::size_t i) {
  std::string rest(line.substr(i));
  errno = 0;
  long v = std::strtol(rest.c_str(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

void apply_line(std::string_view line) {
  std::size_t i = 0;
  skip_blanks(line, i);
  if (line.substr(i, 6) == "TWAIN_") i += 6;
  if (line.substr(i, 3) == "Set" && i + 3 < line.size() &&
      std::isupper(static_cast<unsigned char>(line[i + 3])))
    i += 3;
  std::string key;
  for (; i < line.size() && is_key_char(line[i]); ++i)
    if (key.size() < kKeyMax) key += line[i];
  if (key.empty()) return;  // blank or comment line
  skip_blanks(line, i);
  const bool has_value = i < line.size() && (line[i] == '(' || line[i] == '=');
  const int value = has_value ? parse_value(line, i + 1) : 0;
  LogPrint(" INI:");
  for (const SettingKey& k : kKeys) {
    if (equal_nocase(key, k.name)) {
      if (k.apply_text) {
        const std::string word = has_value ? parse_word(line, i + 1) : std::string();
        LogPrint("%s=%s\n", k.name, word.c_str());
        k.apply_text(word);
      } else {
        k.apply(value);
      }
      return;
    }
  }
  LogPrint("?unknown: %s\n", key.c_str());
}

}  // namespace

void settings_apply_text(std::string_view text) {
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    apply_line(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

void settings_process_file(const std::string& folder) {
  std::string path = folder.empty() ? kSettingsFileName : folder + "/" + kSettingsFileName;
  const platform::InputText file = platform::read_config_file(path);
  if (file.problem == platform::InputProblem::Missing) return;  // the file is optional
  if (file.problem != platform::InputProblem::None) {
    LogPrint("INI file %s not read: %s\n", path.c_str(),
             platform::input_problem_text(file.problem, file.error).c_str());
    return;
  }
  LogPrint("Processing INI file %s\n", path.c_str());
  settings_apply_text(file.text);
}

}  // namespace twain
