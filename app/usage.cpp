// The usage text, the version text, the manual page and the completion
// words, all made from the switch table and the table of exit statuses.
#include "app/usage.h"

#include <cctype>
#include <cstdio>
#include <string_view>

#include "app/exit_status.h"
#include "app/options.h"
#include "app/report.h"
#include "core/roff.h"
#include "orivane/version.h"

namespace {

constexpr int kFormsWidth = 21;  // the usage text's column of switches, in characters

// The literal text of a value form before its first conversion.
std::string literal_prefix(const std::string& form) { return form.substr(0, form.find('%')); }

// The stem a value form shares with its other spellings: "R" for "R%g" and
// "R=%g".
std::string stem_of(const std::string& form) {
  std::string p = literal_prefix(form);
  if (!p.empty() && (p.back() == '=' || p.back() == ':')) p.pop_back();
  return p;
}

// A value form with its conversions named: "R=%g" -> "R=x".
std::string render_value_form(const std::string& form) {
  std::string out;
  for (std::size_t i = 0; i < form.size(); ++i) {
    if (form[i] != '%') {
      out += form[i];
      continue;
    }
    ++i;
    if (i < form.size() && form[i] == '%') {
      out += '%';
      continue;
    }
    while (i < form.size() && std::isdigit(static_cast<unsigned char>(form[i]))) ++i;
    if (i >= form.size()) break;
    switch (form[i]) {
      case 'd': out += "n"; break;
      case 'g': out += "x"; break;
      case 'x': out += "hhhh"; break;
      case 's': out += "name"; break;
      case '[':
        out += "text";
        while (i < form.size() && form[i] != ']') ++i;
        break;
      default: break;  // %c: the character after a number, only checked
    }
  }
  return out;
}

bool is_value_form(const std::string& form) { return form.find('%') != std::string::npos; }
bool is_prefix_form(const std::string& form) { return !form.empty() && form[0] == '^'; }

// The forms a person writes: every keyword, each prefix, and of the value
// forms that share a stem the one with "=" (else the first).
std::vector<std::string> shown_forms(const SwitchHelp& row) {
  std::vector<std::string> shown, stems;
  for (const std::string& form : row.forms) {
    if (is_prefix_form(form)) {
      shown.push_back("/" + form.substr(1) + "...");
    } else if (!is_value_form(form)) {
      shown.push_back("/" + form);
    } else {
      const std::string stem = stem_of(form);
      bool seen = false;
      for (const std::string& s : stems) seen = seen || s == stem;
      if (seen) continue;
      std::string chosen = form;
      for (const std::string& other : row.forms)
        if (is_value_form(other) && stem_of(other) == stem && literal_prefix(other) == stem + "=") chosen = other;
      stems.push_back(stem);
      shown.push_back("/" + render_value_form(chosen));
    }
  }
  return shown;
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : separator) + p;
  return out;
}

// ---- the manual page ---------------------------------------------------------

using core::roff;

std::string roff_bold_list(const std::vector<std::string>& forms) {
  std::string out;
  for (const std::string& f : forms) out += (out.empty() ? "" : ", ") + std::string("\\fB") + roff(f) + "\\fR";
  return out;
}

struct Entry {
  const char* name;
  const char* text;
};

constexpr Entry kEnvironment[] = {
    {"QUILLET_VSCAN", "the virtual scanner's config file: the devices it presents and the faults it plays"},
    {"QUILLET_TWAIN_PATH", "folders (colon-separated) searched for data sources after the program's twain/ folder"},
    {"QUILLET_UI", "none: message boxes go to standard error and questions take their default answer; terminal: asked on the terminal; window: windows on $DISPLAY"},
    {"QUILLET_DSM_PATH", "the Source Manager file (or its folder) to try first"},
    {"QUILLET_MODULE_PATH", "a folder of codec modules to try first"},
    {"XDG_RUNTIME_DIR", "the per-user runtime folder: trace log, server socket"},
    {"XDG_CONFIG_HOME", "where the per-user settings (Talven/<app>.ini) live"},
    {"TMPDIR", "the temporary folder"},
};

