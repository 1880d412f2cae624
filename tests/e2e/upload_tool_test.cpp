// The image tool's upload and fetch against a real web server on 127.0.0.1,
// and what a program without libcurl says.
#include <gtest/gtest.h>

#include <string>

#include "../http_recorder.h"
#include "../tool_support.h"
#include "run_program.h"

namespace {

using test_tools::command_output;

TEST(UploadTool, PostsFilesWithFieldsAndFetchesAMultipageFile) {
  const std::string folder = make_temp_folder();
  ASSERT_EQ(run_orivane({"convert", std::string(QUILLET_SOURCE_DIR) + "/tests/fuzz/corpus/fuzz_load_png/rgb_40x40.png",
                         folder + "/a.png"})
                .exit_status,
            0);
  command_output("convert '" + folder + "/a.png' '" + folder +
                 "/a.png' '" + folder + "/two.tif'");
  HttpRecorder server(folder);
  ASSERT_TRUE(server.running());

  RunResult r = run_orivane({"upload", "--field", "img", "--form", "who=me", server.url("/up"), folder + "/a.png",
                             folder + "/two.tif"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "OK 3 parts\n");
  EXPECT_EQ(server.lines("FIELD "), std::vector<std::string>{"FIELD who me"});
  const std::vector<std::string> parts = server.lines("PART ");
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].rfind("PART img1 a.png image/png ", 0), 0u);
  EXPECT_EQ(parts[1].rfind("PART img2 two.tif image/tiff ", 0), 0u);

  r = run_orivane({"fetch", server.url("/file/two.tif"), folder + "/back.pdf"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(command_output("pdfinfo '" + folder + "/back.pdf'").find("Pages:           2"), std::string::npos);

  r = run_orivane({"fetch", server.url("/error500"), folder + "/none.tif"});
  EXPECT_NE(r.exit_status, 0);
  EXPECT_NE(r.err.find("500"), std::string::npos) << r.err;
  EXPECT_FALSE(file_exists(folder + "/none.tif"));

  const std::string without = command_output("QUILLET_CURL_LIBRARY=/nonexistent/libcurl.so.4 '" + orivane_program() +
                                             "' upload " + server.url("/up") + " '" + folder + "/a.png' 2>&1; echo rc=$?");
  EXPECT_NE(without.find("Could not load OrvCurl.dll"), std::string::npos) << without;
  EXPECT_EQ(without.find("rc=0"), std::string::npos) << without;
  command_output("rm -rf '" + folder + "'");
}

}  // namespace
