// The image tool's printers and print against a CUPS scheduler of the test's
// own (tests/cups_server.h).
#include <gtest/gtest.h>

#include <string>

#include "../cups_server.h"
#include "../tool_support.h"
#include "run_program.h"

namespace {

TEST(PrintTool, ListsDestinationsAndPrintsEveryPageOfAFile) {
  CupsServer cups({"capq", "other"});
  if (!cups.running()) GTEST_SKIP() << "needs cupsd and root";
  RunResult r = run_orivane({"printers"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "capq\nother\n");

  const std::string folder = make_temp_folder();
  const std::string png = std::string(QUILLET_SOURCE_DIR) + "/tests/fuzz/corpus/fuzz_load_png/rgb_40x40.png";
  test_tools::command_output("convert '" + png + "' '" + png + "' '" + folder + "/two.tif'");
  r = run_orivane({"print", folder + "/two.tif", "other"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  ASSERT_EQ(r.out.rfind("job ", 0), 0u) << r.out;
  const std::string sent = cups.job_file(std::stoi(r.out.substr(4)));
  EXPECT_NE(test_tools::command_output("pdfinfo '" + sent + "'").find("Pages:           2"), std::string::npos);

  r = run_orivane({"print", folder + "/two.tif", "nonesuch"});
  EXPECT_NE(r.exit_status, 0);
  EXPECT_NE(r.err.find("nonesuch"), std::string::npos) << r.err;
  test_tools::command_output("rm -rf '" + folder + "'");
}

}  // namespace
