// The file layer's dispatch: format detection by first bytes, names and the
// save format, folders and temporary names, all-or-nothing writes, BMP round
// trips through the generic writer and loaders, and missing codec modules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../dib/dib_test_support.h"
#include "fileio/file_state.h"
#include "orivane/bmp_api.h"
#include "orivane/file_api.h"
#include "platform/clock.h"

namespace {

using namespace dib_test;
namespace fs = std::filesystem;

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Sets an environment variable for the test's lifetime.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// Each test gets its own folder, the temporary folder pointed at it, and a
// module folder with no modules in it (so every codec is missing).
class FileTest : public DibTest {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/fileio-test-XXXXXX";
    dir_ = mkdtemp(tmpl);
    tmp_env_.emplace("TMPDIR", dir_);
    fs::create_directory(dir_ + "/nomodules");
    modules_env_.emplace("QUILLET_MODULE_PATH", dir_ + "/nomodules");
    DibTest::SetUp();
    fileio::file_state_reset_for_tests();
    TWAIN_SuppressErrorMessages(1);
  }
  void TearDown() override {
    fileio::file_state_reset_for_tests();
    fileio::codec_modules_reset_for_tests();
    DibTest::TearDown();
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir_, ec))
      if (e.is_directory()) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::optional<ScopedEnv> tmp_env_, modules_env_;
};

TEST_F(FileTest, DetectsFormatsByFirstBytes) {
  struct Case {
    std::string bytes;
    int format;
  };
  const std::vector<Case> cases = {
      {"%PDF-1.4", FF_PDF},     {"%PD", FF_UNKNOWN},          {"%PDX", FF_UNKNOWN},
      {"BM\n", FF_BMP},         {"BM", FF_BMP},               {"B", FF_UNKNOWN},
      {"BX", FF_UNKNOWN},       {"GIF89a", FF_GIF},           {"GI", FF_UNKNOWN},
      {"II*\0", FF_TIFF},       {"MM", FF_TIFF},              {"MMjunk", FF_TIFF},
      {"MI", FF_UNKNOWN},       {"IM", FF_UNKNOWN},           {"\x89PNG\r\n", FF_PNG},
      {"\x89PN", FF_UNKNOWN},   {"\xB1\x68\xDE\x3A", FF_DCX}, {"\xB1\x68\xDE", FF_UNKNOWN},
      {"\xFF\xD8\xFF\xE0", FF_JPEG}, {"\xFF\xD8", FF_UNKNOWN}, {"", FF_UNKNOWN},
      {std::string("\0\0\0\0", 4), FF_UNKNOWN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(DIB_FormatOfBuffer(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())), c.format);
    write_bytes(path("f"), c.bytes);
    EXPECT_EQ(TWAIN_FormatOfFile(path("f").c_str()), c.format);
  }
  // The length is honoured: bytes past it are not looked at.
  EXPECT_EQ(DIB_FormatOfBuffer("%PDF", 3), FF_UNKNOWN);
  EXPECT_EQ(DIB_FormatOfBuffer(nullptr, 4), FF_UNKNOWN);
}

TEST_F(FileTest, FormatOfMissingFileRecordsNotFound) {
  EXPECT_EQ(TWAIN_FormatOfFile(path("none.tif").c_str()), FF_UNKNOWN);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_NOT_FOUND);
  EXPECT_NE(error_text().find("none.tif"), std::string::npos);
}

