// How each way a run can fail reaches a script: a process status of its own
// (never a wrapped negative number, never one a shell uses itself), the
// report's Exit= value as the system has always written it, and an Error=
// line that says why.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "run_program.h"
#include "scan_run.h"

namespace {

namespace fs = std::filesystem;

struct FailurePath {
  std::string label;
  std::string config;  // added to the ScanRun device
  std::vector<std::string> args;
  int status;          // what the shell sees
  std::string exit;    // the report's Exit=
  std::string error;   // a part of the report's Error=
  int size_limit = 0;  // file-size limit in blocks (a full disk), 0: none
  std::string plain_file;  // made before the run, to stand where a folder is asked for
};

// Makes quillet run under a file-size limit, which stands in for a full disk.
void limit_file_size(ScanRun& s, int blocks) {
  const std::string wrapper = s.at("limited.sh");
  std::ofstream(wrapper) << "#!/bin/sh\nulimit -f " << blocks << "\nexec \"$REAL_QUILLET\" \"$@\"\n";
  fs::permissions(wrapper, fs::perms::owner_all);
  s.env["REAL_QUILLET"] = quillet_program();
  s.env["QUILLET_BIN"] = wrapper;
}

// The device faults strike the second sheet: the first page is stored, so
// the run ends with the failure's own code rather than the first page's
// cancel.
const std::vector<FailurePath> kFailures = {
    {"paper_jam", "two_sided = no\nevents = 2:jam\n", {"/N=3", "/ADF", "p.tif"}, 211, "-1", "Paper jam"},
    {"double_feed", "two_sided = no\nevents = 2:double_feed\n", {"/N=3", "/ADF", "p.tif"}, 212, "-1",
     "ouble"},
    {"cover_open", "two_sided = no\nevents = 2:cover_open\n", {"/N=3", "/ADF", "p.tif"}, 213, "-1", "over"},
    {"cancel", "events = 1:cancel\n", {"/ADF", "p.tif"}, 2, "2", "ancel"},
    // Without its dialog (a script's run) the device refuses to start.
    {"empty_feeder", "feeder_sheets = 0\n", {"/ADF", "/HIDE", "p.tif"}, 216, "2", "TWCC_NOMEDIA"},
    {"disk_full", "two_sided = no\nresolutions = 300\ndpi_default = 300\n", {"/RGB", "/N=2", "/ADF", "big.bmp"},
     204, "-4", "Error writing to file", 64},
    {"no_folder", "", {"/ADF", "/N=2", "plain/p.tif"}, 202, "-2", "File open failed", 0, "plain"},
    {"refused_setting", "pixel_types = bw, gray\n", {"/RGB", "p.tif"}, 252, "252",
     "Device declined to program: /RGB"},
    {"no_device", "", {"/S=Nowhere", "p.tif"}, 255, "255", "No TWAIN device matches 'Nowhere'"},
    {"bad_switch", "", {"/FOO"}, 251, "251", "Unrecognized option: /FOO"},
};

TEST(ExitStatus, EachFailureHasItsOwnStatusItsExitValueAndItsReason) {
  std::set<int> statuses;
  for (const FailurePath& c : kFailures) {
    SCOPED_TRACE(c.label);
    ScanRun s(c.config);
    if (c.size_limit) limit_file_size(s, c.size_limit);
    if (!c.plain_file.empty()) std::ofstream(s.at(c.plain_file)) << "a file, not a folder";
    const RunResult r = s.run(c.args);
    EXPECT_EQ(r.exit_status, c.status) << r.out << r.err;
    EXPECT_EQ(report_value(r.out, "Exit"), c.exit) << r.out;
    EXPECT_NE(report_value(r.out, "Error").find(c.error), std::string::npos) << r.out;
    EXPECT_FALSE(r.exit_status >= 126 && r.exit_status <= 165) << "a status the shell uses itself";
    statuses.insert(r.exit_status);
  }
  EXPECT_EQ(statuses.size(), kFailures.size()) << "two failures share a status";
}

// A failure on the first page keeps the report's cancel (2), as the system
// has always written it; the status still names the device's reason, while
// a person's cancel stays 2.
TEST(ExitStatus, AJamOnTheFirstPageIsReportedAsCancelButTellsTheJam) {
  ScanRun s("events = 1:jam\n");
  const RunResult r = s.run({"/ADF", "p.tif"});
  EXPECT_EQ(report_value(r.out, "Exit"), "2") << r.out;
  EXPECT_EQ(r.exit_status, 211) << r.out << r.err;
  EXPECT_NE(report_value(r.out, "Error").find("Paper jam"), std::string::npos) << r.out;
}

}  // namespace
