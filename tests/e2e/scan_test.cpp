// Scanning end to end: pages from the virtual scanner to files, named and
// numbered as scripts expect, multipage files, failures in the middle of a
// document, and what is left on disk when a run is killed or the disk fills.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "../tool_support.h"
#include "run_program.h"
#include "scan_run.h"

namespace {

namespace fs = std::filesystem;

using test_tools::have_tool;

std::string run_shell(const std::string& command) { return test_tools::command_output(command + " 2>&1"); }

int tiff_pages(const std::string& path) {
  const std::string info = run_shell("tiffinfo '" + path + "'");
  int pages = 0;
  for (std::size_t at = 0; (at = info.find("TIFF Directory at offset", at)) != std::string::npos; ++at) ++pages;
  return pages;
}

std::string pdf_pages(const std::string& path) { return run_shell("qpdf --show-npages '" + path + "'"); }

bool pdf_ok(const std::string& path) {
  return run_shell("qpdf --check '" + path + "'").find("No syntax or stream encoding errors") != std::string::npos;
}

using Names = std::vector<std::string>;

TEST(Scan, OnePageFromAFlatbedIsNotNumbered) {
  ScanRun s("feeder = no\n");
  RunResult r = s.run({"page.tif"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "File"), s.at("page.tif")) << r.out;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "1");
  EXPECT_EQ(s.files(), Names{"page.tif"});
  if (have_tool("tiffinfo")) EXPECT_EQ(tiff_pages(s.at("page.tif")), 1);
}

struct NamingCase {
  std::string label;
  std::vector<std::string> args;
  Names existing;   // files there before the run
  Names reported;   // File1=, File2=, ... in order
};

void PrintTo(const NamingCase& c, std::ostream* os) { *os << c.label; }

class Naming : public testing::TestWithParam<NamingCase> {};

TEST_P(Naming, PagesAreNumberedAndReported) {
  const NamingCase& c = GetParam();
  ScanRun s;
  for (const std::string& name : c.existing) std::ofstream(s.at(name)) << "old";
  RunResult r = s.run(c.args);
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  for (std::size_t i = 0; i < c.reported.size(); ++i) {
    const std::string key = "File" + std::to_string(i + 1);
    EXPECT_EQ(report_value(r.out, key), s.at(c.reported[i])) << key << "\n" << r.out;
    EXPECT_TRUE(file_exists(s.at(c.reported[i]))) << c.reported[i];
  }
  EXPECT_EQ(report_value(r.out, "PagesWritten"), std::to_string(c.reported.size()));
  // The batch's account: as many asked for as delivered and written.
  EXPECT_EQ(report_value(r.out, "PagesAsked"), std::to_string(c.reported.size()));
  EXPECT_EQ(report_value(r.out, "PagesDelivered"), std::to_string(c.reported.size()));
  EXPECT_EQ(report_value(r.out, "BlankPagesDropped"), "0");
  EXPECT_EQ(report_value(r.out, "Exit"), "0");
}

INSTANTIATE_TEST_SUITE_P(
    Names, Naming,
    testing::Values(NamingCase{"three_pages", {"/N=3", "scan.tif"}, {}, {"scan1.tif", "scan2.tif", "scan3.tif"}},
                    NamingCase{"number_carries", {"/N=2", "doc0099.tif"}, {}, {"doc0099.tif", "doc0100.tif"}},
                    NamingCase{"auto_increment", {"/N=2", "/AI", "scan.tif"}, {"scan1.tif", "scan2.tif"},
                               {"scan3.tif", "scan4.tif"}},
                    NamingCase{"jpeg_switch", {"/N=2", "/GRAY", "/JPEG", "page"}, {}, {"page1.jpg", "page2.jpg"}}),
    [](const testing::TestParamInfo<NamingCase>& info) { return info.param.label; });

