// Scanning from SANE devices through the bridge (twain/SaneBridge.ds), with
// SANE's own test backend in a private configuration: the pixels that reach
// the files are compared with what scanimage writes from the same device and
// options, and the device's statuses with the run's outcome.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../tool_support.h"
#include "run_program.h"
#include "scan_run.h"

namespace {

using test_tools::command_output;
using test_tools::have_tool;

constexpr const char* kDevice = "/S=frontend-tester";

// A scan run whose SANE configuration holds only the test backend, with
// `options` (test.conf lines) after the defaults: one device, 100 dpi, the
// backend's default area (80 x 100 mm).
struct SaneRun : ScanRun {
  explicit SaneRun(const std::string& options = "") {
    const std::string dir = home + "/sane";
    std::filesystem::create_directory(dir);
    std::ofstream(dir + "/dll.conf") << "test\n";
    std::ofstream(dir + "/test.conf") << "number_of_devices 1\nresolution 100\n" << options;
    env["SANE_CONFIG_DIR"] = dir;
    env["LSAN_OPTIONS"] =
        "suppressions=" QUILLET_SOURCE_DIR "/tests/lsan.supp:fast_unwind_on_malloc=0";
  }
  // scanimage of the same device into `name` (PNM).
  bool reference(const std::string& args, const std::string& name) {
    const std::string cmd = "SANE_CONFIG_DIR='" + env["SANE_CONFIG_DIR"] +
                            "' scanimage -d test:0 --format=pnm " + args + " > '" + at(name) +
                            "' 2>/dev/null && echo ok";
    return command_output(cmd) == "ok\n";
  }
  // ImageMagick's count of differing pixels ("0" for the same image).
  std::string differing(const std::string& a, const std::string& b) {
    return command_output("compare -metric AE '" + at(a) + "' '" + at(b) + "' null: 2>&1");
  }
  std::string size_of(const std::string& name) {
    return command_output("identify -format '%wx%h %[depth]' '" + at(name) + "[0]'");
  }
};

bool have_sane_tools() {
  return have_tool("scanimage") && have_tool("compare") && have_tool("identify");
}

TEST(SaneBridge, ListsTheTestDevicesAndOpensOne) {
  SaneRun s("number_of_devices 2\n");
  RunResult listed = s.run({"/ENUM"});
  ASSERT_EQ(listed.exit_status, 0) << listed.out << listed.err;
  // Two devices of one model stay apart by name; SANE's devices, listed when
  // the list is walked, come after the virtual scanner, which stays the
  // default source.
  EXPECT_EQ(report_value(listed.out, "Source1"), "Scanner");
  EXPECT_EQ(report_value(listed.out, "Source2"), "Noname frontend-tester");
  EXPECT_EQ(report_value(listed.out, "Source3"), "Noname frontend-tester #2");
  EXPECT_EQ(report_value(listed.out, "DefaultSource"), "Scanner");
  RunResult scanned = s.run({"/S=Noname frontend-tester #2", "page.tif"});
  EXPECT_EQ(scanned.exit_status, 0) << scanned.out << scanned.err;
  EXPECT_EQ(report_value(scanned.out, "PagesWritten"), "1") << scanned.out;
}

// Listing SANE devices starts every backend of the machine: a run that
// scans from the default source, or from a device named exactly, never
// does; one that needs a SANE device does.
TEST(SaneBridge, RunsStartSaneOnlyWhenTheyNeedIt) {
  struct Case {
    std::vector<std::string> args;
    bool listed;
  };
  const Case cases[] = {
      {{"/N=1", "x.tif"}, false},
      {{"/S=Scanner", "x.tif"}, false},
      {{kDevice, "x.tif"}, true},
      {{"/ENUM"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    SaneRun s;
    s.env["QUILLET_DSM_LOG"] = s.at("dsm.log");
    RunResult r = s.run(c.args);
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    std::ifstream log(s.at("dsm.log"));
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find("listed on demand") != std::string::npos, c.listed) << text;
  }
}

struct PixelCase {
  const char* label;
  std::vector<std::string> args;  // quillet's
  const char* picture;
  const char* reference;          // scanimage's
  const char* size;               // identify of our file
};

// Every pixel type and depth, by native and (deep) memory transfers.
TEST(SaneBridge, PagesEqualScanimagePixelForPixel) {
  if (!have_sane_tools()) GTEST_SKIP() << "scanimage or ImageMagick missing";
  const PixelCase cases[] = {
      {"bw", {"/BW"}, "Grid", "--mode Gray --depth 1", "314x393 1"},
      {"gray8", {"/GRAY"}, "Color pattern", "--mode Gray --depth 8", "314x393 8"},
      {"gray8 300", {"/GRAY", "/R=300"}, "Grid", "--mode Gray --depth 8 --resolution 300",
       "944x1181 8"},
      {"gray16", {"/GRAY", "/DEEP"}, "Color pattern", "--mode Gray --depth 16", "314x393 16"},
      {"rgb24", {"/RGB"}, "Color pattern", "--mode Color --depth 8", "314x393 8"},
      {"rgb48", {"/RGB", "/DEEP"}, "Color pattern", "--mode Color --depth 16", "314x393 16"},
      {"rgb24 memory", {"/RGB", "/MEM"}, "Grid", "--mode Color --depth 8", "314x393 8"},
  };
  for (const PixelCase& c : cases) {
    SCOPED_TRACE(c.label);
    SaneRun s(std::string("test-picture \"") + c.picture + "\"\n");
    std::vector<std::string> args{kDevice};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("page.tif");
    RunResult r = s.run(args);
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    ASSERT_TRUE(s.reference(std::string(c.reference) + " --test-picture '" + c.picture + "'",
                            "ref.pnm"));
    EXPECT_EQ(s.size_of("page.tif"), c.size);
    EXPECT_EQ(s.differing("page.tif", "ref.pnm"), "0");
  }
}

// Devices that deliver the colours one after another, that do not know the
// height, or that trickle their data: the same pixels as a plain device.
TEST(SaneBridge, ThreePassHandHeldAndSlowDevicesDeliverTheSamePage) {
  if (!have_sane_tools()) GTEST_SKIP() << "scanimage or ImageMagick missing";
  struct Case {
    const char* label;
    const char* options;
    const char* mode;
    const char* reference_args;
  };
  const Case cases[] = {
      {"three-pass", "three-pass true\nthree-pass-order GBR\n", "/RGB", "--mode Color"},
      {"hand scanner", "hand-scanner true\n", "/GRAY", "--mode Gray --hand-scanner=yes"},
      {"read limit and delay", "read-limit true\nread-limit-size 97\nread-delay true\n",
       "/GRAY", "--mode Gray"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    SaneRun s(std::string("test-picture \"Color pattern\"\n") + c.options);
    RunResult r = s.run({kDevice, c.mode, "page.tif"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    // The reference is a single-pass, fixed-height scan of the same picture.
    SaneRun plain("test-picture \"Color pattern\"\n");
    ASSERT_TRUE(plain.reference(std::string(c.reference_args) + " --test-picture 'Color pattern'",
                                "ref.pnm"));
    std::filesystem::copy_file(plain.at("ref.pnm"), s.at("ref.pnm"));
    EXPECT_EQ(s.differing("page.tif", "ref.pnm"), "0");
  }
}

// The test backend's feeder holds 10 sheets: a document of every page
// stops at its end; a page count stops before it.
TEST(SaneBridge, TheFeederStopsAtItsEndWithTheRightPageCount) {
  if (!have_tool("tiffinfo")) GTEST_SKIP() << "tiffinfo missing";
  struct Case {
    const char* count;
    int pages;
  };
  for (const Case& c : {Case{"/N", 10}, Case{"/N=4", 4}}) {
    SCOPED_TRACE(c.count);
    SaneRun s("resolution 25\n");
    RunResult r = s.run({kDevice, "/ADF", c.count, "/GRAY", "/TIFF+", "pages.tif"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(report_value(r.out, "PagesWritten"), std::to_string(c.pages)) << r.out;
    const std::string info = command_output("tiffinfo '" + s.at("pages.tif") + "' 2>&1");
    int pages = 0;
    for (std::size_t at = 0; (at = info.find("TIFF Directory at offset", at)) != std::string::npos;
         ++at)
      ++pages;
    EXPECT_EQ(pages, c.pages);
  }
}

// The scan area and resolution the application negotiated are the image's
// size. The test device takes its edges in whole millimetres unless its
// geometry has no steps: 0.5 + 2 inches wide is then 13 to 64 mm, 51 mm at
// 150 dpi 301 pixels (whole pixels, cut), 0.5 + 1.5 inches high 13 to 51 mm,
// 224 pixels; without steps exactly 300 x 225. Its bed is 200 mm square: A6
// (105 x 148 mm, TWAIN size 13) is one of its sizes, 413 x 582 pixels at
// 100 dpi.
TEST(SaneBridge, NegotiatedSettingsGiveTheImageSize) {
  if (!have_sane_tools()) GTEST_SKIP() << "scanimage or ImageMagick missing";
  const std::vector<std::string> area{"/R=150", "/X=0.5", "/Y=0.5", "/W=2", "/H=1.5"};
  struct Case {
    const char* options;
    std::vector<std::string> args;
    const char* size;
    const char* dpi;
  };
  const Case cases[] = {
      {"", area, "301x224 8", "150"},
      {"geometry_quant 0\n", area, "300x225 8", "150"},
      {"", {"/PAPER=13"}, "413x582 8", "100"},  // TWSS_A6
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    SaneRun s(c.options);
    std::vector<std::string> args{kDevice, "/GRAY"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("a.tif");
    RunResult r = s.run(args);
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(s.size_of("a.tif"), c.size);
    // The resolution travels in pixels per metre: 150 dpi comes back as 150.01.
    EXPECT_EQ(command_output("identify -units PixelsPerInch -format '%[fx:round(resolution.x)]' '" +
                             s.at("a.tif") + "'"),
              c.dpi);
  }
}

struct StatusCase {
  const char* label;
  std::vector<std::string> args;
  const char* options;
  int exit_status;
};

TEST(SaneBridge, DeviceStatusesEndTheRunAsTheFrontEndSays) {
  const StatusCase cases[] = {
      // The device offers 1..1200 dpi.
      {"resolution out of range", {"/R=2400"}, "", 252},
      {"paper jam", {}, "read-status-code \"SANE_STATUS_JAMMED\"\n", 211},
      {"cover open", {}, "read-status-code \"SANE_STATUS_COVER_OPEN\"\n", 213},
      {"cancelled on the device", {}, "read-status-code \"SANE_STATUS_CANCELLED\"\n", 2},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.label);
    SaneRun s(c.options);
    std::vector<std::string> args{kDevice};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("page.tif");
    RunResult r = s.run(args);
    EXPECT_EQ(r.exit_status, c.exit_status) << r.out << r.err;
    EXPECT_FALSE(file_exists(s.at("page.tif")));
  }
}

}  // namespace
