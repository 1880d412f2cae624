// The save dialogs as the user-interface back end sees them: the entries
// offered, the one preselected, and what the library makes of the answer.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "../dib/dib_test_support.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "platform/ui.h"

namespace {

using namespace dib_test;

// A back end that keeps the request and gives a scripted answer.
class ScriptedDialog final : public platform::UiBackend {
 public:
  ScriptedDialog(bool choose, std::string typed, int type) : choose_(choose), typed_(std::move(typed)), type_(type) {}
  const char* name() const override { return "scripted"; }
  void message_box(const std::string&, const std::string&, platform::UiIcon) override {}
  platform::UiAnswer ask(const std::string&, const std::string&, platform::UiButtons,
                         platform::UiAnswer answer) override {
    return answer;
  }
  bool save_dialog(const platform::UiSaveRequest& request, platform::UiSaveAnswer* out_answer) override {
    *seen = request;
    out_answer->path = typed_;
    out_answer->type = type_;
    return choose_;
  }
  bool open_dialog(const platform::UiOpenRequest& request, std::string* out_path) override {
    *seen_open = request;
    *out_path = typed_;
    return choose_;
  }
  std::shared_ptr<platform::UiSaveRequest> seen = std::make_shared<platform::UiSaveRequest>();
  std::shared_ptr<platform::UiOpenRequest> seen_open = std::make_shared<platform::UiOpenRequest>();

 private:
  bool choose_;
  std::string typed_;
  int type_;
};

class SaveDialogTest : public DibTest {
 protected:
  void TearDown() override {
    platform::ui_install(nullptr);
    DibTest::TearDown();
  }
  // Installs a dialog answering (`choose`, `typed`, entry `type`); the
  // request it will see.
  std::shared_ptr<platform::UiSaveRequest> script(bool choose, const std::string& typed, int type) {
    auto dialog = std::make_unique<ScriptedDialog>(choose, typed, type);
    auto seen = dialog->seen;
    platform::ui_install(std::move(dialog));
    return seen;
  }
};

TEST_F(SaveDialogTest, MultipageNamesTakeTheChosenEntryUnlessTheNameHasAnExtension) {
  struct Case {
    int incoming;
    bool choose;
    const char* typed;
    int entry;       // index in the fixed list
    int result;
    const char* path;
    int code;        // after the dialog
    int preselected;
  };
  const Case cases[] = {
      {MPF_TIFF, true, "/scans/doc", 2, 1, "/scans/doc.dcx", MPF_DCX, 1},
      {MPF_GIF, true, "/scans/doc", 4, 1, "/scans/doc.jpg", MPF_JPEG, 6},
      {MPF_TIFF, true, "/scans/doc.pdf", 6, 1, "/scans/doc.pdf", MPF_TIFF, 1},  // the extension decides later
      {MPF_PDF, false, "/scans/doc", 0, 0, "", MPF_PDF, 0},
      {-7, true, "a.b/doc", 0, 1, "a.b/doc.pdf", MPF_PDF, 0},  // a dot in a folder is no extension
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    auto seen = script(c.choose, c.typed, c.entry);
    char path[260] = "old";
    int code = c.incoming;
    EXPECT_EQ(PromptForMultipageSaveName(&code, path), c.result);
    EXPECT_STREQ(path, c.path);
    EXPECT_EQ(code, c.code);
    ASSERT_EQ(seen->types.size(), 7u);
    EXPECT_EQ(seen->chosen_type, c.preselected);
    EXPECT_EQ(seen->types[1].label, "TIFF (*.tif,*.tiff,*.mpt)");
    EXPECT_EQ(seen->types[1].pattern, "*.tif;*.tiff;*.mpt");
    EXPECT_EQ(seen->types[6].label, "GIF/merged (*.gif)");
  }
  // A name the caller's buffer cannot hold whole is no name.
  script(true, "/" + std::string(300, 'x'), 0);
  char path[260];
  int code = MPF_PDF;
  EXPECT_EQ(PromptForMultipageSaveName(&code, path), 0);
  EXPECT_STREQ(path, "");
  // Nobody to ask: cancelled, and the run goes on.
  platform::ui_install(platform::make_noninteractive_ui());
  EXPECT_EQ(PromptForMultipageSaveName(&code, path), 0);
}

TEST_F(SaveDialogTest, ImageNamesOfferWhatCanBeWrittenNow) {
  auto seen = script(true, "/scans/page", 0);
  char path[260];
  int format = 12345;  // no such format: BMP is preselected
  Owned bw(DIB_Allocate(1, 8, 8));
  ASSERT_EQ(PromptForSaveName(path, &format, bw.get()), 1);
  EXPECT_STREQ(path, "/scans/page.bmp");
  EXPECT_EQ(format, FF_BMP);
  ASSERT_FALSE(seen->types.empty());
  EXPECT_EQ(seen->types[0].label, "Windows Bitmap");
  EXPECT_EQ(seen->chosen_type, 0);
  for (const auto& t : seen->types) EXPECT_NE(t.label, "JPEG/JFIF");  // no JPEG for a 1-bit image
}

TEST_F(SaveDialogTest, TheOpenDialogOffersTheReadableFormatsAndHandsBackTheChosenFile) {
  struct Case {
    bool choose;
    std::string typed;
    int result;
    std::string path;
  };
  const Case cases[] = {
      {true, "/scans/in.tif", 1, "/scans/in.tif"},
      {false, "/scans/in.tif", 0, ""},
      {true, "", 0, ""},
      {true, "/" + std::string(300, 'a'), 0, ""},  // a cut name would be another file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.substr(0, 20));
    auto dialog = std::make_unique<ScriptedDialog>(c.choose, c.typed, 0);
    auto seen = dialog->seen_open;
    platform::ui_install(std::move(dialog));
    char path[260] = "old";
    EXPECT_EQ(PromptForOpenFilename(path), c.result);
    EXPECT_EQ(std::string(path), c.path);
    // All readable formats first, then bitmaps, then each readable format.
    ASSERT_GE(seen->types.size(), 2u);
    const platform::UiFileType& all = seen->types[0];
    EXPECT_EQ(all.label.rfind("Image Files (.bmp", 0), 0u) << all.label;
    EXPECT_EQ(all.label.back(), ')');
    EXPECT_EQ(seen->types[1].label, "Windows Bitmaps (*.bmp)");
    for (std::size_t i = 1; i < seen->types.size(); ++i)
      EXPECT_NE(all.pattern.find(seen->types[i].pattern), std::string::npos) << seen->types[i].label;
  }
}

}  // namespace

