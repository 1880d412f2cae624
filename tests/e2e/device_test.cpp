// Opening the device a script names and applying its settings: which device
// a name opens, which refusals stop the run (exit 252) and which only warn,
// and the order the settings reach the device in, as the trace shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

// A run with its own home, temporary and runtime folder (the trace log) and
// virtual scanner devices; messages go to standard error.
struct DeviceRun {
  explicit DeviceRun(const std::string& config) : home(make_temp_folder()) {
    env["HOME"] = home;
    env["TMPDIR"] = home;
    env["XDG_RUNTIME_DIR"] = home;
    env["QUILLET_UI"] = "none";
    const std::string path = home + "/vscan.ini";
    std::ofstream(path) << config;
    env["QUILLET_VSCAN"] = path;
  }
  RunResult run(const std::vector<std::string>& args) { return run_quillet(args, env); }
  std::string log() { return read_file(home + "/orivane.log"); }

  std::string home;
  std::map<std::string, std::string> env;
};

std::string devices(const std::vector<std::string>& products) {
  std::string config;
  for (const std::string& p : products) config += "[device]\nproduct = " + p + "\n";
  return config;
}

bool has_key(const std::string& report, const std::string& key) {
  for (const std::string& line : report_lines(report))
    if (line.rfind(key + "=", 0) == 0) return true;
  return false;
}

// Whether `parts` occur in `text` in this order; names the first one missing.
testing::AssertionResult in_order(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    const std::size_t found = text.find(part, at);
    if (found == std::string::npos)
      return testing::AssertionFailure() << "'" << part << "' missing (or out of order) in\n" << text;
    at = found + part.size();
  }
  return testing::AssertionSuccess();
}

// ---- which device a name opens ---------------------------------------------

struct NameCase {
  std::string label;
  std::vector<std::string> products;
  std::string name;
  std::string opened;   // empty: none
  std::string message;  // on standard error when none is opened
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class DeviceName : public testing::TestWithParam<NameCase> {};

TEST_P(DeviceName, KeepWarmOpensTheMatchingDevice) {
  const NameCase& c = GetParam();
  DeviceRun device(devices(c.products));
  RunResult r = device.run({"/KEEPWARM", "/S=" + c.name});
  if (!c.opened.empty()) {
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(report_value(r.out, "Source"), c.opened) << r.out;
    EXPECT_EQ(report_value(r.out, "State"), "3") << "the device is closed again";
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_EQ(r.exit_status, 255) << r.out << r.err;
    EXPECT_FALSE(has_key(r.out, "Source")) << r.out;
    EXPECT_EQ(report_value(r.out, "State"), "3");
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Matching, DeviceName,
    testing::Values(
        NameCase{"exact_wins_over_earlier_partial", {"Model A Plus", "Model A"}, "model a", "Model A",
                 ""},
        NameCase{"partial_single", {"Model A Plus", "Other"}, "a plus", "Model A Plus", ""},
        NameCase{"ordinary_before_wia", {"WIA-Model A", "Model A"}, "Model", "Model A", ""},
        NameCase{"wia_only", {"WIA-Model A", "Other"}, "model", "WIA-Model A", ""},
        NameCase{"two_ordinary", {"Model A", "Model B"}, "Model", "",
                 "Multiple TWAIN devices match 'Model'"},
        NameCase{"two_wia_one_ordinary", {"Model A", "WIA-Model A", "WIA-Model B"}, "Model", "",
                 "Multiple TWAIN devices match 'Model'"},
        NameCase{"exact_after_two_wia", {"WIA-Model A", "WIA-Model B", "Model A"}, "MODEL A",
                 "Model A", ""},
        NameCase{"none", {"Model A"}, "Scanner", "", "No TWAIN device matches 'Scanner'"}),
    [](const testing::TestParamInfo<NameCase>& info) { return info.param.label; });

TEST(DeviceName, NoMatchEndsAScanWith255) {
  DeviceRun device(devices({"Model A"}));
  RunResult r = device.run({"/S=Nowhere"});
  EXPECT_EQ(r.exit_status, 255) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "Exit"), "255");
  EXPECT_NE(r.err.find("No TWAIN device matches 'Nowhere'"), std::string::npos) << r.err;
  EXPECT_EQ(report_value(r.out, "Error"), "No TWAIN device matches 'Nowhere'") << r.out;

