// Uploads and downloads against a real web server on 127.0.0.1
// (tests/helpers/http_recorder.py), which records what arrived: part names,
// file names, content types and checksums of the bytes, fields, headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../../http_recorder.h"
#include "../test_support.h"
#include "core/error_record.h"
#include "fileio/url_pages.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/multipage_files.h"
#include "orivane/upload_api.h"

namespace {

namespace fs = std::filesystem;
using test_tools::command_output;

std::string sha256_of(const std::string& path) {
  const std::string out = command_output("sha256sum '" + path + "'");
  return out.substr(0, out.find(' '));
}

std::string error_text() { return core::error_record().text; }

std::string response() {
  char text[1024];
  UPLOAD_GetResponse(text);
  return text;
}

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    folder_ = fs::temp_directory_path() / ("upload-test-" + std::to_string(getpid()));
    fs::create_directories(folder_ / "tmp");
    // The uploads' own temporary files go here, so that none can be missed.
    setenv("TMPDIR", (folder_ / "tmp").c_str(), 1);
    setenv("QUILLET_MODULE_PATH", build_folder().c_str(), 1);
    UPLOAD_EnableProgressBar(0);
    UPLOAD_SetTimeouts(5, 2);
    fileio::set_url_pages_loader(&DibArrayFromURL);
  }
  void TearDown() override {
    unsetenv("TMPDIR");
    unsetenv("QUILLET_MODULE_PATH");
    fs::remove_all(folder_);
    ResetForTests();
  }
  std::string file(const std::string& name, const std::string& bytes) const {
    const std::string path = (folder_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  bool no_temporary_files() const { return fs::is_empty(folder_ / "tmp"); }

  fs::path folder_;
};

TEST_F(UploadTest, FilesOfAListArriveAsNumberedPartsWithTheirTypesAndBytes) {
  HttpRecorder server;
  ASSERT_TRUE(server.running());
  const std::string a = file("a.tif", std::string(70000, 'a')), b = file("b.pdf", "%PDF-1.4 b"),
                    c = file("c.jpg", std::string("\xff\xd8\0\x01", 4));
  ASSERT_EQ(UPLOAD_AddFormField("user", "ann"), 1);
  ASSERT_EQ(UPLOAD_AddHeader("X-Scanner: left"), 1);
  ASSERT_EQ(UPLOAD_AddCookie("session=42"), 1);
  ASSERT_EQ(UPLOAD_FilesToURL((a + "; " + b + "|" + c).c_str(), server.url("/up").c_str(), ""), 0)
      << error_text();
  EXPECT_EQ(response(), "OK 4 parts");
  const std::vector<std::string> expected = {
      "PART file1 a.tif image/tiff 70000 " + sha256_of(a),
      "PART file2 b.pdf application/pdf 10 " + sha256_of(b),
      "PART file3 c.jpg image/jpeg 4 " + sha256_of(c),
  };
  EXPECT_EQ(server.lines("PART "), expected);
  EXPECT_EQ(server.lines("FIELD "), std::vector<std::string>{"FIELD user ann"});
  EXPECT_EQ(server.lines("HEADER X-Scanner: ").size(), 1u);
  EXPECT_EQ(server.lines("HEADER Cookie: session=42").size(), 1u);

  // Fields, header lines and cookies go with one upload only.
  server.clear_log();
  ASSERT_EQ(UPLOAD_FilesToURL(a.c_str(), server.url("/up").c_str(), "scan"), 0);
  EXPECT_EQ(server.lines("PART "), std::vector<std::string>{"PART scan1 a.tif image/tiff 70000 " + sha256_of(a)});
  EXPECT_TRUE(server.lines("FIELD ").empty());
  EXPECT_TRUE(server.lines("HEADER X-Scanner").empty());
  EXPECT_TRUE(server.lines("HEADER Cookie").empty());
}

TEST_F(UploadTest, ImagesAreWrittenInTheRemoteNamesFormatAndTheirFilesRemoved) {
  HttpRecorder server;
  ASSERT_TRUE(server.running());
  DIB_HANDLE pages[2] = {DIB_Create(2, 40, 30, 24), DIB_Create(2, 40, 30, 24)};
  ASSERT_EQ(UPLOAD_DibsToURLSeparately(pages, 2, server.url("/up").c_str(), "scan.png", "img"), 0)
      << error_text();
  std::vector<std::string> parts = server.lines("PART ");
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].rfind("PART img1 scan1.png image/png ", 0), 0u) << parts[0];
  EXPECT_EQ(parts[1].rfind("PART img2 scan2.png image/png ", 0), 0u) << parts[1];
  EXPECT_TRUE(no_temporary_files());

  server.clear_log();
  ASSERT_EQ(UPLOAD_DibsToURL(pages, 2, server.url("/up").c_str(), "doc.tif", nullptr), 0) << error_text();
  parts = server.lines("PART ");
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].rfind("PART file doc.tif image/tiff ", 0), 0u) << parts[0];
  EXPECT_TRUE(no_temporary_files());
  for (DIB_HANDLE p : pages) DIB_Free(p);
}

