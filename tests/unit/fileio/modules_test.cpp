// The codec modules seen from the library: binding, version and dependency
// rules, impostor modules, and writes and loads through each available module.
// The modules are taken from the build folder (one above this program);
// tests of a module that has not been built are skipped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../dib/dib_test_support.h"
#include "core/modules.h"
#include "dib/dib.h"
#include "fileio/codec_modules.h"
#include "fileio/file_state.h"
#include "orivane/file_api.h"
#include "orivane/multipage_files.h"
#include "orivane/pdf_api.h"
#include "platform/paths.h"
#include "platform/ui.h"

namespace {

using namespace dib_test;
namespace fs = std::filesystem;


bool module_built(const std::string& name) { return fs::exists(build_folder() + "/" + name + ".so"); }

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ModuleTest : public DibTest {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/fileio-mod-XXXXXX";
    dir_ = mkdtemp(tmpl);
    fs::create_directory(dir_ + "/out");
    if (const char* t = std::getenv("TMPDIR")) old_tmp_ = t;
    if (const char* m = std::getenv("QUILLET_MODULE_PATH")) old_modules_ = m;
    setenv("TMPDIR", (dir_ + "/out").c_str(), 1);
    use_modules_from(build_folder());
    DibTest::SetUp();
    fileio::file_state_reset_for_tests();
    TWAIN_SuppressErrorMessages(1);
  }
  void TearDown() override {
    fileio::file_state_reset_for_tests();
    fileio::codec_modules_reset_for_tests();
    TWAIN_SetFileAppendFlag(0);
    DibTest::TearDown();
    if (old_tmp_.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", old_tmp_.c_str(), 1);
    if (old_modules_.empty()) unsetenv("QUILLET_MODULE_PATH");
    else setenv("QUILLET_MODULE_PATH", old_modules_.c_str(), 1);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void use_modules_from(const std::string& folder) {
    fileio::codec_modules_reset_for_tests();
    setenv("QUILLET_MODULE_PATH", folder.c_str(), 1);
  }
  // A module folder where `name`.so is really the file of `real`.
  std::string impostor_folder(const std::vector<std::pair<std::string, std::string>>& links) {
    const std::string folder = dir_ + "/fake";
    fs::create_directories(folder);
    for (const auto& [name, real] : links) fs::create_symlink(build_folder() + "/" + real + ".so", folder + "/" + name + ".so");
    return folder;
  }
  std::string out(const std::string& name) const { return dir_ + "/out/" + name; }

  std::string dir_, old_tmp_, old_modules_;
};

TEST_F(ModuleTest, EachBuiltModuleBindsWithItsVersionRule) {
  struct Case {
    const char* name;
    int format;
  };
  for (const Case& c : std::vector<Case>{{"OrvJpeg", FF_JPEG}, {"OrvTiff", FF_TIFF}, {"OrvPng", FF_PNG},
                                         {"OrvGif", FF_GIF},   {"OrvDcx", FF_DCX},   {"OrvPdf", FF_PDF}}) {
    SCOPED_TRACE(c.name);
    if (!module_built(c.name)) continue;
    const bool needs_jpeg = c.format == FF_TIFF || c.format == FF_PDF;
    if (needs_jpeg && !module_built("OrvJpeg")) continue;
    EXPECT_EQ(IsFormatAvailable(c.format), 1);
    const core::LoadedModule* m = core::loaded_module(c.name);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->path, build_folder() + "/" + c.name + ".so");
    EXPECT_EQ(FormatVersion(c.format), m->version);
    if (c.format == FF_PDF) EXPECT_EQ(m->version, 160);
    if (c.format == FF_TIFF) EXPECT_GE(m->version, 157);
    EXPECT_EQ(TWAIN_SetSaveFormat(c.format), 1);
  }
}

TEST_F(ModuleTest, ImpostorsAndMissingDependenciesAreRefused) {
  if (!module_built("OrvJpeg") || !module_built("OrvGif") || !module_built("OrvPdf")) GTEST_SKIP();
  // OrvPng.so that is really OrvGif: none of its ORVPNG_ entries resolve.
  // OrvPdf.so without OrvJpeg beside it.
  use_modules_from(impostor_folder({{"OrvPng", "OrvGif"}, {"OrvPdf", "OrvPdf"}}));
  EXPECT_EQ(IsFormatAvailable(FF_PNG), 0);
  EXPECT_EQ(core::loaded_module("OrvPng"), nullptr);
  TWAIN_ClearError();
  EXPECT_EQ(IsFormatAvailable(FF_PDF), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_PDF_LIBRARY);
  EXPECT_NE(error_text().find("requires matching OrvJpeg.dll"), std::string::npos);
  // The gif module under its own name still works.
  fs::create_symlink(build_folder() + "/OrvGif.so", dir_ + "/fake/OrvGif.so");
  EXPECT_EQ(IsFormatAvailable(FF_GIF), 1);

  // OrvPdf.so that is really OrvJpeg, with OrvJpeg present: wrong entries.
  fs::remove_all(dir_ + "/fake");
  use_modules_from(impostor_folder({{"OrvJpeg", "OrvJpeg"}, {"OrvPdf", "OrvJpeg"}}));
  TWAIN_ClearError();
  EXPECT_EQ(IsFormatAvailable(FF_PDF), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_PDF_LIBRARY);
  EXPECT_NE(error_text().find("missing entry point"), std::string::npos);
  EXPECT_EQ(IsFormatAvailable(FF_JPEG), 1);
}

// Keeps the text of every message box.
class BoxCapture final : public platform::UiBackend {
 public:
  explicit BoxCapture(std::shared_ptr<std::vector<std::string>> boxes) : boxes_(std::move(boxes)) {}
  const char* name() const override { return "capture"; }
  void message_box(const std::string&, const std::string& text, platform::UiIcon) override {
    boxes_->push_back(text);
  }
  platform::UiAnswer ask(const std::string&, const std::string&, platform::UiButtons,
                         platform::UiAnswer answer) override {
    return answer;
  }

