// How the program meets a person at a terminal and a shell pipeline: the
// progress line, Ctrl-C and SIGTERM, "-" for standard output and input,
// and the hints that say what to do next.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../tool_support.h"
#include "run_program.h"
#include "scan_run.h"

namespace {

using test_tools::command_output;
using test_tools::have_tool;

int count_of(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
  return n;
}

std::string slow_pages(int pages, int ms) {
  std::string events = "events = ";
  for (int p = 1; p <= pages; ++p) events += (p > 1 ? ", " : "") + std::to_string(p) + ":slow=" + std::to_string(ms);
  return "feeder_sheets = " + std::to_string(pages) + "\ntwo_sided = no\n" + events + "\n";
}

// Waits until the trace shows the program at page `page`, then sends `sig`.
std::function<void(pid_t)> signal_at_page(const std::string& trace, int page, int sig) {
  return [trace, page, sig](pid_t pid) {
    const std::string mark = "AcquireOne starting page " + std::to_string(page) + "\n";
    for (int i = 0; i < 1200 && read_file(trace).find(mark) == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(pid, sig);
  };
}

TEST(Console, ProgressIsShownOnATerminalOnly) {
  for (const bool terminal : {true, false}) {
    SCOPED_TRACE(terminal ? "terminal" : "file");
    ScanRun s("feeder_sheets = 10\ntwo_sided = no\n");
    RunOptions o;
    o.stderr_terminal = terminal;
    const RunResult r = run_quillet_with({"/N=10", "/ADF", "p.tif"}, s.env, s.home, o);
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    if (terminal) {
      for (int page = 1; page <= 10; ++page)
        EXPECT_EQ(count_of(r.err, "page " + std::to_string(page) + " of 10, 0 blank dropped, "), 1) << r.err;
      EXPECT_EQ(count_of(r.err, "\r"), 10 + count_of(r.err, "\r\n")) << "each update written over the last";
    } else {
      EXPECT_EQ(r.err, "");
    }
  }
}

// An interrupt ends the run through its cancel path: the report is written,
// the run ends with the cancel's status, page files already written stay,
// and a multipage file of this run is not kept (the name keeps what it held).
TEST(Console, AnInterruptCancelsTheScanAndWritesTheReport) {
  struct Case {
    int sig;
    std::vector<std::string> args;
    bool multipage;
  };
  for (const Case& c : {Case{SIGINT, {"/ADF", "/PDF+", "doc.pdf"}, true},
                        Case{SIGTERM, {"/ADF", "/TIFF+", "doc.tif"}, true},
                        Case{SIGINT, {"/N=20", "/ADF", "p.tif"}, false}}) {
    SCOPED_TRACE(c.args[1]);
    ScanRun s(slow_pages(20, 150));
    if (c.multipage) std::ofstream(s.at(c.args.back())) << "what the name held before";
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "/LOG=" + s.at("t.log"));
    RunOptions o;
    o.while_running = signal_at_page(s.at("t.log"), 4, c.sig);
    const RunResult r = run_quillet_with(args, s.env, s.home, o);
    EXPECT_EQ(r.exit_status, 2) << r.out << r.err;
    EXPECT_EQ(report_value(r.out, "Exit"), "2") << r.out;
    EXPECT_EQ(report_value(r.out, "Error"), std::string("Scan cancelled by ") + (c.sig == SIGINT ? "SIGINT" : "SIGTERM"));
    const int written = std::atoi(report_value(r.out, "PagesWritten").c_str());
    if (c.multipage) {
      EXPECT_EQ(written, 0);
      EXPECT_EQ(read_file(s.at(c.args.back())), "what the name held before");
    } else {
      EXPECT_GE(written, 3) << r.out;
      EXPECT_LT(written, 20) << r.out;
      for (int p = 1; p <= written; ++p) EXPECT_TRUE(file_exists(s.at("p" + std::to_string(p) + ".tif"))) << p;
    }
  }
}

TEST(Console, DashIsStandardOutputForTheOneFile) {
  ScanRun s;
  const RunResult tiff = s.run({"/N=1", "/TIFF", "-"});
  EXPECT_EQ(tiff.exit_status, 0) << tiff.err;
  EXPECT_EQ(tiff.out.substr(0, 4), std::string("II*\0", 4));
  EXPECT_EQ(report_value(tiff.err, "File"), "-") << "the report goes to standard error";
  if (have_tool("tiffinfo")) {
    std::ofstream(s.at("copy.tif"), std::ios::binary) << tiff.out;
    EXPECT_NE(command_output("tiffinfo '" + s.at("copy.tif") + "' 2>&1").find("Image Width: "), std::string::npos);
  }

  const RunResult pdf = s.run({"/N=3", "/ADF", "/PDF+", "-"});
  EXPECT_EQ(pdf.exit_status, 0) << pdf.err;
  if (have_tool("qpdf")) {
    std::ofstream(s.at("copy.pdf"), std::ios::binary) << pdf.out;
    EXPECT_EQ(command_output("qpdf --show-npages '" + s.at("copy.pdf") + "'"), "3\n");
  }

  // Numbered files cannot share one stream: refused before scanning.
  const RunResult many = s.run({"/N=3", "/ADF", "-"});
  EXPECT_EQ(many.exit_status, 251);
  EXPECT_EQ(many.out, "");
  EXPECT_NE(report_value(many.err, "Error").find("takes one file"), std::string::npos) << many.err;
  EXPECT_EQ(s.files(), (std::vector<std::string>{"copy.pdf", "copy.tif"})) << "nothing written beside";
}

TEST(Console, TheImageToolReadsAndWritesStreams) {
  ScanRun s;
  ASSERT_EQ(s.run({"/N=1", "/GRAY", "page.tif"}).exit_status, 0);
  RunOptions o;
  o.stdin_path = s.at("page.tif");
  const RunResult info = run_quillet_with({"info", "-"}, {{"QUILLET_BIN", orivane_program()}}, s.home, o);
  EXPECT_EQ(info.exit_status, 0) << info.err;
  EXPECT_NE(info.out.find("format=TIFF\n"), std::string::npos) << info.out;

  const RunResult png = run_quillet_with({"negate", "-", "png:-"}, {{"QUILLET_BIN", orivane_program()}}, s.home, o);
  EXPECT_EQ(png.exit_status, 0) << png.err;
  EXPECT_EQ(png.out.substr(0, 4), "\x89PNG");
  const RunResult same = run_quillet_with({"negate", "-", "-"}, {{"QUILLET_BIN", orivane_program()}}, s.home, o);
  EXPECT_EQ(same.out.substr(0, 4), std::string("II*\0", 4)) << "the input's format";
}

TEST(Console, HintsSayWhatToDoNext) {
  struct Case {
    std::string label, config;
    std::vector<std::string> args;
    std::string hint, error;
  };
  const std::vector<Case> cases = {
      {"ambiguous", "[device]\nproduct = Scanner Two\n", {"/S=scan", "p.tif"},
       "devices matching 'scan': Scanner, Scanner Two", "Multiple TWAIN devices match 'scan': Scanner, Scanner Two"},
      {"unknown", "", {"/S=nowhere", "p.tif"}, "the devices are: Scanner", "No TWAIN device matches 'nowhere'"},
      {"none", "none", {"p.tif"}, "no scanner found: run quillet /ENUM, check QUILLET_TWAIN_PATH", ""},
      {"path", "", {"/scan/inbox/x.tif"}, "put it after --: quillet [switches] -- /scan/inbox/x.tif",
       "Missing space before: /inbox/x.tif"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScanRun s(c.config == "none" ? "" : c.config);
    if (c.config == "none") {
      std::ofstream(s.at("none.ini")) << "";
      s.env["QUILLET_VSCAN"] = s.at("none.ini");
    }
    const RunResult r = s.run(c.args);
    EXPECT_NE(r.exit_status, 0);
    EXPECT_NE(r.err.find("quillet: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.hint), std::string::npos) << r.err;
    EXPECT_NE(report_value(r.out, "Error").find(c.error), std::string::npos) << r.out;
  }
}

}  // namespace
