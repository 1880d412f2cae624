// The installed program: `cmake --install` of this build into a fresh
// prefix, then the copy there run with nothing in its environment that says
// where its parts are. It must find its Source Manager, data source and
// codecs from its own folder by the install layout, as it finds them beside
// itself in the build tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "../tool_support.h"
#include "run_program.h"

namespace {

namespace fs = std::filesystem;
using test_tools::command_output;
using test_tools::have_tool;

std::string in_quotes(const std::string& text) { return "'" + text + "'"; }

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

const std::string kLib = QUILLET_INSTALL_LIBDIR;

class Installed : public testing::Test {
 protected:
  void SetUp() override {
    root_ = make_temp_folder();
    prefix_ = root_ + "/prefix";
    const std::string program = quillet_program();
    const std::string build = program.substr(0, program.rfind('/'));
    const std::string out = command_output(in_quotes(ORV_CMAKE_COMMAND) + " --install " + in_quotes(build) +
                                           " --prefix " + in_quotes(prefix_) + " 2>&1; echo rc=$?");
    ASSERT_TRUE(ends_with(out, "rc=0\n")) << out;
  }
  void TearDown() override { fs::remove_all(root_); }

  // Runs the installed program in the test's folder with only PATH, HOME and
  // `env` set and no input; returns its output and errors, then "rc=<status>".
  std::string run_clean(const std::string& args, const std::string& env = "") {
    return command_output("cd " + in_quotes(root_) + " && env -i PATH=/usr/bin:/bin HOME=" + in_quotes(root_) +
                          " " + env + " " + in_quotes(prefix_ + "/bin/quillet") + " " + args +
                          " </dev/null 2>&1; echo rc=$?");
  }

  std::string root_, prefix_;
};

// The programs and what they load at run time, the manual pages, the
// completion and the help page; no test, benchmark or fuzz program.
TEST_F(Installed, HoldsTheProgramsPartsAndNothingElse) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(prefix_))
    if (!entry.is_directory()) files.insert(fs::relative(entry.path(), prefix_).string());
  std::set<std::string> expected = {"bin/quillet",
                                    "bin/orivane",
                                    kLib + "/quillet/libtwaindsm.so",
                                    kLib + "/twain/VirtualScanner.ds",
                                    kLib + "/twain/SaneBridge.ds",
                                    "share/man/man1/quillet.1",
                                    "share/man/man1/orivane.1",
                                    "share/bash-completion/completions/quillet",
                                    "share/doc/quillet/README.md"};
  for (const char* codec : {"OrvJpeg", "OrvTiff", "OrvPng", "OrvGif", "OrvDcx", "OrvPdf", "OrvSymbol", "OrvOcr"})
    expected.insert(kLib + "/quillet/" + codec + ".so");
  EXPECT_EQ(files, expected);

  if (!have_tool("man")) GTEST_SKIP() << "man is not installed";
  const std::string page = prefix_ + "/share/man/man1/quillet.1";
  EXPECT_EQ(command_output("MANWIDTH=80 man --warnings -l " + in_quotes(page) + " 2>&1 >/dev/null"), "");
  EXPECT_NE(command_output("MANWIDTH=80 man -l " + in_quotes(page) + " 2>/dev/null | col -b").find("EXIT STATUS"),
            std::string::npos);
}

// A scan to TIFF loads the Source Manager and the TIFF and JPEG codecs from
// <prefix>/lib/quillet (the trace says from where), and the virtual scanner
// is listed from <prefix>/lib/twain.
TEST_F(Installed, ScansWithNothingInItsEnvironment) {
  const std::string page = root_ + "/out/p.tif";
  const std::string scan = run_clean("/N=1 /LOGFILE=" + in_quotes(root_ + "/trace.log") + " " + in_quotes(page));
  ASSERT_TRUE(ends_with(scan, "rc=0\n")) << scan;
  if (have_tool("tiffinfo"))
    EXPECT_NE(command_output("tiffinfo " + in_quotes(page) + " 2>&1").find("Image Width:"), std::string::npos);
  const std::string trace = read_file(root_ + "/trace.log");
  const std::string modules = prefix_ + "/" + kLib + "/quillet/";
  for (const std::string& line : {"Loaded " + modules + "libtwaindsm.so\n", "Loaded DLL:      " + modules + "OrvTiff.so\n",
                                  "Loaded DLL:      " + modules + "OrvJpeg.so\n"})
    EXPECT_NE(trace.find(line), std::string::npos) << line << trace;

  // Listing walks to the SANE bridge's devices: from the suite's empty SANE
  // configuration, as no test reaches the machine's own scanners.
  const char* sane = std::getenv("SANE_CONFIG_DIR");
  const std::string sane_env = sane != nullptr ? "SANE_CONFIG_DIR=" + in_quotes(sane) + " " : "";
  const std::string listed =
      run_clean("/ENUM", sane_env + "QUILLET_DSM_LOG=" + in_quotes(root_ + "/dsm.log"));
  EXPECT_TRUE(ends_with(listed, "rc=0\n")) << listed;
  EXPECT_NE(listed.find("Source1=Virtual Scanner\n"), std::string::npos) << listed;
  EXPECT_NE(read_file(root_ + "/dsm.log").find("(" + prefix_ + "/" + kLib + "/twain/VirtualScanner.ds #0)"),
            std::string::npos);
}

// A module is looked for beside the program first, then in the installed
// module folder: a damaged copy beside the program does not hide the good
// one, and with no good one its own load failure is the one kept.
TEST_F(Installed, ADamagedModuleBesideTheProgramDoesNotHideTheInstalledOne) {
  std::ofstream(prefix_ + "/bin/OrvTiff.so") << "not a module";
  const std::string installed = prefix_ + "/" + kLib + "/quillet/OrvTiff.so";
  struct Case {
    bool keep_installed;
    int status;
    std::string traced;
  };
  for (const Case& c : {Case{true, 0, "no luck (GLE 8) - trying LoadLibraryEx(" + installed + ")...\n"},
                        Case{false, 2, "**failure, GLE 8:" + prefix_ + "/bin/OrvTiff.so: too short for an ELF header\n"}}) {
    if (!c.keep_installed) fs::remove(installed);
    fs::remove(root_ + "/trace.log");
    const std::string scan =
        run_clean("/N=1 /LOGFILE=" + in_quotes(root_ + "/trace.log") + " " + in_quotes(root_ + "/p.tif"));
    EXPECT_TRUE(ends_with(scan, "rc=" + std::to_string(c.status) + "\n")) << scan;
    const std::string trace = read_file(root_ + "/trace.log");
    EXPECT_NE(trace.find(c.traced), std::string::npos) << c.traced << "\n" << trace;
  }
}

}  // namespace