 private:
  std::shared_ptr<std::vector<std::string>> boxes_;
};

// OrvPdf that did not load says why at every use, not only the first.
TEST_F(ModuleTest, AMissingPdfModuleSaysWhyEveryTime) {
  if (!module_built("OrvPdf")) GTEST_SKIP();
  use_modules_from(impostor_folder({{"OrvPdf", "OrvPdf"}}));  // without OrvJpeg
  Owned page(make_image(8, 20, 20));
  const std::string existing = out("in.pdf");
  std::ofstream(existing) << "%PDF-1.4\n";
  const std::vector<std::pair<const char*, std::function<bool()>>> uses = {
      {"DIB_WriteToBuffer", [&] { return DIB_WriteToBuffer(page.get(), FF_PDF, nullptr, 0) == 0; }},
      {"TWAIN_BeginMultipageFile", [&] { return TWAIN_BeginMultipageFile(out("c.pdf").c_str()) != 0; }},
      {"PDF_SetCompression", [&] { return PDF_SetCompression(DIB_PT_GRAY, 5) == 0; }},
      {"PDF_IsEncrypted", [&] { return PDF_IsEncrypted(existing.c_str()) == 0; }},
      {"FilePageCount", [&] { return FilePageCount(existing.c_str()) == -1; }},
      {"DIB_LoadFromFilename", [&] { return DIB_LoadFromFilename(existing.c_str()) == 0; }},
  };
  for (int round = 0; round < 2; ++round) {
    for (const auto& [name, use] : uses) {
      SCOPED_TRACE(std::string(name) + ", round " + std::to_string(round));
      TWAIN_ClearError();
      EXPECT_TRUE(use());
      EXPECT_EQ(TWAIN_LastErrorCode(), ERR_PDF_LIBRARY);
      EXPECT_NE(error_text().find("requires matching OrvJpeg.dll"), std::string::npos) << error_text();
    }
    // The file writer shows the reason itself (and clears the record).
    TWAIN_SuppressErrorMessages(0);
    auto boxes = std::make_shared<std::vector<std::string>>();
    platform::ui_install(std::make_unique<BoxCapture>(boxes));
    EXPECT_EQ(DIB_WriteToFilename(page.get(), out("a.pdf").c_str()), -3);
    platform::ui_install(nullptr);
    TWAIN_SuppressErrorMessages(1);
    ASSERT_EQ(boxes->size(), 1u);
    EXPECT_NE(boxes->front().find("requires matching OrvJpeg.dll"), std::string::npos) << boxes->front();
  }
}

// Lossless formats give back the pixels; the caller's image is never changed.
TEST_F(ModuleTest, LosslessRoundTripsThroughDispatch) {
  struct Case {
    const char* module;
    const char* ext;
    int depth;
  };
  const std::vector<Case> cases = {{"OrvPng", "png", 1},  {"OrvPng", "png", 8},  {"OrvPng", "png", 24},
                                   {"OrvGif", "gif", 8},  {"OrvDcx", "dcx", 1}};
  for (const Case& c : cases) {
    if (!module_built(c.module)) continue;
    SCOPED_TRACE(std::string(c.ext) + " " + std::to_string(c.depth));
    Owned img(make_image(c.depth, 13, 6, c.depth));
    const auto before = block_bytes(img.get());
    const std::string name = out(std::string("rt") + std::to_string(c.depth) + "." + c.ext);
    ASSERT_EQ(DIB_WriteToFilename(img.get(), name.c_str()), 0) << error_text();
    EXPECT_EQ(block_bytes(img.get()), before);
    Owned back(DIB_LoadFromFilename(name.c_str()));
    ASSERT_TRUE(back) << error_text();
    EXPECT_EQ(DIB_Width(back.get()), 13);
    EXPECT_EQ(DIB_Height(back.get()), 6);
    EXPECT_EQ(rgb_pixels(back.get()), rgb_pixels(img.get()));
  }
}

TEST_F(ModuleTest, DeepImagesGoToGifThroughAPaletteCopy) {
  if (!module_built("OrvGif")) GTEST_SKIP();
  Owned img(make_image(24, 20, 10, 3));
  const auto before = block_bytes(img.get());
  ASSERT_EQ(DIB_WriteToFilename(img.get(), out("deep.gif").c_str()), 0) << error_text();
  EXPECT_EQ(block_bytes(img.get()), before);
  Owned back(DIB_LoadFromFilename(out("deep.gif").c_str()));
  ASSERT_TRUE(back);
  EXPECT_LE(DIB_Depth(back.get()), 8);
}

TEST_F(ModuleTest, BuffersThroughTemporaryFilesLeaveNothingBehind) {
  if (!module_built("OrvPng")) GTEST_SKIP();
  Owned img(make_image(8, 9, 9));
  const uint32_t size = DIB_WriteToBuffer(img.get(), FF_PNG, nullptr, 0);
  ASSERT_GT(size, 0u) << error_text();
  std::vector<std::uint8_t> bytes(size);
  EXPECT_EQ(DIB_WriteToBuffer(img.get(), FF_PNG, bytes.data(), size - 1), size);  // too small: nothing copied
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(DIB_WriteToBuffer(img.get(), FF_PNG, bytes.data(), size), size);
  EXPECT_EQ(DIB_FormatOfBuffer(bytes.data(), size), FF_PNG);
  Owned back(DIB_LoadFromBuffer(bytes.data(), size));
  ASSERT_TRUE(back) << error_text();
  EXPECT_EQ(rgb_pixels(back.get()), rgb_pixels(img.get()));
  EXPECT_TRUE(names_in(dir_ + "/out").empty());
  EXPECT_STREQ(LastOutputFileName(), "");
}

TEST_F(ModuleTest, JpegWithinTolerance) {
  if (!module_built("OrvJpeg")) GTEST_SKIP();
  for (int depth : {8, 24}) {
    SCOPED_TRACE(depth);
    Owned img(DIB_Create(depth == 8 ? DIB_PT_GRAY : DIB_PT_RGB, 32, 16, depth));
    // A smooth ramp: JPEG keeps it close.
    auto* p = static_cast<std::uint8_t*>(platform::mem_lock(img.get()));
    auto view = dib::DibView::over(p, platform::mem_size(img.get()));
    for (int y = 0; y < 16; ++y)
      for (std::size_t k = 0; k < view->used_bytes(); ++k) view->row(y)[k] = static_cast<std::uint8_t>(40 + 4 * y + k / 3);
    platform::mem_unlock(img.get());
    const std::string name = out("j" + std::to_string(depth) + ".jpg");
    TWAIN_SetJpegQuality(95);
    ASSERT_EQ(DIB_WriteToFilename(img.get(), name.c_str()), 0) << error_text();
    EXPECT_EQ(FilePageCount(name.c_str()), 1);
    Owned back(DIB_LoadFromFilename(name.c_str()));
    ASSERT_TRUE(back) << error_text();
    const auto a = rgb_pixels(img.get()), b = rgb_pixels(back.get());
    ASSERT_EQ(a.size(), b.size());
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    EXPECT_LE(worst, 8);
  }
}

// 1- and 4-bit images (a scanner's default black and white) are written as
// 8-bit gray, or 24-bit colour for a table of colours: what they show is
// kept, in files and in memory, and the caller's image is left as it was.
TEST_F(ModuleTest, ShallowImagesAreWidenedForJpeg) {
  if (!module_built("OrvJpeg")) GTEST_SKIP();
  struct Case {
    const char* label;
    int depth;
    int type;  // of the image read back
    std::vector<std::array<int, 3>> table;
  };
  const Case cases[] = {
      {"black on white", 1, DIB_PT_GRAY, {{0, 0, 0}, {255, 255, 255}}},
      {"min-is-white", 1, DIB_PT_GRAY, {{255, 255, 255}, {0, 0, 0}}},
      {"4-bit gray", 4, DIB_PT_GRAY, {}},
      {"4-bit colours", 4, DIB_PT_RGB, {{200, 0, 0}, {0, 0, 160}, {255, 255, 255}, {0, 120, 0}}},
  };
  TWAIN_SetJpegQuality(100);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    // Blocks of 16 x 16 pixels, each one entry: JPEG keeps them close.
    Owned img(DIB_Allocate(c.depth, 64, 32));
    for (std::size_t i = 0; i < c.table.size(); ++i)
      DIB_SetColorTableRGB(img.get(), static_cast<int>(i), c.table[i][0], c.table[i][1], c.table[i][2]);
    std::vector<std::uint8_t> row(64);
    for (int y = 0; y < 32; ++y) {
      const std::size_t entries = c.table.empty() ? 16 : c.table.size();
      for (int x = 0; x < 64; ++x) row[x] = static_cast<std::uint8_t>((x / 16 + y / 16 * 3) % entries);
      std::vector<std::uint8_t> packed(static_cast<std::size_t>(64 * c.depth / 8));
      for (int x = 0; x < 64; ++x)
        packed[x * c.depth / 8] |= static_cast<std::uint8_t>(row[x] << (8 - c.depth - x * c.depth % 8));
      DIB_WritePackedRow(img.get(), y, packed.data());
    }
    const auto before = block_bytes(img.get());
    const std::string name = out(std::string(c.label) + ".jpg");
    ASSERT_EQ(DIB_WriteToFilename(img.get(), name.c_str()), 0) << error_text();
    const uint32_t size = DIB_WriteToBuffer(img.get(), FF_JPEG, nullptr, 0);
    std::string memory(size, '\0');
    ASSERT_GT(size, 0u) << error_text();
    ASSERT_EQ(DIB_WriteToBuffer(img.get(), FF_JPEG, memory.data(), size), size);
    EXPECT_EQ(block_bytes(img.get()), before);
    Owned from_file(DIB_LoadFromFilename(name.c_str())), from_memory(DIB_LoadFromBuffer(memory.data(), size));
    for (const Owned* back : {&from_file, &from_memory}) {
      ASSERT_TRUE(*back) << error_text();
      EXPECT_EQ(DIB_PixelType(back->get()), c.type);
      const auto a = rgb_pixels(img.get()), b = rgb_pixels(back->get());
      ASSERT_EQ(a.size(), b.size());
      // Each block's middle (colour bleeds over block edges when decoded).
      int worst = 0;
      for (int y = 8; y < 32; y += 16)
        for (int x = 8; x < 64; x += 16)
          for (int k = 0; k < 3; ++k)
            worst = std::max(worst, std::abs(int(a[(y * 64 + x) * 3 + k]) - int(b[(y * 64 + x) * 3 + k])));
      EXPECT_LE(worst, 12);
    }
  }
}