TEST_F(FileTest, WriteToFilenameChoosesFormatAndName) {
  fs::create_directory(path("v1.2"));
  struct Case {
    std::string name;        // as given
    std::string written;     // the file that must exist
    int result;
  };
  const std::vector<Case> cases = {
      {"scan", "scan.bmp", 0},                 // no extension: the save format's
      {"v1.2/scan", "v1.2/scan.bmp", 0},       // a dot in the folder is no extension
      {"scan.xyz", "scan.xyz", 0},             // unknown extension: save format, name kept
      {"scan.BMP", "scan.BMP", 0},
      {"deep/er/scan.bmp", "deep/er/scan.bmp", 0},  // folders are made
  };
  Owned img(make_image(8, 5, 3));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DIB_WriteToFilename(img.get(), path(c.name).c_str()), c.result);
    EXPECT_EQ(std::string(LastOutputFileName()), path(c.written));
    EXPECT_EQ(read_file(path(c.written)).substr(0, 2), "BM");
  }
}

TEST_F(FileTest, MissingCodecMakesOnlyItsFormatsFail) {
  Owned img(make_image(8, 5, 3));
  struct Case {
    const char* name;
    int error;
  };
  // The TIFF and PDF writers show their error to the user, which clears it.
  const std::vector<Case> cases = {{"a.tif", 0},  {"a.TIFF", 0}, {"a.jpg", ERR_JPEG_LIBRARY},
                                   {"a.png", ERR_LIBRARY_LOAD}, {"a.gif", ERR_LIBRARY_LOAD},
                                   {"a.dcx", ERR_DCX_LIBRARY}, {"a.pdf", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DIB_WriteToFilename(img.get(), path(c.name).c_str()), -3);
    EXPECT_EQ(TWAIN_LastErrorCode(), c.error);
    EXPECT_FALSE(fs::exists(path(c.name)));
    EXPECT_EQ(IsFileFormatAvailable(c.name), 0);
  }
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"nomodules"});
  EXPECT_EQ(DIB_WriteToFilename(img.get(), path("a.bmp").c_str()), 0);
}

