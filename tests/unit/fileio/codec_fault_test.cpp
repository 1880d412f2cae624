// A codec module that crashes does not take the process with it: writers,
// loaders and the multipage calls come back with their failure, the fault
// recorded, nothing half-written under the user's name, and the library
// usable afterwards. The crashing module (tests/helpers/crashing_codec.cpp)
// stands in for OrvPng and OrvDcx.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "../dib/dib_test_support.h"
#include "core/error_record.h"
#include "fileio/codec_modules.h"
#include "fileio/multipage.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"

namespace {

using namespace dib_test;
namespace fs = std::filesystem;

class CodecFaultTest : public DibTest {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/codec-fault-XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("QUILLET_MODULE_PATH", (build_folder() + "/tests/crashing_codecs").c_str(), 1);
    DibTest::SetUp();
    fileio::codec_modules_reset_for_tests();
    TWAIN_SuppressErrorMessages(1);
    TWAIN_SetLazyWriting(0);
  }
  void TearDown() override {
    unsetenv("QUILLET_TEST_CRASH");
    fileio::multipage_reset_for_tests();
    TWAIN_SetMultipageFormat(MPF_TIFF);
    TWAIN_SetLazyWriting(1);
    fileio::codec_modules_reset_for_tests();
    DibTest::TearDown();
    unsetenv("QUILLET_MODULE_PATH");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  // The next call into a module faults in `entry`; the record starts empty.
  void crash_in(const char* entry) {
    setenv("QUILLET_TEST_CRASH", entry, 1);
    TWAIN_ClearError();
  }
  void expect_fault(const char* context) {
    EXPECT_EQ(core::error_record().code, ERR_FAILURE);
    EXPECT_NE(core::error_record().text.find(context), std::string::npos) << core::error_record().text;
  }
  bool only_files(std::initializer_list<const char*> names) {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir_)) {
      ++n;
      if (std::find(names.begin(), names.end(), e.path().filename().string()) == names.end()) return false;
    }
    return n == names.size();
  }

  std::string dir_;
};

TEST_F(CodecFaultTest, AFaultInsideAWriterIsCaught) {
  Owned page(make_image(8, 40, 30));
  for (const char* name : {"page.png", "page.dcx"}) {
    SCOPED_TRACE(name);
    crash_in("BmiWriteToFile");
    EXPECT_EQ(DIB_WriteToFilename(page.get(), path(name).c_str()), -5);
    expect_fault("WriteToFilename");
    EXPECT_TRUE(only_files({})) << "a half-written file stayed";
    EXPECT_TRUE(DIB_IsValid(page.get()));
    // The same module writes again once it stops crashing.
    unsetenv("QUILLET_TEST_CRASH");
    EXPECT_EQ(DIB_WriteToFilename(page.get(), path(name).c_str()), 0);
    EXPECT_TRUE(only_files({name}));
    fs::remove(path(name));
  }
  // The buffer writers go through the same guarded writer.
  crash_in("BmiWriteToFile");
  EXPECT_EQ(DIB_WriteToBuffer(page.get(), FF_PNG, nullptr, 0), 0u);
  expect_fault("WriteToFilename");
}

TEST_F(CodecFaultTest, AFaultInsideALoaderIsCaught) {
  std::ofstream(path("in.png"), std::ios::binary) << "\x89PNG\r\n\x1a\n rest of a picture";
  std::ofstream(path("in.dcx"), std::ios::binary) << "\xb1\x68\xde\x3a rest of a document";
  const std::string png = path("in.png"), dcx = path("in.dcx");
  crash_in("DibFromFile");
  EXPECT_EQ(DIB_LoadFromFilename(png.c_str()), 0u);
  expect_fault("LoadFromFilename");
  TWAIN_ClearError();
  EXPECT_EQ(DIB_LoadPage(dcx.c_str(), 0), 0u);
  expect_fault("LoadFromFilename");
  crash_in("CountPagesInFile");
  EXPECT_EQ(FilePageCount(dcx.c_str()), -1);
  expect_fault("FilePageCount");
  const std::string bytes = "\xb1\x68\xde\x3a rest";
  crash_in("CountPagesInBuffer");
  EXPECT_EQ(BufferPageCount(bytes.data(), static_cast<uint32_t>(bytes.size())), -1);
  expect_fault("BufferPageCount");
  // Without the fault the module answers as it always does.
  unsetenv("QUILLET_TEST_CRASH");
  EXPECT_EQ(FilePageCount(dcx.c_str()), 1);
}

TEST_F(CodecFaultTest, AFaultInsideAMultipageFileEndsThatFileOnly) {
  ASSERT_EQ(TWAIN_SetMultipageFormat(MPF_DCX), 0);
  Owned page(make_image(1, 40, 30));
  for (const char* entry : {"BeginMultipageFile", "DibWritePage", "EndMultipageFile"}) {
    SCOPED_TRACE(entry);
    crash_in(entry);
    int rc = TWAIN_BeginMultipageFile(path("doc.dcx").c_str());
    if (rc == 0) rc = TWAIN_DibWritePage(page.get());
    const int end = TWAIN_IsMultipageFileOpen() ? TWAIN_EndMultipageFile() : 0;
    EXPECT_NE(rc == 0 ? end : rc, 0);
    expect_fault(entry);
    EXPECT_FALSE(TWAIN_IsMultipageFileOpen());
    // A file whose beginning or end faulted never reaches its name (a page
    // that faulted costs only itself).
    if (std::string(entry) != "DibWritePage") EXPECT_FALSE(fs::exists(path("doc.dcx")));
    fs::remove(path("doc.dcx"));
  }
  unsetenv("QUILLET_TEST_CRASH");
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("doc.dcx").c_str()), 0);
  EXPECT_EQ(TWAIN_DibWritePage(page.get()), 0);
  EXPECT_EQ(TWAIN_EndMultipageFile(), 0);
  EXPECT_TRUE(fs::exists(path("doc.dcx")));
}

}  // namespace
