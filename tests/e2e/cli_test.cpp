// The program as a script meets it: report, exit status, messages, files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

std::string last_line(const std::string& text, int from_end = 0) {
  std::vector<std::string> lines = report_lines(text);
  return lines.size() > static_cast<std::size_t>(from_end) ? lines[lines.size() - 1 - from_end] : "";
}

TEST(Cli, NoArgumentsShowsAboutAndSucceeds) {
  RunResult r = run_quillet({});
  EXPECT_EQ(r.exit_status, 0);
  std::vector<std::string> lines = report_lines(r.out);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "[Quillet]");
  EXPECT_EQ(lines[1], "App=Quillet");
  EXPECT_EQ(lines[2], "Version=2.99.3.0");
  EXPECT_EQ(lines[3].rfind("CmdLine=", 0), 0u);
  EXPECT_EQ(last_line(r.out, 1).rfind("State=", 0), 0u);
  EXPECT_EQ(last_line(r.out), "Exit=0");
  EXPECT_NE(r.err.find("About Quillet"), std::string::npos);
  EXPECT_NE(r.err.find("Quillet - TWAIN Scanning Utility"), std::string::npos);
  EXPECT_NE(r.err.find("version 2.99 (build 3)"), std::string::npos);
}

struct Rejection {
  std::vector<std::string> args;
  std::string error;
};

void PrintTo(const Rejection& c, std::ostream* os) { *os << testing::PrintToString(c.args); }

class Rejected : public testing::TestWithParam<Rejection> {};

TEST_P(Rejected, ReportsErrorAndExits251) {
  const Rejection& c = GetParam();
  RunResult r = run_quillet(c.args);
  EXPECT_EQ(r.exit_status, 251) << r.out;
  EXPECT_EQ(report_value(r.out, "Error"), c.error) << r.out;
  EXPECT_EQ(last_line(r.out), "Exit=251");
  EXPECT_NE(r.err.find(c.error.substr(0, 20)), std::string::npos) << "message box on stderr";
}

INSTANTIATE_TEST_SUITE_P(
    Messages, Rejected,
    testing::Values(
        Rejection{{"/BW/GRAY"}, "Missing space before: /GRAY                           "},
        Rejection{{"a.bmp", "b.bmp"}, "Too many filenames: b.bmp"},
        Rejection{{"/server", "/bg"}, "/server and /bg cannot be combined"},
        Rejection{{"/close"}, "/close is only valid with /bg"},
        Rejection{{"/stop"}, "/stop is only valid with /bg"},
        Rejection{{"/BW", "/TA"}, "/ta cannot be used for B&W scanning"},
        Rejection{{"/BW", "/DEEP"}, "/deep is incompatible with /BW"},
        Rejection{{"/DEEP", "x.bmp"}, "Cannot save deep-pixel scans to BMP or GIF"},
        Rejection{{"/D=16", "x.bmp"}, "Cannot save deep-pixel scans to BMP or GIF"},
        Rejection{{"/BCE"}, "No engine specified with /bce option."},
        Rejection{{"/BCE=foo"}, "Unrecognized barcode engine: foo                             "},
        Rejection{{"/PAPER=Z9"}, "Unrecognized paper size:Z9"},
        Rejection{{"/TEXTBOLD"}, "Text option syntax: BOLD"},
        Rejection{{"/TEXT:12"}, "Unrecognized text attribute: 12"},
        Rejection{{"/TEXT:12px"}, "Bad text height units: 12px"},
        Rejection{{"/TEXT::BOLD"}, "Text option attribute: :BOLD"},
        Rejection{{"/FILE", "/TEXT"}, "/text cannot stamp the files the device writes itself (/file)"},
        Rejection{{"/FOO"}, "Unrecognized option: /FOO"},
        Rejection{{"-foo"}, "Unrecognized option: /FOO"},
        Rejection{{"/0x1001=1", "/0x1002=2"}, "Only one /0xNNNN switch allowed"},
        Rejection{{"/BLANK=2%x"}, "Unrecognized option: /BLANK=2%x"},
        Rejection{{"/LANG=4095"}, "/LANG failed: check lang code 4095"},
        Rejection{{"/BARCODE", "/BCE=LEADTOOLS"}, "Barcode engine not available: LEADTOOLS"},
        Rejection{{""}, "Empty argument: a file name or switch was expected"},
        Rejection{{"/R", "x"}, "Unrecognized option: /R"}));

// A program whose folder holds no codec modules: each format that needs one
// is refused with its own message, the others still work.
std::string program_without_modules() {
  static std::string copy;
  if (copy.empty()) {
    const char* bin = std::getenv("QUILLET_BIN");
    std::string folder = make_temp_folder();
    copy = folder + "/quillet";
    std::string command = std::string("cp '") + (bin ? bin : "build/quillet") + "' '" + copy + "'";
    if (std::system(command.c_str()) != 0) copy.clear();
  }
  return copy;
}