TEST_F(FileTest, SaveFormatRefusesMissingModules) {
  EXPECT_EQ(TWAIN_GetSaveFormat(), FF_BMP);
  EXPECT_EQ(TWAIN_SetSaveFormat(FF_PDF), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_LIBRARY_LOAD);
  EXPECT_NE(error_text().find("OrvPdf.dll"), std::string::npos);
  EXPECT_EQ(TWAIN_GetSaveFormat(), FF_BMP);

  struct Case {
    int format, error;
  };
  for (const Case& c : std::vector<Case>{{FF_TIFF, ERR_TIFF_LIBRARY}, {FF_JPEG, ERR_JPEG_LIBRARY},
                                         {FF_DCX, ERR_DCX_LIBRARY}, {FF_PNG, ERR_LIBRARY_LOAD},
                                         {FF_GIF, ERR_LIBRARY_LOAD}}) {
    TWAIN_ClearError();
    EXPECT_EQ(TWAIN_SetSaveFormat(c.format), 0) << c.format;
    EXPECT_EQ(TWAIN_LastErrorCode(), c.error) << c.format;
  }
  TWAIN_ClearError();
  EXPECT_EQ(TWAIN_SetSaveFormat(12345), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
  EXPECT_EQ(TWAIN_SetSaveFormat(FF_BMP), 1);
}

TEST_F(FileTest, TempNamesCountUpPastExistingFiles) {
  const unsigned tid = static_cast<unsigned>(platform::thread_id());
  char out[260];
  ASSERT_EQ(GenerateTempImageName("x", FF_PDF, out), 1);
  EXPECT_EQ(std::string(out), dir_ + "/x" + std::to_string(tid) + ".pdf");
  write_bytes(out, "");
  write_bytes(dir_ + "/x" + std::to_string(tid + 1) + ".pdf", "");
  ASSERT_EQ(GenerateTempImageName("x", FF_PDF, out), 1);
  EXPECT_EQ(std::string(out), dir_ + "/x" + std::to_string(tid + 2) + ".pdf");
  ASSERT_EQ(GenerateTempImageName("y", 5, out), 1);
  EXPECT_EQ(std::string(out), dir_ + "/y" + std::to_string(tid) + ".tmp");
  // A name that does not fit is refused rather than cut.
  EXPECT_EQ(GenerateTempImageName(std::string(300, 'p').c_str(), FF_BMP, out), 0);
}

TEST_F(FileTest, EnsureFolderExists) {
  EXPECT_EQ(EnsureFolderExists(path("a/b/c/file.tif").c_str()), 1);
  EXPECT_TRUE(fs::is_directory(path("a/b/c")));
  EXPECT_EQ(EnsureFolderExists(path("a/b/c/").c_str()), 1);
  EXPECT_EQ(EnsureFolderExists("bare-name.tif"), 1);
  write_bytes(path("plain"), "x");
  EXPECT_EQ(EnsureFolderExists(path("plain/sub/file.bmp").c_str()), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_CREATE_FOLDER);
  EXPECT_NE(error_text().find("plain"), std::string::npos);
}

TEST_F(FileTest, FailedWritesLeaveNothingUnderTheFinalName) {
  Owned img(make_image(24, 9, 4));
  // The folder is a file.
  write_bytes(path("plain"), "x");
  EXPECT_EQ(DIB_WriteToFilename(img.get(), path("plain/out.bmp").c_str()), -2);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_CREATE_FOLDER);

  // A bad image over an existing file: the old file stays whole, and no
  // temporary file is left behind.
  ASSERT_EQ(DIB_WriteToFilename(img.get(), path("keep.bmp").c_str()), 0);
  const std::string before = read_file(path("keep.bmp"));
  std::vector<std::uint8_t> junk(40, 0);
  put32(junk, 0, 40);
  put32(junk, 4, 1000);   // rows far past the block
  put32(junk, 8, 1000);
  junk[14] = 24;
  const DIB_HANDLE bad = raw_block(junk);
  EXPECT_LT(DIB_WriteToFilename(bad, path("keep.bmp").c_str()), 0);
  platform::mem_free(bad);
  EXPECT_EQ(read_file(path("keep.bmp")), before);
  EXPECT_EQ(names_in(dir_), (std::vector<std::string>{"keep.bmp", "nomodules", "plain"}));

  // A folder without write permission (root ignores permissions).
  if (geteuid() != 0) {
    fs::create_directory(path("ro"));
    fs::permissions(path("ro"), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(DIB_WriteToFilename(img.get(), path("ro/out.bmp").c_str()), -2);
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FILE_ACCESS);
    EXPECT_TRUE(names_in(path("ro")).empty());
  }
}

TEST_F(FileTest, BmpRoundTripThroughDispatch) {
  for (const DepthCase& d : all_depths()) {
    for (int width : {1, 7, 33}) {
      SCOPED_TRACE(label(d.depth, width, 5));
      Owned img(make_image(d.depth, width, 5, width));
      const std::string name = path("rt" + std::to_string(d.depth) + "_" + std::to_string(width));
      ASSERT_EQ(DIB_WriteToFilename(img.get(), name.c_str()), 0);
      EXPECT_EQ(FilePageCount((name + ".bmp").c_str()), 1);
      Owned back(DIB_LoadFromFilename((name + ".bmp").c_str()));
      ASSERT_TRUE(back);
      EXPECT_EQ(packed_rows(back.get()), packed_rows(img.get()));

      // The same through memory: size first, then the bytes.
      const uint32_t size = DIB_WriteToBuffer(img.get(), FF_BMP, nullptr, 0);
      ASSERT_GT(size, 0u);
      std::vector<std::uint8_t> bytes(size);
      EXPECT_EQ(DIB_WriteToBuffer(img.get(), FF_BMP, bytes.data(), size), size);
      EXPECT_EQ(BufferPageCount(bytes.data(), size), 1);
      Owned mem(DIB_LoadFromBuffer(bytes.data(), size));
      ASSERT_TRUE(mem);
      EXPECT_EQ(packed_rows(mem.get()), packed_rows(img.get()));
    }
  }
}

