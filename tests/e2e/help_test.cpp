// The program's help the way Linux users look for it: -h, --help and
// --version, the manual pages (rendered by man, which must not complain),
// and the bash completion.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "../tool_support.h"
#include "run_program.h"
#include "scan_run.h"

namespace {

using test_tools::command_output;
using test_tools::have_tool;

std::string quoted(const std::string& text) { return "'" + text + "'"; }

std::string build_folder() {
  const std::string program = quillet_program();
  return program.substr(0, program.rfind('/'));
}

struct InfoCase {
  std::vector<std::string> args;
  std::string first_line;
  std::vector<std::string> mentions;
};

void PrintTo(const InfoCase& c, std::ostream* os) { *os << testing::PrintToString(c.args); }

class InfoOption : public testing::TestWithParam<InfoCase> {};

// They answer on standard output and end at once: no report, and a report
// file named on the same line is neither created nor emptied.
TEST_P(InfoOption, PrintsAndEndsWithoutARun) {
  const InfoCase& c = GetParam();
  ScanRun s;
  std::vector<std::string> args = c.args;
  args.push_back("/O=" + s.at("report.txt"));
  const RunResult r = s.run(args);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.first_line) << r.out;
  for (const std::string& m : c.mentions) EXPECT_NE(r.out.find(m), std::string::npos) << m;
  EXPECT_EQ(r.out.find("[Quillet]"), std::string::npos) << "no report";
  EXPECT_FALSE(file_exists(s.at("report.txt")));
}

const std::vector<std::string> kUsageMentions = {
    // A switch of each kind: a keyword with its other spelling, a value
    // form, the prefix forms, and the statuses of the failures.
    "  /DUP, /DUPLEX", "  /R=x", "  /O=...", "  /TEXT...", "  211  [-1 or 2]", "  204  [-4]"};

INSTANTIATE_TEST_SUITE_P(Linux, InfoOption,
                         testing::Values(InfoCase{{"-h"}, "Usage: quillet [switches] [output-file]", kUsageMentions},
                                         InfoCase{{"/N=3", "--help"}, "Usage: quillet [switches] [output-file]",
                                                  kUsageMentions},
                                         InfoCase{{"--version"}, "quillet (Quillet) 2.99.3.0", {"Orivane library 3.47"}}));

TEST(Help, AfterTheEndOfTheSwitchesHIsAFileName) {
  ScanRun s;
  const RunResult r = s.run({"/NOSCAN", "--", "-h"});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "Exit"), "0") << r.out;
  EXPECT_EQ(r.out.find("Usage:"), std::string::npos);
}

// The manual pages are rendered by man with its warnings on: a mistake in
// the page's markup shows as a warning on standard error.
TEST(Help, ManualPagesRenderWithoutWarnings) {
  if (!have_tool("man")) GTEST_SKIP() << "man is not installed";
  struct Page {
    std::string file;
    std::vector<std::string> mentions;
  };
  for (const Page& p : {Page{"quillet.1", {"/DUPLEX", "EXIT STATUS", "PagesDelivered="}},
                        Page{"orivane.1", {"deskew", "convert"}}}) {
    const std::string path = build_folder() + "/man/" + p.file;
    ASSERT_TRUE(file_exists(path)) << path;
    const std::string warnings =
        command_output("MANWIDTH=80 man --warnings -l " + quoted(path) + " 2>&1 >/dev/null");
    EXPECT_EQ(warnings, "") << p.file;
    const std::string text = command_output("MANWIDTH=80 man -l " + quoted(path) + " 2>/dev/null | col -b");
    for (const std::string& m : p.mentions) EXPECT_NE(text.find(m), std::string::npos) << p.file << ": " << m;
  }
}

// The completion as bash runs it: the words of the command line up to the
// cursor, the function, and what it offers.
std::string complete(ScanRun& s, const std::string& line) {
  std::string script = "source " + quoted(std::string(QUILLET_SOURCE_DIR) + "/completion/quillet.bash") + "\n";
  for (const auto& [k, v] : s.env) script += "export " + k + "=" + quoted(v) + "\n";
  script += "COMP_LINE=" + quoted(quillet_program() + " " + line) +
            "; COMP_POINT=${#COMP_LINE}; read -ra COMP_WORDS <<<\"$COMP_LINE\"; "
            "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _quillet; printf '%s\\n' \"${COMPREPLY[@]}\"";
  std::ofstream(s.at("complete.sh")) << script;
  return command_output("bash " + quoted(s.at("complete.sh")) + " 2>&1");
}

TEST(Help, BashCompletesSwitchesDevicesAndPapers) {
  if (!have_tool("bash")) GTEST_SKIP() << "bash is not installed";
  ScanRun s;
  struct Case {
    std::string line, offered;
  } cases[] = {
      {"/DUP", "/DUPLEX\n"},
      {"-dup", "-duplex\n"},           // as the user types it
      {"/PAP", "/PAPER=\n"},           // a value form waits for its value
      {"/PAPER=le", "LETTER\nLEGAL\n"},  // after "=", as bash splits the word
      {"/S=sc", "Scanner\n"},          // the device names quillet finds
      {"--ver", "--version\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(complete(s, c.line), c.offered) << c.line;
}

}  // namespace
