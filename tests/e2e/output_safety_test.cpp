// What a run may do to files already on disk: a failed or cancelled run
// leaves them as they were, parallel runs never overwrite or lose each
// other's pages, a device that cannot write its file says so, and names up
// to the file system's limit work.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "../tool_support.h"
#include "run_program.h"
#include "scan_run.h"

namespace {

namespace fs = std::filesystem;

using test_tools::have_tool;

std::string shell(const std::string& command) { return test_tools::command_output(command + " 2>&1"); }

int pdf_pages(const std::string& path) { return std::atoi(shell("qpdf --show-npages '" + path + "'").c_str()); }

int tiff_pages(const std::string& path) {
  const std::string info = shell("tiffinfo '" + path + "'");
  int pages = 0;
  for (std::size_t at = 0; (at = info.find("TIFF Directory at offset", at)) != std::string::npos; ++at) ++pages;
  return pages;
}

// Names in the run's folder that are neither the config nor a log: what
// the runs left behind.
std::set<std::string> left_in(const ScanRun& s) {
  const auto names = s.files();
  return {names.begin(), names.end()};
}

// Makes quillet run under a file-size limit, which stands in for a full disk.
void limit_file_size(ScanRun& s, int blocks) {
  const std::string wrapper = s.at("limited.sh");
  std::ofstream(wrapper) << "#!/bin/sh\nulimit -f " << blocks << "\nexec \"$REAL_QUILLET\" \"$@\"\n";
  fs::permissions(wrapper, fs::perms::owner_all);
  s.env["REAL_QUILLET"] = quillet_program();
  s.env["QUILLET_BIN"] = wrapper;
}

// Runs `count` copies of one command line at once; their reports in order.
std::vector<std::string> run_together(ScanRun& s, const std::vector<std::string>& args, int count) {
  std::string script = "cd '" + s.home + "' || exit 1\n";
  for (const auto& [k, v] : s.env) script += "export " + k + "='" + v + "'\n";
  std::string line = "'" + quillet_program() + "'";
  for (const std::string& a : args) line += " '" + a + "'";
  for (int i = 0; i < count; ++i) script += line + " > report" + std::to_string(i) + ".out 2>/dev/null &\n";
  script += "wait\n";
  std::ofstream(s.at("together.sh")) << script;
  shell("sh '" + s.at("together.sh") + "'");
  std::vector<std::string> reports;
  for (int i = 0; i < count; ++i) {
    reports.push_back(read_file(s.at("report" + std::to_string(i) + ".out")));
    fs::remove(s.at("report" + std::to_string(i) + ".out"));
  }
  fs::remove(s.at("together.sh"));
  return reports;
}

struct FailureCase {
  std::string label;
  std::string events;              // of the failing run's device
  std::vector<std::string> args;   // of the failing run
  std::string name;                // the file that existed before
  int size_limit = 0;              // file-size limit in blocks, 0: none
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class FailedRun : public testing::TestWithParam<FailureCase> {};

TEST_P(FailedRun, LeavesTheFileThatWasThereAsItWas) {
  const FailureCase& c = GetParam();
  ScanRun s("two_sided = no\n");
  // The file there before: two small pages made by an earlier run.
  const std::string format = c.name.substr(c.name.rfind('.'));
  const std::string plus = format == ".pdf" ? "/PDF+" : format == ".dcx" ? "/DCX" : "/TIFF+";
  ASSERT_EQ(s.run({"/N=2", "/BW", plus, "/ADF", c.name}).exit_status, 0);
  const std::string before = read_file(s.at(c.name));
  ASSERT_FALSE(before.empty());

  std::ofstream(s.home + "/vscan.ini", std::ios::app)
      << "resolutions = 100, 300\nevents = " << c.events << "\n";
  if (c.size_limit) limit_file_size(s, c.size_limit);
  RunResult r = s.run(c.args);
  EXPECT_NE(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "0") << r.out;
  EXPECT_EQ(read_file(s.at(c.name)), before);
  // Nothing else is left: no temporary or lock file of the failed run.
  if (c.size_limit) fs::remove(s.at("limited.sh"));
  EXPECT_EQ(left_in(s), std::set<std::string>{c.name});
  // A full disk is a failure that says so, never a cancel.
  if (c.size_limit) {
    EXPECT_NE(r.exit_status, 2);
    EXPECT_NE(report_value(r.out, "Error").find("Error writing to file"), std::string::npos) << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scan, FailedRun,
    testing::Values(
        FailureCase{"jam_appending_to_a_pdf_archive", "2:jam", {"/N=3", "/PDF+", "/APPEND", "/ADF", "archive.pdf"},
                    "archive.pdf"},
        FailureCase{"cancel_replacing_a_tiff", "2:cancel", {"/N=3", "/TIFF+", "/ADF", "report.tif"}, "report.tif"},
        FailureCase{"full_disk_tiff", "", {"/N=3", "/RGB", "/R=300", "/TIFF+", "/ADF", "doc.tif"}, "doc.tif", 200},
        FailureCase{"full_disk_pdf", "", {"/N=3", "/RGB", "/R=300", "/PDF+", "/ADF", "doc.pdf"}, "doc.pdf", 200},
        FailureCase{"full_disk_pdfa", "", {"/N=3", "/RGB", "/R=300", "/PDFA+", "/ADF", "doc.pdf"}, "doc.pdf", 200},
        FailureCase{"full_disk_dcx", "", {"/N=3", "/R=300", "/DCX", "/ADF", "doc.dcx"}, "doc.dcx", 40},
        FailureCase{"full_disk_appending", "", {"/N=3", "/RGB", "/R=300", "/TIFF+", "/APPEND", "/ADF", "doc.tif"},
                    "doc.tif", 200},
        FailureCase{"full_disk_device_written_file", "", {"/RGB", "/R=300", "/FILE", "page.tif"},
                    "page.tif", 200}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.label; });

// After a jam the user looks at the pages so far and goes on: the pages
// before and after the jam end up in one file, and the old file under the
// name is replaced only then.
TEST(Scan, GoingOnAfterAnErrorKeepsThePagesSoFar) {
  if (!have_tool("tiffinfo")) GTEST_SKIP() << "needs tiffinfo";
  ScanRun s("two_sided = no\nevents = 2:jam\n");
  std::ofstream(s.at("doc.tif")) << "old";
  const std::string wrapper = s.at("answers.sh");
  std::ofstream(wrapper) << "#!/bin/sh\nprintf 'o\\n' | \"$REAL_QUILLET\" \"$@\"\n";
  fs::permissions(wrapper, fs::perms::owner_all);
  s.env["REAL_QUILLET"] = quillet_program();
  s.env["QUILLET_BIN"] = wrapper;
  s.env["QUILLET_UI"] = "terminal";
  RunResult r = s.run({"/N=3", "/TIFF+", "/ADF", "doc.tif"});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "3") << r.out;
  EXPECT_EQ(tiff_pages(s.at("doc.tif")), 3);
  fs::remove(wrapper);
  EXPECT_EQ(left_in(s), std::set<std::string>{"doc.tif"});
}

TEST(Scan, ParallelNumberedRunsEachKeepTheirPage) {
  ScanRun s("feeder = no\n");
  constexpr int kRuns = 20;
  const auto reports = run_together(s, {"/AI", "page0001.tif"}, kRuns);
  std::set<std::string> reported;
  for (const std::string& r : reports) {
    EXPECT_EQ(report_value(r, "Exit"), "0") << r;
    reported.insert(report_value(r, "File"));
  }
  EXPECT_EQ(reported.size(), static_cast<std::size_t>(kRuns));
  EXPECT_EQ(left_in(s).size(), static_cast<std::size_t>(kRuns));
  for (const std::string& f : reported) EXPECT_TRUE(file_exists(f)) << f;
}

TEST(Scan, TwoRunsAppendingToOneFileBothKeepTheirPages) {
  ScanRun s("two_sided = no\n");
  ASSERT_EQ(s.run({"/N=2", "/PDF+", "/ADF", "archive.pdf"}).exit_status, 0);
  for (const std::string& r : run_together(s, {"/N=5", "/PDF+", "/APPEND", "/ADF", "archive.pdf"}, 2))
    EXPECT_EQ(report_value(r, "Exit"), "0") << r;
  if (have_tool("qpdf")) EXPECT_EQ(pdf_pages(s.at("archive.pdf")), 12);
  // Two runs replacing one multipage file take turns: the file is whole.
  for (const std::string& r : run_together(s, {"/N=3", "/TIFF+", "/ADF", "doc.tif"}, 2))
    EXPECT_EQ(report_value(r, "Exit"), "0") << r;
  if (have_tool("tiffinfo")) EXPECT_EQ(tiff_pages(s.at("doc.tif")), 3);
  EXPECT_EQ(left_in(s), (std::set<std::string>{"archive.pdf", "doc.tif"}));
}

TEST(Scan, NamesUpToTheFileSystemLimitAreWritten) {
  ScanRun s("two_sided = no\n");
  for (std::size_t length : {236u, 250u, 255u}) {
    SCOPED_TRACE(length);
    for (const std::vector<std::string>& how : {std::vector<std::string>{"/PDF+", "/N=2", "/ADF"},
                                                 std::vector<std::string>{"/TIFF+", "/N=2", "/ADF"},
                                                 std::vector<std::string>{"/FILE"}, std::vector<std::string>{}}) {
      const std::string ext = how.empty() || how[0] != "/PDF+" ? ".tif" : ".pdf";
      const std::string name = std::string(length - ext.size(), 'n') + ext;
      std::vector<std::string> args = how;
      args.push_back(name);
      RunResult r = s.run(args);
      EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
      EXPECT_TRUE(file_exists(s.at(name)));
      fs::remove(s.at(name));
    }
  }
  EXPECT_TRUE(left_in(s).empty());
}

}  // namespace