TEST_F(UploadTest, BadRequestsAreRefusedWithTheirErrors) {
  DIB_HANDLE page = DIB_Create(2, 8, 8, 24);
  struct Case {
    const char* what;
    int result;
    int error;
    int (*call)(DIB_HANDLE);
  };
  const Case cases[] = {
      {"remote name of no format", -3, ERR_BAD_PARAMETER,
       [](DIB_HANDLE p) { return UPLOAD_DibToURL(p, "http://127.0.0.1:1/", "scan.xyz", "f"); }},
      {"no remote name", -3, ERR_BAD_PARAMETER,
       [](DIB_HANDLE p) { return UPLOAD_DibToURL(p, "http://127.0.0.1:1/", nullptr, "f"); }},
      {"empty URL", -3, ERR_BAD_PARAMETER, [](DIB_HANDLE p) { return UPLOAD_DibToURL(p, "", "a.png", "f"); }},
      {"no images", -3, ERR_BAD_PARAMETER,
       [](DIB_HANDLE p) { return UPLOAD_DibsToURL(&p, 0, "http://127.0.0.1:1/", "a.png", "f"); }},
      {"empty path in the list", -5, ERR_BAD_FILENAME,
       [](DIB_HANDLE) { return UPLOAD_FilesToURL("a.tif;;b.tif", "http://127.0.0.1:1/", ""); }},
      {"path too long", -5, ERR_BAD_FILENAME,
       [](DIB_HANDLE) { return UPLOAD_FilesToURL(std::string(300, 'p').c_str(), "http://127.0.0.1:1/", ""); }},
      {"nobody listening", -107, ERR_FILE_TRANSFER,
       [](DIB_HANDLE) { return UPLOAD_FilesToURL("/etc/hostname", "http://127.0.0.1:1/", ""); }},
      {"URL of 100,000 characters", -107, ERR_FILE_TRANSFER, [](DIB_HANDLE) {
         return UPLOAD_FilesToURL("/etc/hostname", ("http://127.0.0.1:1/" + std::string(100000, 'u')).c_str(), "");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(page), c.result);
    EXPECT_EQ(TWAIN_LastErrorCode(), c.error) << error_text();
    EXPECT_TRUE(no_temporary_files());
  }
  DIB_Free(page);

  core::error_clear();
  for (int i = 0; i < 128; ++i) ASSERT_EQ(UPLOAD_AddFormField("f", "v"), 1);
  EXPECT_EQ(UPLOAD_AddFormField("f", "v"), 0);
  EXPECT_NE(error_text().find("too many AddFormFields"), std::string::npos) << error_text();
}

TEST_F(UploadTest, DownloadsLoadTheirPagesFromTheStartAsked) {
  const std::string served = (folder_ / "served").string();
  fs::create_directories(served);
  DIB_HANDLE pages[2] = {DIB_Create(2, 40, 30, 24), DIB_Create(1, 50, 20, 8)};
  ASSERT_EQ(DIB_WriteArrayToFilename(pages, 2, (served + "/two.tif").c_str()), 0);
  for (DIB_HANDLE p : pages) DIB_Free(p);
  HttpRecorder server(served);
  ASSERT_TRUE(server.running());
  const std::string url = server.url("/file/two.tif");

  DIB_HANDLE got[5] = {1, 1, 1, 1, 1};
  EXPECT_EQ(DibArrayFromURL(url.c_str(), got, 1, 5), 1) << error_text();
  EXPECT_EQ(DIB_Width(got[0]), 50);
  for (int i = 1; i < 5; ++i) EXPECT_EQ(got[i], 0u);
  DIB_Free(got[0]);
  EXPECT_EQ(DibArrayFromURL(url.c_str(), got, 0, 5), 2);
  DIB_Free(got[0]);
  DIB_Free(got[1]);
  EXPECT_EQ(DibArrayFromURL(url.c_str(), got, 3, 1), -1);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_NOT_ENOUGH_PAGES);

  // The file loaders take URL names too.
  DIB_HANDLE second = DIB_LoadPage(("  " + url).c_str(), 1);
  EXPECT_EQ(DIB_Width(second), 50) << error_text();
  DIB_Free(second);
}

