// The device steps as a script meets them: listing the devices, the default
// device, the selection, a driver that crashes, and what the trace shows.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

// A run with its own home (the remembered default device), temporary and
// runtime folder (the trace log) and virtual scanner devices.
struct DeviceRun {
  explicit DeviceRun(const std::string& config = "") : home(make_temp_folder()) {
    env["HOME"] = home;
    env["TMPDIR"] = home;
    env["XDG_RUNTIME_DIR"] = home;
    if (!config.empty()) {
      const std::string path = home + "/vscan.ini";
      std::ofstream(path) << config;
      env["QUILLET_VSCAN"] = path;
    }
  }
  RunResult run(const std::vector<std::string>& args) { return run_quillet(args, env); }
  std::string log() { return read_file(home + "/orivane.log"); }

  std::string home;
  std::map<std::string, std::string> env;
};

std::vector<std::string> source_lines(const std::string& report) {
  std::vector<std::string> out;
  for (const std::string& line : report_lines(report))
    if (line.rfind("Source", 0) == 0 && line.rfind("Source=", 0) != 0) out.push_back(line);
  return out;
}

struct EnumCase {
  std::string label;
  std::string config;  // empty: the built-in device
  std::vector<std::string> lines;
  std::string default_source;
};

void PrintTo(const EnumCase& c, std::ostream* os) { *os << c.label; }

class Enumerate : public testing::TestWithParam<EnumCase> {};

TEST_P(Enumerate, ListsTheConfiguredDevices) {
  const EnumCase& c = GetParam();
  DeviceRun device(c.config);
  RunResult r = device.run({"/ENUM"});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(source_lines(r.out), c.lines) << r.out;
  EXPECT_EQ(report_value(r.out, "DefaultSource"), c.default_source);
  EXPECT_EQ(report_value(r.out, "Error"), "");
  EXPECT_EQ(report_value(r.out, "Exit"), "0");
}

INSTANTIATE_TEST_SUITE_P(
    Configs, Enumerate,
    testing::Values(
        EnumCase{"built-in", "", {"Source1=Virtual Scanner"}, "Virtual Scanner"},
        EnumCase{"two",
                 "[device]\nproduct = Scanner A\n[device]\nproduct = Scanner B\n",
                 {"Source1=Scanner A", "Source2=Scanner B"},
                 "Scanner A"},
        EnumCase{"none", "# nothing attached\n", {}, ""}),
    [](const testing::TestParamInfo<EnumCase>& info) {
      return info.param.label == "built-in" ? std::string("builtin") : info.param.label;
    });

TEST(Enumerate, AnOverlongProductNameIsTracedAndCut) {
  DeviceRun device(
      "[device]\nproduct = The Virtual Scanner With A Very Long Name\nname_overrun = yes\n");
  RunResult r = device.run({"/ENUM", "/LOG"});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(source_lines(r.out), std::vector<std::string>{"Source1=The Virtual Scanner With A Very Lo"});
  const std::string log = device.log();
  EXPECT_NE(log.find("*** twid overrun!\n"), std::string::npos) << log;
  EXPECT_NE(log.find("TWAIN_GetNextSourceName(..) => 'The Virtual Scanner With A Very Lo'\n"),
            std::string::npos);
}