TEST(Scan, TheExtensionDecidesTheFormatAndTheDateIsExpanded) {
  ScanRun s("feeder = no\n");
  RunResult r = s.run({"/TIFF", "out.pdf"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  if (have_tool("qpdf")) EXPECT_TRUE(pdf_ok(s.at("out.pdf")));

  char date[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y%m%d", std::localtime(&now));
  RunResult dated = s.run({"scan{D}.png"});
  ASSERT_EQ(dated.exit_status, 0) << dated.out << dated.err;
  EXPECT_EQ(report_value(dated.out, "File"), s.at(std::string("scan") + date + ".png"));
}

struct MultipageCase {
  std::string label;
  std::vector<std::string> args;
  std::string name;
  int pages;
};

void PrintTo(const MultipageCase& c, std::ostream* os) { *os << c.label; }

class Multipage : public testing::TestWithParam<MultipageCase> {};

TEST_P(Multipage, TheWholeFeederGoesIntoOneFile) {
  const MultipageCase& c = GetParam();
  ScanRun s("two_sided = no\n");
  RunResult r = s.run(c.args);
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "File"), s.at(c.name)) << r.out;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), std::to_string(c.pages));
  EXPECT_EQ(s.files(), Names{c.name});
  if (c.name.ends_with(".tif") && have_tool("tiffinfo")) EXPECT_EQ(tiff_pages(s.at(c.name)), c.pages);
  if (c.name.ends_with(".pdf") && have_tool("qpdf")) {
    EXPECT_TRUE(pdf_ok(s.at(c.name)));
    EXPECT_EQ(pdf_pages(s.at(c.name)), std::to_string(c.pages) + "\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, Multipage,
    testing::Values(MultipageCase{"tiff", {"/TIFF+", "/ADF", "doc"}, "doc.tif", 5},
                    MultipageCase{"pdf", {"/PDF+", "/ADF", "doc"}, "doc.pdf", 5},
                    MultipageCase{"dcx", {"/DCX", "/ADF", "doc"}, "doc.dcx", 5},
                    MultipageCase{"duplex_sheet_into_pdf", {"/DUPLEX", "sheet.pdf"}, "sheet.pdf", 2}),
    [](const testing::TestParamInfo<MultipageCase>& info) { return info.param.label; });

TEST(Scan, APaperJamInAMultipageRunLeavesNoFile) {
  ScanRun s("two_sided = no\nevents = 3:jam\n");
  RunResult r = s.run({"/TIFF+", "/ADF", "doc.tif"});
  EXPECT_NE(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "0") << r.out;
  EXPECT_EQ(report_value(r.out, "File"), "");
  EXPECT_TRUE(s.files().empty()) << s.files().size();
  EXPECT_NE(r.err.find("Paper jam"), std::string::npos) << r.err;

  // One file per page: the pages before the jam stay.
  ScanRun single("two_sided = no\nevents = 3:jam\n");
  RunResult pages = single.run({"/N=5", "/ADF", "p.tif"});
  EXPECT_NE(pages.exit_status, 0);
  EXPECT_EQ(single.files(), (Names{"p1.tif", "p2.tif"}));
  EXPECT_EQ(report_value(pages.out, "PagesWritten"), "2");
}

TEST(Scan, CancellingOnTheFirstPageExitsWith2) {
  ScanRun s("events = 1:cancel\n");
  RunResult r = s.run({"/ADF", "p.tif"});
  EXPECT_EQ(r.exit_status, 2) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "0");
  EXPECT_TRUE(s.files().empty());
}

