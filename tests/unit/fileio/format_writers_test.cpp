// The format writers in front of the codec modules, seen through what a
// caller gets back and what the trace shows: the order of their checks, the
// error each records for a bad image, a missing module and a missing name,
// which of them show their failure to the user, and the converted copies
// written for depths a format cannot hold.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "../dib/dib_test_support.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/trace_log.h"

namespace {

using namespace dib_test;
namespace fs = std::filesystem;

struct Writer {
  const char* name;  // as in DIB_WriteTo<name>
  int32_t (*write)(DIB_HANDLE, const char*);
  const char* module;
  bool dib_call;            // the call is traced as a DIB_ call
  const char* lock_failed;  // traced for an image that cannot be locked ("" none)
  bool reports;             // shows its failure to the user, which clears the record
  int load_error;           // recorded when the module is missing
  const char* load_text;    // the text recorded with it
};

const std::vector<Writer>& writers() {
  static const std::vector<Writer> all = {
      {"Jpeg", DIB_WriteToJpeg, "OrvJpeg", true, "** Lock failed on hdib\n", false, ERR_JPEG_LIBRARY,
       "OrvJpeg.DLL not found or failed to load."},
      {"Tiff", DIB_WriteToTiff, "OrvTiff", true, "**Lock failed!", true, ERR_TIFF_LIBRARY,
       "TIFF I/O failure: Could not load OrvTiff.dll."},
      {"Png", DIB_WriteToPng, "OrvPng", true, "", false, ERR_LIBRARY_LOAD,
       "DLL not found or could not load: OrvPng.dll."},
      {"Gif", DIB_WriteToGif, "OrvGif", true, "", false, ERR_LIBRARY_LOAD,
       "DLL not found or could not load: OrvGif.dll\n"},
      {"Dcx", DIB_WriteToDcx, "OrvDcx", true, "**Lock failed!", false, ERR_DCX_LIBRARY,
       "DCX I/O failure: Could not load OrvDcx.dll."},
      {"Pdf", DIB_WriteToPdf, "OrvPdf", false, "", true, ERR_PDF_LIBRARY, "OrvPdf.dll: requires matching OrvJpeg.dll"},
  };
  return all;
}

bool module_built(const std::string& name) { return fs::exists(build_folder() + "/" + name + ".so"); }

// Each test gets its own folder, its trace in a log file there, and the
// modules of the build (or none).
class FormatWriterTest : public DibTest {
 protected:
  void SetUp() override {
    DibTest::SetUp();
    char tmpl[] = "/tmp/fileio-writers-XXXXXX";
    dir_ = mkdtemp(tmpl);
    fs::create_directory(dir_ + "/none");
    if (const char* m = std::getenv("QUILLET_MODULE_PATH")) old_modules_ = m;
    use_modules(build_folder());
    TWAIN_SetLogFolder(dir_.c_str());
    TWAIN_LogFile(1);
    TWAIN_SuppressErrorMessages(1);
  }
  void TearDown() override {
    LogResetForTests();
    fileio::codec_modules_reset_for_tests();
    if (old_modules_) setenv("QUILLET_MODULE_PATH", old_modules_->c_str(), 1);
    else unsetenv("QUILLET_MODULE_PATH");
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    DibTest::TearDown();
  }
  void use_modules(const std::string& folder) {
    fileio::codec_modules_reset_for_tests();
    setenv("QUILLET_MODULE_PATH", folder.c_str(), 1);
  }
  // The trace written while `f` runs.
  template <typename F>
  std::string traced(F&& f) {
    LogFlush();
    const std::size_t before = read_file(LogFullPath()).size();
    f();
    LogFlush();
    return read_file(LogFullPath()).substr(before);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::optional<std::string> old_modules_;
};

bool has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

TEST_F(FormatWriterTest, AnImageThatCannotBeLockedIsRefusedFirst) {
  for (const Writer& w : writers()) {
    SCOPED_TRACE(w.name);
    TWAIN_ClearError();
    const std::string name = path(std::string("bad.") + w.name);
    int rc = 0;
    const std::string trace = traced([&] { rc = w.write(0, name.c_str()); });
    EXPECT_EQ(rc, -3);
    EXPECT_TRUE(has(trace, std::string("WriteTo") + w.name + "(0x0, \"" + name + "\")\n")) << trace;
    EXPECT_EQ(has(trace, std::string("DIB_WriteTo") + w.name + "(0x0"), w.dib_call) << trace;
    EXPECT_TRUE(has(trace, std::string("** RecordError: Internal problem: Bad Dib detected (DIB_WriteTo") + w.name +
                               ")\n"))
        << trace;
    if (*w.lock_failed) {
      EXPECT_TRUE(has(trace, w.lock_failed)) << trace;
    } else {
      EXPECT_FALSE(has(trace, "ock failed")) << trace;
    }
    EXPECT_FALSE(has(trace, "Loaded")) << "the lock comes before the module: " << trace;
    EXPECT_EQ(has(trace, "TWAIN_ReportLastError"), w.reports) << trace;
    EXPECT_EQ(TWAIN_LastErrorCode(), w.reports ? 0 : ERR_BAD_DIB);
    EXPECT_FALSE(fs::exists(name));
  }
}

TEST_F(FormatWriterTest, AMissingModuleIsRecordedInItsWriterOwnWords) {
  use_modules(dir_ + "/none");
  Owned img(make_image(8, 7, 5));
  for (const Writer& w : writers()) {
    SCOPED_TRACE(w.name);
    TWAIN_ClearError();
    const std::string name = path(std::string("a.") + w.name);
    int rc = 0;
    const std::string trace = traced([&] { rc = w.write(img.get(), name.c_str()); });
    EXPECT_EQ(rc, -3);
    EXPECT_TRUE(has(trace, std::string("** RecordError: ") + w.load_text)) << trace;
    EXPECT_EQ(has(trace, "TWAIN_ReportLastError"), w.reports) << trace;
    EXPECT_EQ(TWAIN_LastErrorCode(), w.reports ? 0 : w.load_error);
    EXPECT_FALSE(has(trace, "ResetPdfDefaults")) << trace;
  }
}

TEST_F(FormatWriterTest, AnEmptyNameIsRefusedOnceTheModuleIsThere) {
  Owned img(make_image(8, 7, 5));
  for (const Writer& w : writers()) {
    if (!module_built(w.module)) continue;
    SCOPED_TRACE(w.name);
    IsFileFormatAvailable((std::string("x.") + w.name).c_str());  // loaded before the trace
    TWAIN_ClearError();
    int rc = 0;
    const std::string trace = traced([&] { rc = w.write(img.get(), ""); });
    EXPECT_EQ(rc, -2);
    EXPECT_TRUE(has(trace, "** RecordError: Not a valid filename: ''\n")) << trace;
    EXPECT_EQ(has(trace, "TWAIN_ReportLastError"), w.reports) << trace;
    EXPECT_EQ(TWAIN_LastErrorCode(), w.reports ? 0 : ERR_BAD_FILENAME);
    // OrvPdf's creator and producer go back to the library's own after every
    // use, once the failure has been shown.
    const std::size_t reset = trace.rfind("ResetPdfDefaults");
    EXPECT_EQ(reset != std::string::npos, std::string(w.name) == "Pdf") << trace;
    if (reset != std::string::npos) {
      EXPECT_LT(trace.find("TWAIN_ReportLastError"), reset);
    }
  }
}

TEST_F(FormatWriterTest, DepthsAFormatCannotHoldGoThroughACopy) {
  struct Case {
    int format;
    const char* module;
    int depth;
    const char* copy_trace;  // "" when the image is written as it is
  };
  const Case cases[] = {
      {FF_JPEG, "OrvJpeg", 1, "WriteToJpeg: widening 1-bit image to 8-bit gray\n"},
      {FF_JPEG, "OrvJpeg", 8, ""},
      {FF_GIF, "OrvGif", 24, "WriteToGif: freeing "},
      {FF_GIF, "OrvGif", 8, ""},
      {FF_DCX, "OrvDcx", 8, "WriteToDcx: freeing "},
      {FF_DCX, "OrvDcx", 1, ""},
      {FF_PNG, "OrvPng", 24, ""},
  };
  for (const Case& c : cases) {
    if (!module_built(c.module)) continue;
    SCOPED_TRACE(std::string(c.module) + " " + std::to_string(c.depth));
    Owned img(make_image(c.depth, 9, 4));
    const std::string name = path("d" + std::to_string(c.depth) + FormatExtension(c.format, ""));
    int rc = -1;
    const std::string trace = traced([&] { rc = DIB_WriteToFilename(img.get(), name.c_str()); });
    ASSERT_EQ(rc, 0) << error_text();
    if (*c.copy_trace) {
      EXPECT_TRUE(has(trace, c.copy_trace)) << trace;
    }
    EXPECT_EQ(has(trace, "DIB_ConvertToFormat("), *c.copy_trace != '\0') << trace;
    EXPECT_EQ(has(trace, ": freeing "), *c.copy_trace != '\0') << trace;
  }
}

}  // namespace