TEST_F(ModuleTest, AppendAddsPages) {
  struct Case {
    const char* module;
    const char* ext;
    int depth;
  };
  for (const Case& c : std::vector<Case>{{"OrvDcx", "dcx", 1}, {"OrvPdf", "pdf", 8}}) {
    if (!module_built(c.module) || !module_built("OrvJpeg")) continue;
    SCOPED_TRACE(c.ext);
    Owned img(make_image(c.depth, 16, 8));
    const std::string name = out(std::string("multi.") + c.ext);
    TWAIN_SetFileAppendFlag(1);
    ASSERT_EQ(DIB_WriteToFilename(img.get(), name.c_str()), 0) << error_text();
    ASSERT_EQ(DIB_WriteToFilename(img.get(), name.c_str()), 0) << error_text();
    EXPECT_EQ(FilePageCount(name.c_str()), 2);
    TWAIN_SetFileAppendFlag(0);
    ASSERT_EQ(DIB_WriteToFilename(img.get(), name.c_str()), 0) << error_text();
    EXPECT_EQ(FilePageCount(name.c_str()), 1);
    DIB_HANDLE pages[2] = {0, 0};
    EXPECT_EQ(DIB_LoadPagesFromFilename(pages, 0, 2, name.c_str()), 1);
    DIB_Free(pages[0]);
  }
}

}  // namespace