constexpr Entry kReportKeys[] = {
    {"App=, Version=, CmdLine=", "the program, its version and the command line"},
    {"DefaultSource=, Source=", "the default device and the device opened"},
    {"Source<n>=", "with /ENUM: one line per device"},
    {"File=, File<n>=", "each file written, as a full path"},
    {"PagesAsked=", "the pages the run set out to store (all: until the feeder is empty)"},
    {"PagesDelivered=", "the pages the device delivered"},
    {"BlankPagesDropped=", "of those, the blank pages dropped (/BLANK)"},
    {"PagesWritten=", "the pages stored"},
    {"Error=", "why the run failed"},
    {"State=", "the TWAIN state at the end, 1 to 7"},
    {"Exit=", "the exit code (see EXIT STATUS)"},
};

void man_header(std::string& m) {
  m += ".TH QUILLET 1 \"\" \"Quillet " + std::string(kAppVersion) + "\" \"User Commands\"\n";
  m += ".SH NAME\nquillet \\- scan pages from a TWAIN scanner into image files\n";
  m += ".SH SYNOPSIS\n.B quillet\n[\\fIswitches\\fR] [\\fIoutput\\-file\\fR]\n.br\n";
  m += ".B quillet\n\\fB\\-h\\fR | \\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR\n";
  m += ".SH DESCRIPTION\n";
  m += "Quillet opens a scanner through its TWAIN Source Manager, negotiates the settings the switches ask for, "
       "acquires one page or a whole batch, processes each page and writes image files.\n";
  m += "It ends with a report of key=value lines on standard output (or in the /O= file) and an exit status.\n";
  m += ".PP\nThe output file's extension chooses the format; a number before the extension is counted up "
       "for each page.\n";
  m += "Switches begin with / or \\- in any letter case; \\fIx\\fR is a number, \\fIn\\fR a whole number; "
       "\\fB\\-\\-\\fR ends the switches.\n";
  m += "Values may follow the switch with or without =: /R300 is /R=300.\n";
  m += ".PP\nAn output file named \\fB\\-\\fR (or a stream such as /dev/stdout or a named pipe) is standard "
       "output: one page, or one multipage file, written there once complete; the report then goes to standard "
       "error unless /O= names its file.\n";
  m += ".PP\nWhen standard error is a terminal, a line shows the batch's progress. An interrupt (Ctrl\\-C), "
       "SIGTERM or SIGHUP cancels the scan as the device's Cancel button does: page files already written stay, "
       "a multipage file of this run is not kept (the name keeps what it held before), the report is written "
       "and the status is 2. A second interrupt ends the program at once.\n";
}

void man_options(std::string& m) {
  m += ".SH OPTIONS\n";
  m += ".TP\n\\fB\\-h\\fR, \\fB\\-\\-help\\fR\nprint the usage text and exit\n";
  m += ".TP\n\\fB\\-\\-version\\fR\nprint the version and exit\n";
  for (const SwitchHelp& row : SwitchVocabulary()) {
    if (!row.help) continue;
    m += ".TP\n" + roff_bold_list(shown_forms(row)) + "\n" + roff(row.help) + "\n";
  }
}

void man_sections(std::string& m) {
  m += ".SH REPORT\nEach key appears once, at the place of its latest write; the report begins with "
       "[Quillet] and ends with State= and Exit=.\n";
  for (const Entry& e : kReportKeys) m += ".TP\n.B " + roff(e.name) + "\n" + roff(e.text) + "\n";
  m += ".SH EXIT STATUS\nThe report's Exit= line keeps the run's exit code; the process returns a status "
       "of its own for every code that does not fit 0 to 255.\n";
  for (const ExitStatusRow& row : exit_status_table())
    m += ".TP\n.B " + std::to_string(row.status) + "\n" + roff(std::string("(Exit=") + row.exit_values + ") " +
                                                                row.meaning) + "\n";
  m += ".SH ENVIRONMENT\n";
  for (const Entry& e : kEnvironment) m += ".TP\n.B " + roff(e.name) + "\n" + roff(e.text) + "\n";
  m += ".SH FILES\n.TP\n.B Orivane3.ini\nbeside the program: presets for the library's switches\n";
  m += ".TP\n.B ~/.twndsmrc/defaultds\nthe default device\n";
  m += ".SH SEE ALSO\n.BR orivane (1)\n";
}

}  // namespace