  // More than one match: the report says so too.
  DeviceRun two(devices({"Model A", "Model B"}));
  RunResult ambiguous = two.run({"/S=Model"});
  EXPECT_EQ(ambiguous.exit_status, 255) << ambiguous.out << ambiguous.err;
  EXPECT_EQ(report_value(ambiguous.out, "Error"), "Multiple TWAIN devices match 'Model': Model A, Model B")
      << ambiguous.out;
}

// ---- what a refusal does -----------------------------------------------------

struct RefusalCase {
  std::string label;
  std::string config;  // one device, "Model A"
  std::vector<std::string> args;
  int exit_status;
  std::string message;  // on standard error; empty: nothing at all
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.label; }

class DeviceSettings : public testing::TestWithParam<RefusalCase> {};

TEST_P(DeviceSettings, RefusalsStopOrWarn) {
  const RefusalCase& c = GetParam();
  DeviceRun device("[device]\nproduct = Model A\nfeeder_sheets = 2\n" + c.config);
  std::vector<std::string> args{"/S=Model A"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  args.push_back(device.home + "/page.bmp");
  RunResult r = device.run(args);
  EXPECT_EQ(r.exit_status, c.exit_status) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "Source"), "Model A");
  if (c.exit_status == 252) EXPECT_EQ(report_value(r.out, "State"), "4") << "the device stays open";
  if (c.message.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find("Quillet: " + c.message), std::string::npos) << r.err;
  }
  // A refusal that ends the run is the report's reason, as it was shown (its
  // line end a blank); a refusal the run goes on after is no failure.
  if (c.exit_status == 0) {
    EXPECT_FALSE(has_key(r.out, "Error")) << r.out;
  } else {
    std::string shown = c.message;
    std::replace(shown.begin(), shown.end(), '\n', ' ');
    EXPECT_EQ(report_value(r.out, "Error"), shown) << r.out;
  }
  if (c.exit_status == 0) EXPECT_NE(report_value(r.out, "PagesWritten"), "0") << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, DeviceSettings,
    testing::Values(
        RefusalCase{"accepted", "", {"/GRAY", "/R=300", "/ADF", "/DUPLEX"}, 0, ""},
        RefusalCase{"resolution",
                    "refuse_values = ICAP_XRESOLUTION:300\n",
                    {"/R=300"},
                    252,
                    "Unable to set resolution to 300.0\nDevice rejected setting. Note: Setting "
                    "Resolution (Not a valid value)"},
        RefusalCase{"region_without_size", "", {"/X=1", "/Y=1"}, 252,
                    "Image Layout: Please specify width > 0"},
        RefusalCase{"region_without_height", "", {"/X=1", "/Y=1", "/W=2"}, 252,
                    "Image Layout: Please specify height > 0"},
        RefusalCase{"depth_24_falls_back_to_8",
                    "pixel_type = gray\nbitdepths_gray = 16, 24, 8\nrefuse_values = ICAP_BITDEPTH:24\n",
                    {"/D=24"},
                    0,
                    ""},
        RefusalCase{"depth_8_has_no_fallback",
                    "pixel_type = rgb\nbitdepths_rgb = 24, 8\nrefuse_values = ICAP_BITDEPTH:8\n",
                    {"/D=8"},
                    252,
                    "/D=8 rejected by device"},
        RefusalCase{"pixel_type", "pixel_types = bw, gray\n", {"/RGB"}, 252,
                    "Device declined to program: /RGB"},
        // A device that just says no records nothing; its refusal is shown anyway.
        RefusalCase{"no_feeder", "feeder = no\n", {"/ADF"}, 252, "Device declined to select Feeder."},
        RefusalCase{"feeder_locked_on", "feeder_locked = yes\nfeeder_enabled = yes\n", {"/ADF"}, 0,
                    ""},
        RefusalCase{"feeder_locked_off", "feeder_locked = yes\nfeeder_enabled = yes\n",
                    {"/FLATBED"}, 252, "Device declined to select flatbed."},
        RefusalCase{"duplex_is_a_warning", "refuse_values = CAP_DUPLEXENABLED:1\n", {"/DUPLEX", "/N=2"}, 0,
                    "Device refused duplex setting."},
        // A device without duplex: the run plans one side and never asks.
        RefusalCase{"duplex_unsupported_is_dropped", "duplex = none\n", {"/DUPLEX"}, 0, ""},
        RefusalCase{"simplex_refused_is_silent", "duplex = none\n", {"/SIMPLEX"}, 0, ""}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.label; });