TEST(Cli, MissingModulesDisableOnlyTheirFormats) {
  const std::string program = program_without_modules();
  ASSERT_FALSE(program.empty());
  struct Case {
    const char* sw;
    const char* error;
  } cases[] = {{"/PDF", "PDF file output not available."},
               {"/PDF+", "Multipage PDF output not available."},
               {"/TIFF", "TIFF file output not available."},
               {"/TIF+", "Multipage TIFF output not available."},
               {"/DCX", "DCX output not available."},
               {"/GIF", "GIF file output not available."},
               {"/PNG", "PNG file output not available."}};
  for (const Case& c : cases) {
    RunResult r = run_quillet({c.sw}, {{"QUILLET_BIN", program}});
    EXPECT_EQ(r.exit_status, 251) << c.sw;
    EXPECT_EQ(report_value(r.out, "Error"), c.error);
  }
  RunResult bmp = run_quillet({"/BMP", "/NOSCAN"}, {{"QUILLET_BIN", program}});
  EXPECT_EQ(bmp.exit_status, 0);
}

TEST(Cli, ReportFileReceivesTheReport) {
  std::string dir = make_temp_folder();
  RunResult r = run_quillet({"/O=" + dir + "/report.txt", "/NOSCAN"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  std::string report = read_file(dir + "/report.txt");
  EXPECT_EQ(report.rfind("[Quillet]\n", 0), 0u);
  EXPECT_EQ(last_line(report), "Exit=0");
}

TEST(Cli, UncreatableReportFileIsRejectedOnStandardOutput) {
  RunResult r = run_quillet({"/O=/nonexistent-folder/x/report.txt"});
  EXPECT_EQ(r.exit_status, 251);
  EXPECT_EQ(report_value(r.out, "Error"), "could not create file: O=/nonexistent-folder/x/report.txt");
}

TEST(Cli, ScanningSuppressedIsSuccess) {
  for (auto args : std::vector<std::vector<std::string>>{{"/NOSCAN"}, {"/SCAN", "/NOSCAN"}, {"/V"}}) {
    RunResult r = run_quillet(args);
    EXPECT_EQ(r.exit_status, 0) << args[0];
    EXPECT_EQ(last_line(r.out), "Exit=0");
  }
}

TEST(Cli, ScanWithoutSourceManagerFailsWith255) {
  RunResult r = run_quillet({"/N=3"}, {{"QUILLET_DSM_PATH", "/nonexistent/libtwaindsm.so"}});
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_NE(report_value(r.out, "Error").find("Could not load System TWAIN Manager"), std::string::npos) << r.out;
  EXPECT_EQ(last_line(r.out), "Exit=255");
}

TEST(Cli, HelpSucceedsAndSaysWhereTheHelpIs) {
  RunResult r = run_quillet({"/HELP"}, {{"DISPLAY", ""}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_NE(r.err.find("README.md"), std::string::npos) << r.err;
}

TEST(Cli, PathsAreFileNamesNotSwitches) {
  // A path is taken as the output name, its folders made as needed.
  const std::string home = make_temp_folder();
  RunResult r = run_quillet({"/N=2", home + "/scans/a.tif"}, {{"HOME", home}, {"TMPDIR", home}});
  EXPECT_EQ(r.exit_status, 0) << r.out;
  EXPECT_EQ(report_value(r.out, "File2"), home + "/scans/a2.tif") << r.out;
  // "--" ends the switches: "/NOSCAN" after it is a second file name.
  RunResult r2 = run_quillet({"--", "a.bmp", "/NOSCAN"});
  EXPECT_EQ(report_value(r2.out, "Error"), "Too many filenames: /NOSCAN");
  // "-" works as a switch character.
  RunResult r3 = run_quillet({"-noscan"});
  EXPECT_EQ(r3.exit_status, 0);
}

TEST(Cli, HostileInputGivesClearMessages) {
  std::string huge(100000, 'A');
  RunResult r1 = run_quillet({"/" + huge});
  EXPECT_EQ(r1.exit_status, 251);
  EXPECT_EQ(report_value(r1.out, "Error").rfind("Option too long", 0), 0u);
  RunResult r2 = run_quillet({huge + ".tif"});
  EXPECT_EQ(r2.exit_status, 251);
  EXPECT_EQ(report_value(r2.out, "Error").rfind("File name too long", 0), 0u);
  RunResult r3 = run_quillet({"/S=\x80\xff\xfe", "/NOSCAN"});
  EXPECT_EQ(r3.exit_status, 0);
  // Every report line stays shorter than the line limit.
  for (const std::string& line : report_lines(r2.out)) EXPECT_LT(line.size(), 1024u);
}

TEST(Cli, LineEndsInValuesCannotForgeReportLines) {
  RunResult r = run_quillet({"a.bmp", "b\nExit=0"});
  EXPECT_EQ(r.exit_status, 251);
  EXPECT_EQ(last_line(r.out), "Exit=251");
  EXPECT_EQ(report_value(r.out, "Error"), "Too many filenames: b Exit=0");
}

TEST(Cli, AClientThatFindsNoServerEndsItsReportWithExit) {
  const std::string folder = make_temp_folder();
  ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
  RunResult r = run_quillet({"/BG", "/N=1", "a.tif"},
                            {{"XDG_RUNTIME_DIR", folder}, {"HOME", folder}, {"QUILLET_UI", "none"}}, folder);
  EXPECT_EQ(r.exit_status, 251);
  EXPECT_EQ(last_line(r.out), "Exit=251") << r.out;
}

TEST(Cli, AppNameSwitch) {
  RunResult r = run_quillet({"/APP=My Scanner", "/NOSCAN"});
  EXPECT_EQ(report_value(r.out, "App"), "My Scanner");
}

}  // namespace