TEST(Scan, CarbonCopies) {
  ScanRun s("two_sided = no\n");
  fs::create_directory(s.at("copies"));
  // TIFF, PDF and DCX copies collect every page of the document; the
  // single-image formats take the first page only.
  RunResult r = s.run({"/N=3", "/TIFF+", "/ADF", "/CC=" + s.at("copies/*.pdf"), "a.tif"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  if (have_tool("qpdf")) EXPECT_EQ(pdf_pages(s.at("copies/a.pdf")), "3\n");
  RunResult jpeg = s.run({"/N=2", "/GRAY", "/ADF", "/CC=" + s.at("copies/first.jpg"), "b.tif"});
  ASSERT_EQ(jpeg.exit_status, 0) << jpeg.out << jpeg.err;
  EXPECT_TRUE(file_exists(s.at("copies/first.jpg")));
}

// The device's default settings give black-and-white pages: a JPEG name
// still gets its page (as 8-bit gray), and a carbon copy named without an
// extension is reported under the name it was written as.
TEST(Scan, JpegFromBlackAndWhiteAndTheCopyAsWritten) {
  ScanRun s("feeder = no\n");
  RunResult r = s.run({"/CC=cc", "x.jpg"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "File"), s.at("x.jpg")) << r.out;
  EXPECT_EQ(report_value(r.out, "CCFile0"), "cc.jpg") << r.out;
  EXPECT_EQ(s.files(), (Names{"cc.jpg", "x.jpg"}));
  if (have_tool("identify")) {
    const std::string info = run_shell("identify -format '%m %[colorspace] %z' '" + s.at("x.jpg") + "'");
    EXPECT_EQ(info, "JPEG Gray 8") << info;
  }
}

// Runs quillet in the background and kills it while it waits for a page.
void kill_during(ScanRun& s, const std::vector<std::string>& args) {
  const std::string program = quillet_program();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (const auto& [k, v] : s.env) ::setenv(k.c_str(), v.c_str(), 1);
    if (::chdir(s.home.c_str()) != 0) ::_exit(127);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  // The device stalls on a late page (its config says so): the run is in
  // the middle of its document when it is killed.
  std::this_thread::sleep_for(std::chrono::seconds(5));
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";
}

TEST(Scan, AKilledRunLeavesNoHalfWrittenFile) {
  ScanRun s("two_sided = no\nfeeder_sheets = 50\nevents = 7:slow=60000\n");
  kill_during(s, {"/PDF+", "/ADF", "doc.pdf"});
  EXPECT_FALSE(file_exists(s.at("doc.pdf")));

  // Appending to an old PDF: the old file is intact after the kill.
  ScanRun old("two_sided = no\nfeeder_sheets = 2\n");
  ASSERT_EQ(old.run({"/PDF+", "/ADF", "doc.pdf"}).exit_status, 0);
  const std::string before = read_file(old.at("doc.pdf"));
  std::ofstream(old.home + "/vscan.ini", std::ios::app) << "feeder_sheets = 50\nevents = 7:slow=60000\n";
  kill_during(old, {"/PDF+", "/APPEND", "/ADF", "doc.pdf"});
  EXPECT_EQ(read_file(old.at("doc.pdf")), before);
  if (have_tool("qpdf")) EXPECT_TRUE(pdf_ok(old.at("doc.pdf")));
}

TEST(Scan, AFullDiskIsAFailureWithoutAFileLine) {
  // A file-size limit stands in for a full disk.
  ScanRun s("two_sided = no\nresolutions = 300\ndpi_default = 300\n");
  const std::string wrapper = s.at("limited.sh");
  std::ofstream(wrapper) << "#!/bin/sh\nulimit -f 64\nexec \"$REAL_QUILLET\" \"$@\"\n";
  fs::permissions(wrapper, fs::perms::owner_all);
  s.env["REAL_QUILLET"] = quillet_program();
  s.env["QUILLET_BIN"] = wrapper;
  RunResult r = s.run({"/RGB", "/N=2", "/ADF", "big.bmp"});
  EXPECT_NE(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "File1"), "") << r.out;
  EXPECT_NE(r.err.find("File write failed, possibly output device is full"), std::string::npos) << r.err;
  EXPECT_FALSE(file_exists(s.at("big1.bmp")));
}

}  // namespace