TEST_F(FileTest, WriteToBufferRefusesCodesWithoutEncoder) {
  Owned img(make_image(8, 4, 4));
  for (int code : {5, -1, 12345}) {
    EXPECT_EQ(DIB_WriteToBuffer(img.get(), code, nullptr, 0), 0u) << code;
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_PARAMETER) << code;
  }
  // Codec formats without their module: nothing, and no temporary file left.
  EXPECT_EQ(DIB_WriteToBuffer(img.get(), FF_PNG, nullptr, 0), 0u);
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"nomodules"});
}

TEST_F(FileTest, LoaderFailuresKeepTheFirstError) {
  EXPECT_EQ(DIB_LoadFromFilename(path("missing.bmp").c_str()), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_NOT_FOUND);

  TWAIN_ClearError();
  write_bytes(path("junk.bmp"), "not an image");
  EXPECT_EQ(DIB_LoadFromFilename(path("junk.bmp").c_str()), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_UNKNOWN_FORMAT);
  EXPECT_EQ(FilePageCount(path("junk.bmp").c_str()), -1);

  TWAIN_ClearError();
  write_bytes(path("short.bmp"), "BM\n");
  EXPECT_EQ(DIB_LoadFromFilename(path("short.bmp").c_str()), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FILE_READ);

  // A codec format whose module is missing.
  TWAIN_ClearError();
  write_bytes(path("a.tif"), "II*\0");
  EXPECT_EQ(DIB_LoadFromFilename(path("a.tif").c_str()), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_TIFF_LIBRARY);
  EXPECT_EQ(FilePageCount(path("a.tif").c_str()), -1);

  EXPECT_EQ(DIB_LoadFromBuffer("nope", 4), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_UNKNOWN_FORMAT);
  EXPECT_EQ(BufferPageCount("nope", 4), -1);
}

TEST_F(FileTest, PageRangesOfSinglePageFiles) {
  Owned img(make_image(1, 16, 2));
  ASSERT_EQ(DIB_WriteToFilename(img.get(), path("one.bmp").c_str()), 0);
  const std::string one = path("one.bmp");
  struct Case {
    int start, count, result;
  };
  for (const Case& c : std::vector<Case>{{0, 1, 1}, {0, 3, 1}, {1, 1, 0}, {2, 1, -1}}) {
    SCOPED_TRACE(testing::Message() << c.start << "+" << c.count);
    DIB_HANDLE pages[3] = {7, 7, 7};
    EXPECT_EQ(DIB_LoadPagesFromFilename(pages, c.start, c.count, ("  " + one).c_str()), c.result);
    for (int i = 0; i < 3; ++i) {
      if (i < std::max(c.result, 0)) {
        EXPECT_NE(pages[i], 0u);
      } else if (i < c.count) {
        EXPECT_EQ(pages[i], 0u);
      }
      DIB_Free(i < c.count ? pages[i] : 0);
    }
    if (c.result < 0) {
      EXPECT_EQ(TWAIN_LastErrorCode(), ERR_NOT_ENOUGH_PAGES);
    }
  }

  // The next-load page is used once.
  TWAIN_SetLoadPage(2);
  Owned page(DIB_LoadFromFilename(one.c_str()));
  EXPECT_TRUE(page);
  EXPECT_EQ(fileio::file_state().load_page, 0);

  const uint32_t size = DIB_WriteToBuffer(img.get(), FF_BMP, nullptr, 0);
  std::vector<std::uint8_t> bytes(size);
  DIB_WriteToBuffer(img.get(), FF_BMP, bytes.data(), size);
  DIB_HANDLE array[2] = {7, 7};
  EXPECT_EQ(DIB_LoadArrayFromBuffer(array, 2, bytes.data(), size), 1);
  EXPECT_NE(array[0], 0u);
  EXPECT_EQ(array[1], 0u);
  DIB_Free(array[0]);
}

}  // namespace
