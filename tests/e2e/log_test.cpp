// The trace log switches, seen from outside: which file appears and what the
// header and the lines look like.
#include <gtest/gtest.h>

#include <string>

#include "run_program.h"
#include "scan_run.h"

namespace {

struct LogCase {
  std::string log_switch;
  std::string file;        // relative to the run's folder; "$RUN/" = XDG_RUNTIME_DIR
  bool expect_log;
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.log_switch; }

class LogSwitch : public testing::TestWithParam<LogCase> {};

TEST_P(LogSwitch, CreatesTheLogWithItsHeader) {
  const LogCase& c = GetParam();
  std::string dir = make_temp_folder();
  std::string tmp = make_temp_folder();
  std::string run = make_temp_folder();
  RunResult r =
      run_quillet({c.log_switch, "/NOSCAN"}, {{"TMPDIR", tmp}, {"XDG_RUNTIME_DIR", run}}, dir);
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  std::string path = c.file.rfind("$RUN/", 0) == 0 ? run + "/" + c.file.substr(5) : dir + "/" + c.file;
  // The shared temporary folder never gets the log.
  EXPECT_FALSE(file_exists(tmp + "/orivane.log"));
  if (!c.expect_log) {
    EXPECT_FALSE(file_exists(path));
    return;
  }
  ASSERT_TRUE(file_exists(path)) << path;
  std::string log = read_file(path);
  EXPECT_NE(log.find("------ Start of log (quillet)------\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Product          Quillet\n"), std::string::npos);
  EXPECT_NE(log.find("Version          2.99.3.0\n"), std::string::npos);
  EXPECT_NE(log.find("ORIVANE version: 3.47.2.0\n"), std::string::npos);
  EXPECT_NE(log.find("Logging to:      "), std::string::npos);
  EXPECT_NE(log.find("Current State:   PRESESSION\n"), std::string::npos);
  if (c.log_switch == "/LOG") {
    // Lines traced before the log opened survive into it, thread line first.
    EXPECT_EQ(log.rfind("LogInitialize\n[THREAD ", 0), 0u) << log;
  }
  EXPECT_NE(log.find("TWAIN_RegisterApp(2,99,0,0,release,Talven,Pictora,Quillet)\n"), std::string::npos);
  EXPECT_NE(log.find("-----Summary-----\n"), std::string::npos);
  EXPECT_NE(log.find("[Quillet] Exit Code = 0\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LogSwitch,
    testing::Values(LogCase{"/LOG", "$RUN/orivane.log", true},
                    LogCase{"/LOG=trace", "$RUN/trace.log", true},
                    LogCase{"/LOG=sub/t.log", "sub/t.log", true},
                    LogCase{"/LOG2", "$RUN/orivane.log", true},
                    LogCase{"/LOGFILE='x y.log'", "$RUN/x y.log", true},
                    LogCase{"/logname=named.txt", "$RUN/named.txt", true},
                    LogCase{"/LOG0", "$RUN/orivane.log", false}));

TEST(Log, NestedStepsAreIndented) {
  std::string dir = make_temp_folder();
  RunResult r = run_quillet({"/LOG=t", "/ENUM"},
                            {{"TMPDIR", dir},
                             {"XDG_RUNTIME_DIR", dir},
                             {"QUILLET_DSM_PATH", "/nonexistent/libtwaindsm.so"}});
  EXPECT_EQ(r.exit_status, 255);
  std::string log = read_file(dir + "/t.log");
  EXPECT_NE(log.find("TWAIN_ReportLastError\n   ErrorBox\n"), std::string::npos) << log;
}

// Window handles are traced whole (they pass 32 bits here), the same value
// wherever they appear, and no pointer trace doubles or drops its "0x".
TEST(Log, HandlesAreTracedWhole) {
  ScanRun s("feeder = no\n");
  RunResult r = s.run({"/LOG=t", "p.tif"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  const std::string log = read_file(s.home + "/t.log");
  auto handle_after = [&](const std::string& what) {
    const std::size_t at = log.find(what);
    return at == std::string::npos ? std::string() : log.substr(at + what.size(), log.find_first_of(",)\n", at + what.size()) - at - what.size());
  };
  const std::string created = handle_after("CreateWindow() => 0x");
  EXPECT_FALSE(created.empty()) << log.substr(0, 4000);
  EXPECT_EQ(handle_after("AcquireNative(0x"), created);
  EXPECT_EQ(log.find("0x0x"), std::string::npos);
  EXPECT_EQ(log.find("(nil)"), std::string::npos);
}

}  // namespace