namespace {

TEST_F(ModuleTest, PdfSettingsReachTheCodecAtEachUse) {
  if (!module_built("OrvPdf") || !module_built("OrvJpeg")) GTEST_SKIP();
  Owned img(make_image(8, 16, 8));
  const std::string plain = out("p.pdf"), locked = out("e.pdf");
  EXPECT_EQ(TWAIN_SetPdfTitle("Quarterly"), 1);
  ASSERT_EQ(DIB_WriteToFilename(img.get(), plain.c_str()), 0) << error_text();
  TWAIN_SetPdfTitle("");
  char text[64], small[4];
  EXPECT_EQ(PDF_GetDocumentProperty(plain.c_str(), "Title", text, sizeof text), 9);
  EXPECT_STREQ(text, "Quarterly");
  EXPECT_EQ(PDF_GetDocumentProperty(plain.c_str(), "Title", small, sizeof small), 9);
  EXPECT_STREQ(small, "Qua");
  // The producer names the library and the codec.
  PDF_GetDocumentProperty(plain.c_str(), "Producer", text, sizeof text);
  EXPECT_STREQ(text, "Orivane 3.47b2 using OrvPdf 1.60");
  EXPECT_EQ(PDF_IsOneOfOurs(plain.c_str()), 1);
  EXPECT_EQ(PDF_IsEncrypted(plain.c_str()), 0);
  EXPECT_EQ(PDF_GetDocumentProperty(nullptr, "Title", text, sizeof text), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_PARAMETER);

  // A user password set through the library encrypts the next file; reading
  // it back needs the open password.
  ASSERT_EQ(PDF_SetUserPassword("secret"), 1);
  ASSERT_EQ(DIB_WriteToFilename(img.get(), locked.c_str()), 0) << error_text();
  PDF_SetUserPassword("");
  EXPECT_EQ(PDF_IsEncrypted(locked.c_str()), 1);
  EXPECT_EQ(DIB_LoadFromFilename(locked.c_str()), 0u);
  PDF_SetOpenPassword("secret");
  Owned back(DIB_LoadFromFilename(locked.c_str()));
  EXPECT_TRUE(back) << error_text();
  PDF_SetOpenPassword("");
}

}  // namespace