// ---- the order and content of the negotiation ---------------------------------

struct TraceCase {
  std::string label;
  std::string config;
  std::vector<std::string> args;
  std::vector<std::string> in_order;  // trace texts, in this order
  std::vector<std::string> absent;    // trace texts that must not occur
};

void PrintTo(const TraceCase& c, std::ostream* os) { *os << c.label; }

class DeviceNegotiation : public testing::TestWithParam<TraceCase> {};

TEST_P(DeviceNegotiation, TheTraceShowsTheSteps) {
  const TraceCase& c = GetParam();
  DeviceRun device("[device]\nproduct = Model A\nfeeder_sheets = 2\n" + c.config);
  std::vector<std::string> args{"/S=Model A", "/LOG"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  args.push_back(device.home + "/page.bmp");
  RunResult r = device.run(args);
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  const std::string log = device.log();
  // Only what ApplySettings did: the settings made at the open come first.
  const std::size_t start = log.find("TWAIN_SetHideUI(");
  ASSERT_NE(start, std::string::npos) << log;
  const std::string applied = log.substr(start);
  EXPECT_TRUE(in_order(applied, c.in_order));
  for (const std::string& text : c.absent)
    EXPECT_EQ(applied.find(text), std::string::npos) << text << "\n" << applied;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, DeviceNegotiation,
    testing::Values(
        // Each type is set with its default depth, then both go as one
        // enumeration with the highest current.
        TraceCase{"gray_and_rgb",
                  "bitdepths_gray = 16, 8\nbitdepths_rgb = 48, 24\n",
                  {"/GRAY", "/RGB"},
                  {"SetPixelType(1)", "MSG_SET/ICAP_BITDEPTH)(ONEVALUE(uint16: 8))", "SetPixelType(2)",
                   "MSG_SET/ICAP_BITDEPTH)(ONEVALUE(uint16: 24))",
                   "MSG_SET/ICAP_PIXELTYPE)(ENUM(uint16: 1,*2 "},
                  {}},
        TraceCase{"depth_24_refused_takes_8",
                  "pixel_type = gray\nbitdepths_gray = 16, 24, 8\nrefuse_values = ICAP_BITDEPTH:24\n",
                  {"/D=24"},
                  {"SetBitDepth(24)", "MSG_SET/ICAP_BITDEPTH)(ONEVALUE(uint16: 24))", "FAILURE",
                   "SetBitDepth(8)", "MSG_SET/ICAP_BITDEPTH)(ONEVALUE(uint16: 8))", "SUCCESS"},
                  {}},
        // One page is one side: duplex is switched off before it is negotiated.
        TraceCase{"one_page_is_simplex",
                  "",
                  {"/N=1", "/DUPLEX"},
                  {"EnableDuplex(0)"},
                  {"EnableDuplex(1)"}},
        TraceCase{"units_before_resolution",
                  "",
                  {"/R=100", "/CM"},
                  {"SetCurrentUnits => 1", "MSG_SET/ICAP_UNITS)(ONEVALUE(uint16: 1))",
                   "SetResolution(100)"},
                  {}},
        TraceCase{"units_alone_are_not_negotiated",
                  "",
                  {"/CM"},
                  {"ResetImageLayout"},
                  {"SetCurrentUnits"}},
        TraceCase{"region_in_its_units",
                  "",
                  {"/CM", "/X=1", "/Y=2", "/W=3", "/H=4"},
                  {"SetCurrentUnits => 1", "SetRegion(1, 2, 4, 6)"},
                  {"ResetImageLayout"}}),
    [](const testing::TestParamInfo<TraceCase>& info) { return info.param.label; });

}  // namespace