TEST_F(UploadTest, HostileServersEndInAFailureWithinTheLimits) {
  HttpRecorder server;
  ASSERT_TRUE(server.running());
  UPLOAD_SetMaxDownloadBytes(1 << 20);
  struct Case {
    const char* path;
    int result;
  };
  const Case cases[] = {
      {"/hang", -128},
      {"/huge", -163},
      {"/endless", -163},
      {"/loop", -147},
      {"/error500", -122},
      {"/file/none", 0},  // a post there is taken
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    DIB_HANDLE got[1] = {0};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DibArrayFromURL(server.url(c.path).c_str(), got, 0, 1), -1);
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FILE_TRANSFER);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(got[0], 0u);
    // The same through an upload, whose result carries libcurl's code.
    if (c.result != 0) EXPECT_EQ(UPLOAD_FilesToURL("/etc/hostname", server.url(c.path).c_str(), ""), c.result)
        << error_text();
  }
  // A server's refusal keeps its text for the caller.
  EXPECT_EQ(UPLOAD_FilesToURL("/etc/hostname", server.url("/error500").c_str(), ""), -122);
  EXPECT_EQ(response(), "server broke");
}

TEST_F(UploadTest, CertificatesAreVerifiedUnlessTurnedOffOnPurpose) {
  if (!test_tools::have_tool("openssl")) GTEST_SKIP() << "openssl is not installed";
  HttpRecorder server("", true);
  ASSERT_TRUE(server.running());
  const std::string url = server.url("/up");
  EXPECT_EQ(UPLOAD_FilesToURL("/etc/hostname", url.c_str(), ""), -160);
  EXPECT_NE(std::string(error_text()).find("certificate"), std::string::npos) << error_text();
  ASSERT_EQ(UPLOAD_SetCertificateFile(server.ca_file().c_str()), 1);
  EXPECT_EQ(UPLOAD_FilesToURL("/etc/hostname", url.c_str(), ""), 0) << error_text();
  UPLOAD_SetCertificateFile("");
  UPLOAD_SetVerifyPeer(0);
  EXPECT_EQ(UPLOAD_FilesToURL("/etc/hostname", url.c_str(), ""), 0) << error_text();
  EXPECT_EQ(server.lines("PART ").size(), 2u);
}

TEST_F(UploadTest, AProxyCarriesTheRequestWithItsCredentials) {
  // The recorder answers a proxy's requests too: it sees the whole URL of a
  // host that does not exist, and the proxy credentials.
  HttpRecorder proxy;
  ASSERT_TRUE(proxy.running());
  UPLOAD_SetProxy(proxy.url("").c_str(), "ann:secret", 0);
  EXPECT_EQ(UPLOAD_FilesToURL("/etc/hostname", "http://scans.invalid/inbox", ""), 0) << error_text();
  EXPECT_EQ(proxy.lines("REQUEST POST http://scans.invalid/inbox").size(), 1u) << proxy.log();
  EXPECT_EQ(proxy.lines("HEADER Proxy-Authorization: Basic YW5uOnNlY3JldA==").size(), 1u) << proxy.log();
  UPLOAD_SetProxy(nullptr, nullptr, 0);
  EXPECT_LT(UPLOAD_FilesToURL("/etc/hostname", "http://scans.invalid/inbox", ""), 0);
}

std::vector<std::string> g_told;

TEST_F(UploadTest, TheProgressCallbackFollowsTheTransfer) {
  HttpRecorder server;
  ASSERT_TRUE(server.running());
  g_told.clear();
  UPLOAD_SetProgressCallback([](const char* text, intptr_t user) { g_told.push_back(text + std::to_string(user)); },
                             7);
  const std::string a = file("a.tif", std::string(300000, 'a'));
  ASSERT_EQ(UPLOAD_FilesToURL(a.c_str(), server.url("/up").c_str(), ""), 0);
  ASSERT_GE(g_told.size(), 4u);
  EXPECT_EQ(g_told.front(), "started:3000007");
  EXPECT_NE(std::find(g_told.begin(), g_told.end(), "progress:100%7"), g_told.end());
  EXPECT_EQ(g_told[g_told.size() - 2], "stopped7");
  EXPECT_EQ(g_told.back(), "server response:7");
}

}  // namespace