std::string switch_display(const SwitchHelp& row) { return joined(shown_forms(row), ", "); }

std::string UsageText() {
  std::string u = "Usage: quillet [switches] [output-file]\n"
                  "       quillet -h | --help | --version\n\n"
                  "Scans pages from a TWAIN scanner into image files and ends with a report of\n"
                  "key=value lines on standard output (or in the /O= file). The output file's\n"
                  "extension chooses the format. Switches begin with / or - in any letter case;\n"
                  "x is a number, n a whole number; -- ends the switches. An output file\n"
                  "named - is standard output (one page or one multipage file; the report then\n"
                  "goes to standard error). Ctrl-C cancels the scan as the device's Cancel does.\n\n"
                  "Switches:\n";
  char line[512];
  for (const SwitchHelp& row : SwitchVocabulary()) {
    if (!row.help) continue;
    const std::string shown = switch_display(row);
    std::snprintf(line, sizeof line, "  %-*s %s\n", kFormsWidth, shown.c_str(), row.help);
    u += line;
  }
  u += "\nExit status (the report's Exit= line keeps the code in brackets):\n";
  for (const ExitStatusRow& row : exit_status_table()) {
    std::snprintf(line, sizeof line, "  %3d  %-16s %s\n", row.status,
                  (std::string("[") + row.exit_values + "]").c_str(), row.meaning);
    u += line;
  }
  return u;
}

std::string VersionText() {
  char text[256];
  std::snprintf(text, sizeof text, "quillet (Quillet) %s\n%s library %s\n", kAppVersion, ORIVANE_PRODUCT,
                ORIVANE_VERSION_TEXT);
  return text;
}

std::string ManPage() {
  std::string m;
  man_header(m);
  man_options(m);
  man_sections(m);
  return m;
}

std::vector<std::string> CompletionWords() {
  std::vector<std::string> words;
  for (const SwitchHelp& row : SwitchVocabulary()) {
    for (const std::string& form : row.forms) {
      std::string word;
      if (is_prefix_form(form)) {
        word = "/" + form.substr(1);
      } else if (is_value_form(form)) {
        // A value is offered after "=", which every value switch with a
        // separator accepts ("/CC:" and "/CC=" alike).
        const std::string prefix = literal_prefix(form);
        if (prefix.empty() || (prefix.back() != '=' && prefix.back() != ':')) continue;
        word = "/" + stem_of(form) + "=";
      } else {
        // "DUP" is a shorter spelling of "DUPLEX": offering both would stop
        // the completion of /DUP at /DUP.
        bool shorter = false;
        for (const std::string& other : row.forms)
          shorter = shorter || (other != form && !is_value_form(other) && other.rfind(form, 0) == 0);
        if (shorter) continue;
        word = "/" + form;
      }
      bool seen = false;
      for (const std::string& w : words) seen = seen || w == word;
      if (!seen) words.push_back(word);
    }
  }
  return words;
}

bool RunInfoOption(int argc, const char* const* argv, int* out_status) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i] ? argv[i] : "";
    if (arg == "--") return false;
    std::string text;
    if (arg == "-h" || arg == "--help") {
      text = UsageText();
    } else if (arg == "--version") {
      text = VersionText();
    } else if (arg == "--man") {
      text = ManPage();
    } else if (arg == "--list-switches") {
      for (const std::string& w : CompletionWords()) text += w + "\n";
    } else {
      continue;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    *out_status = written && std::fflush(stdout) == 0 ? 0 : 1;
    return true;
  }
  return false;
}