namespace {

// Loading without a name asks for one: what the person chose is loaded; a
// cancelled dialog, or a name too long for the callers' buffers, loads
// nothing.
TEST_F(SaveDialogTest, LoadingWithoutANameOpensTheDialog) {
  char folder[] = "/tmp/open-dialog-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string image = std::string(folder) + "/page.bmp";
  Owned page(make_image(24, 7, 5));
  ASSERT_EQ(DIB_WriteToFilename(page.get(), image.c_str()), 0);
  struct Case {
    bool choose;
    std::string typed;
    bool loads;
  };
  const Case cases[] = {
      {true, image, true},
      {false, image, false},
      {true, std::string(folder) + "/" + std::string(300, 'x') + ".bmp", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.size());
    auto dialog = std::make_unique<ScriptedDialog>(c.choose, c.typed, 0);
    auto seen = dialog->seen_open;
    platform::ui_install(std::move(dialog));
    Owned one(DIB_LoadFromFilename(""));
    EXPECT_EQ(one.get() != 0, c.loads);
    if (c.loads) EXPECT_EQ(DIB_Width(one.get()), 7);
    DIB_HANDLE pages[2] = {};
    const int n = DIB_LoadPagesFromFilename(pages, 0, 1, nullptr);
    EXPECT_EQ(n, c.loads ? 1 : -10);
    if (n == 1) DIB_Free(pages[0]);
    ASSERT_GE(seen->types.size(), 2u);
    EXPECT_EQ(seen->types[0].label.rfind("Image Files (.bmp", 0), 0u) << seen->types[0].label;
    EXPECT_EQ(seen->types[1].pattern, "*.bmp");
  }
  std::remove(image.c_str());
  rmdir(folder);
}

}  // namespace