TEST(Enumerate, TheTraceShowsEveryGateCallWithTimeAndResult) {
  DeviceRun device("[device]\nproduct = Scanner A\n[device]\nproduct = Scanner B\n");
  RunResult r = device.run({"/ENUM", "/LOG"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  const std::string log = device.log();
  for (const char* line :
       {R"(Mgr\(1, DAT_PARENT, MSG_OPENDSM\)\[\d+ms\]=> SUCCESS\n)",
        R"(Mgr\(1, DAT_IDENTITY, MSG_GETFIRST\)\[\d+ms\]=> SUCCESS\n +twid.ProductName=Scanner A\n)",
        R"(Mgr\(1, DAT_IDENTITY, MSG_GETNEXT\)\[\d+ms\]=> SUCCESS\n +twid.ProductName=Scanner B\n)",
        R"(Mgr\(1, DAT_IDENTITY, MSG_GETNEXT\)\[\d+ms\]=> ENDOFLIST\n)",
        R"(Mgr\(1, DAT_IDENTITY, MSG_GETDEFAULT\)\[\d+ms\]=> SUCCESS\n)",
        R"(Mgr\(1, DAT_PARENT, MSG_CLOSEDSM\)\[\d+ms\]=> SUCCESS\n)",
        R"(State: PRESESSION -> DSM_LOADED\n)", R"(State: DSM_LOADED -> DSM_OPEN\n)",
        R"(TWAIN_GetSourceList\(\)\n)", R"( DropToState\(1\)\n)"}) {
    EXPECT_TRUE(std::regex_search(log, std::regex(line))) << line << "\n" << log;
  }
}

TEST(Enumerate, WithoutASourceManagerTheListFails) {
  DeviceRun device;
  device.env["QUILLET_DSM_PATH"] = device.home + "/nowhere/libtwaindsm.so";
  RunResult r = device.run({"/ENUM"});
  EXPECT_EQ(r.exit_status, 255) << r.out << r.err;
  EXPECT_TRUE(source_lines(r.out).empty());
  EXPECT_NE(r.err.find("Could not get TWAIN device list.\nCould not load System TWAIN Manager: "
                       "'libtwaindsm.so'"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(report_value(r.out, "State"), "1");
}

TEST(SelectSource, TheChoiceBecomesTheDefault) {
  // Nobody is there to answer: the preselected device is taken.
  DeviceRun device("[device]\nproduct = Scanner A\n[device]\nproduct = Scanner B\n");
  RunResult r = device.run({"/SS"});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "DefaultSource"), "Scanner A");
  // With no devices there is nothing to choose.
  DeviceRun empty("# nothing\n");
  RunResult none = empty.run({"/SS"});
  EXPECT_EQ(none.exit_status, 255) << none.out << none.err;
  EXPECT_EQ(report_value(none.out, "DefaultSource"), "");
}

TEST(KeepWarm, OpensAndClosesTheDevice) {
  DeviceRun device("[device]\nproduct = Scanner A\n[device]\nproduct = Scanner B\n");
  RunResult r = device.run({"/KEEPWARM", "/S=scanner b"});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "Source"), "Scanner B");
  EXPECT_EQ(report_value(r.out, "State"), "3");
  RunResult missing = device.run({"/KEEPWARM", "/S=Scanner C"});
  EXPECT_EQ(missing.exit_status, 255);
  EXPECT_NE(missing.err.find("No TWAIN device matches 'Scanner C'"), std::string::npos)
      << missing.err;
}

TEST(KeepWarm, ADriverCrashInsideOpenIsContained) {
  DeviceRun device("[device]\nproduct = Fragile\nfault = opends\n");
  // The crashed driver's half-done work is abandoned with its memory.
  device.env["ASAN_OPTIONS"] = "detect_leaks=0";
  RunResult r = device.run({"/KEEPWARM", "/LOG"});
  EXPECT_EQ(r.exit_status, 255) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "State"), "2");
  EXPECT_EQ(report_value(r.out, "Exit"), "255");
  EXPECT_NE(r.err.find("A fatal error has occurred inside the TWAIN Manager.\n"
                       "[Exception Code: 0x0000000b]\nTWAIN functions are disabled."),
            std::string::npos)
      << r.err;
  const std::string log = device.log();
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(Mgr\(1, DAT_IDENTITY, MSG_OPENDS\) \*\*oops\n)")))
      << log;
  EXPECT_NE(log.find("State: DSM_OPEN -> DSM_LOADED\n"), std::string::npos);
  EXPECT_NE(log.find("[Quillet] Exit Code = 255\n"), std::string::npos);
}

}  // namespace
