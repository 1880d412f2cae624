#include "platform/ui.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace platform {
namespace {

// Collects trace lines for the length of a test.
struct TraceCapture {
  TraceCapture() { ui_set_trace_sink([this](const std::string& l) { lines.push_back(l); }); }
  ~TraceCapture() { ui_set_trace_sink(nullptr); }
  std::vector<std::string> lines;
};

// A terminal back end fed `input`, with its output kept for reading.
struct TerminalRig {
  explicit TerminalRig(const std::string& input) : in(std::tmpfile()), out(std::tmpfile()) {
    std::fputs(input.c_str(), in);
    std::rewind(in);
    backend = make_terminal_ui(in, out);
  }
  ~TerminalRig() {
    std::fclose(in);
    std::fclose(out);
  }
  std::string output() {
    std::rewind(out);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
  }
  std::FILE* in;
  std::FILE* out;
  std::unique_ptr<UiBackend> backend;
};

TEST(NonInteractiveUi, BoxesGoToStderrAndQuestionsTakeTheirDefault) {
  TraceCapture trace;
  auto backend = make_noninteractive_ui();
  testing::internal::CaptureStderr();
  backend->message_box("Orivane", "Line one\nLine two", UiIcon::Warning);
  backend->message_box("Orivane", "Ends in newline\n", UiIcon::Error);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Orivane: Line one\nLine two\nOrivane: Ends in newline\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(backend->ask("Scan", "Another page?", UiButtons::YesNo, UiAnswer::Yes), UiAnswer::Yes);
  // A default the buttons do not offer falls back to the least committing one.
  EXPECT_EQ(backend->ask("Scan", "Go?", UiButtons::OkCancel, UiAnswer::Yes), UiAnswer::Cancel);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("Scan: Another page?\n", 0), 0u) << err;
  ASSERT_EQ(trace.lines.size(), 4u);
  EXPECT_EQ(trace.lines[0], "MessageBox(Orivane): Line one\nLine two");
  EXPECT_EQ(trace.lines[2], "Question(Scan): Another page? => default answer Yes (no one to ask)");
}

TEST(TerminalUi, AnswersReadFromInput) {
  struct Case {
    std::string input;
    UiButtons buttons;
    UiAnswer default_answer;
    UiAnswer expected;
    const char* trace_end;
  };
  const Case cases[] = {
      {"n\n", UiButtons::YesNo, UiAnswer::Yes, UiAnswer::No, "=> No"},
      {"  YES \r\n", UiButtons::YesNo, UiAnswer::No, UiAnswer::Yes, "=> Yes"},
      {"\n", UiButtons::YesNo, UiAnswer::No, UiAnswer::No, "default answer No (Enter)"},
      {"", UiButtons::YesNo, UiAnswer::Yes, UiAnswer::Yes, "default answer Yes (input closed)"},
      {"n", UiButtons::YesNo, UiAnswer::Yes, UiAnswer::No, "=> No"},  // last line unended
      {"maybe\ny\n", UiButtons::YesNo, UiAnswer::No, UiAnswer::Yes, "=> Yes"},
      {"c\nc\nc\nn\n", UiButtons::YesNo, UiAnswer::Yes, UiAnswer::Yes, "Yes (no valid answer)"},
      {"x\n", UiButtons::YesNo, UiAnswer::No, UiAnswer::No, "default answer No (input closed)"},
      {std::string(5000, 'x') + "\nn\n", UiButtons::YesNo, UiAnswer::Yes, UiAnswer::No, "=> No"},
      {"c\n", UiButtons::YesNoCancel, UiAnswer::Yes, UiAnswer::Cancel, "=> Cancel"},
      {"Cancel\n", UiButtons::OkCancel, UiAnswer::Ok, UiAnswer::Cancel, "=> Cancel"},
      {"\n", UiButtons::OkCancel, UiAnswer::Yes, UiAnswer::Cancel, "default answer Cancel"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    TraceCapture trace;
    TerminalRig rig(c.input);
    EXPECT_EQ(rig.backend->ask("Scan", "Go?", c.buttons, c.default_answer), c.expected);
    ASSERT_EQ(trace.lines.size(), 1u);
    EXPECT_EQ(trace.lines[0].rfind("Question(Scan): Go? => ", 0), 0u) << trace.lines[0];
    EXPECT_NE(trace.lines[0].find(c.trace_end), std::string::npos) << trace.lines[0];
  }
}

TEST(TerminalUi, PromptShowsChoicesWithDefaultInCapitals) {
  const std::tuple<UiButtons, UiAnswer, const char*> cases[] = {
      {UiButtons::YesNo, UiAnswer::Yes, "[Y/n]"},
      {UiButtons::YesNoCancel, UiAnswer::No, "[y/N/c]"},
      {UiButtons::OkCancel, UiAnswer::Cancel, "[o/C]"},
      {UiButtons::Ok, UiAnswer::Ok, "[O]"},
  };
  for (const auto& [buttons, default_answer, choices] : cases) {
    TerminalRig rig("\n");
    rig.backend->ask("Cap", "Text?", buttons, default_answer);
    EXPECT_EQ(rig.output(), std::string("Cap: Text? ") + choices + " ");
  }
  TerminalRig rig("");
  rig.backend->message_box("Orivane", "Paper jam", UiIcon::Error);
  EXPECT_EQ(rig.output(), "Orivane: Paper jam\n");
}

TEST(TerminalUi, ProgressIsOneLineWrittenOverAndEndedOnce) {
  TerminalRig rig("");
  rig.backend->progress_update(0.5);  // nothing shown yet: nothing written
  rig.backend->progress_show("Uploading");
  rig.backend->progress_update(0.456);
  rig.backend->progress_update(2.0);  // clamped
  rig.backend->progress_close();
  rig.backend->progress_close();
  EXPECT_EQ(rig.output(), "\rUploading   0%\033[K\rUploading  45%\033[K\rUploading 100%\033[K\n");
}

TEST(TerminalUi, ClosedPipeGivesTheDefaultAtOnce) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[1]);
  std::FILE* in = ::fdopen(fds[0], "r");
  std::FILE* out = std::tmpfile();
  EXPECT_EQ(make_terminal_ui(in, out)->ask("Scan", "Go?", UiButtons::YesNo, UiAnswer::No),
            UiAnswer::No);
  std::fclose(in);
  std::fclose(out);
}

TEST(TerminalUi, SaveDialogTakesATypedName) {
  char folder[] = "/tmp/ui-save-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string taken = std::string(folder) + "/taken";
  std::fclose(std::fopen((taken + ".tif").c_str(), "w"));
  UiSaveRequest request;
  request.title = "Save document as";
  request.types = {{"PDF (*.pdf)", "*.pdf"}, {"TIFF (*.tif,*.tiff,*.mpt)", "*.tif;*.tiff;*.mpt"}};
  request.chosen_type = 1;
  struct Case {
    std::string input;
    bool chosen;
    std::string path;
    int type;
  };
  const Case cases[] = {
      {"  /s/doc  \n", true, "/s/doc", 1},   // no extension: the preselected type
      {"/s/doc.PDF\n", true, "/s/doc.PDF", 0},  // the type the extension names
      {"/s/doc.xyz\n", true, "/s/doc.xyz", 1},
      {"\n", false, "", 0},
      {"", false, "", 0},
      {taken + "\nn\n/s/other\n", true, "/s/other", 1},  // not replaced: asked again
      {taken + "\ny\n", true, taken, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    TerminalRig rig(c.input);
    UiSaveAnswer answer;
    EXPECT_EQ(rig.backend->save_dialog(request, &answer), c.chosen);
    if (c.chosen) {
      EXPECT_EQ(answer.path, c.path);
      EXPECT_EQ(answer.type, c.type);
    }
    EXPECT_NE(rig.output().find("  * TIFF (*.tif,*.tiff,*.mpt)\n"), std::string::npos) << rig.output();
  }
  ::unlink((taken + ".tif").c_str());
  ::rmdir(folder);
}

class FakeUi : public UiBackend {
 public:
  const char* name() const override { return "fake"; }
  void message_box(const std::string&, const std::string&, UiIcon) override {}
  UiAnswer ask(const std::string&, const std::string&, UiButtons, UiAnswer) override {
    return UiAnswer::Cancel;
  }
};

TEST(UiSelect, EnvironmentChoosesAndInstalledBackendOutlivesItsReplacement) {
  std::optional<std::string> saved;
  if (const char* v = std::getenv("QUILLET_UI")) saved = v;
  for (const auto& [value, name] : {std::pair{"none", "non-interactive"},
                                    std::pair{"terminal", "terminal"},
                                    std::pair{"NONE", "non-interactive"}}) {
    ::setenv("QUILLET_UI", value, 1);
    ui_select();
    EXPECT_STREQ(ui().name(), name) << value;
  }
  ui_install(std::make_unique<FakeUi>());
  UiBackend& fake = ui();
  EXPECT_EQ(fake.ask("c", "t", UiButtons::YesNo, UiAnswer::Yes), UiAnswer::Cancel);
  ::setenv("QUILLET_UI", "none", 1);
  ui_install(nullptr);
  EXPECT_STREQ(ui().name(), "non-interactive") << "nullptr restores the automatic choice";
  // A caller still inside the old back end must not find it destroyed.
  EXPECT_STREQ(fake.name(), "fake");
  if (saved) ::setenv("QUILLET_UI", saved->c_str(), 1); else ::unsetenv("QUILLET_UI");
  ui_install(nullptr);
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

class FakeWindowUi final : public UiBackend {
 public:
  const char* name() const override { return "window"; }
  void message_box(const std::string&, const std::string&, UiIcon) override {}
  UiAnswer ask(const std::string&, const std::string&, UiButtons, UiAnswer a) override { return a; }
};

std::unique_ptr<UiBackend> fake_window_factory() { return std::make_unique<FakeWindowUi>(); }
std::unique_ptr<UiBackend> no_display_factory() { return nullptr; }

}  // namespace

TEST(UiSelect, TheWindowBackEndIsChosenWhenADisplayAnswers) {
  std::optional<std::string> saved_ui, saved_display;
  if (const char* v = std::getenv("QUILLET_UI")) saved_ui = v;
  if (const char* v = std::getenv("DISPLAY")) saved_display = v;
  struct Case {
    const char* quillet_ui;  // nullptr: unset
    const char* display;
    UiWindowFactory factory;
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, ":5", &fake_window_factory, "window"},
      {"window", "", &fake_window_factory, "window"},
      {"none", ":5", &fake_window_factory, "non-interactive"},
      {"terminal", ":5", &fake_window_factory, "terminal"},
      // No display answers: the choice without windows.
      {nullptr, ":5", &no_display_factory, "non-interactive"},
      {"window", ":5", &no_display_factory, "non-interactive"},
      {nullptr, "", &fake_window_factory, "non-interactive"},
      {nullptr, ":5", nullptr, "non-interactive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.quillet_ui ? c.quillet_ui : "(unset)") + " DISPLAY=" + c.display);
    if (c.quillet_ui) ::setenv("QUILLET_UI", c.quillet_ui, 1); else ::unsetenv("QUILLET_UI");
    ::setenv("DISPLAY", c.display, 1);
    ui_register_window_backend(c.factory);
    ui_select();
    EXPECT_STREQ(ui().name(), c.expected);
  }
  // A back end chosen automatically before the window back end was
  // registered gives way to it; one installed on purpose does not.
  ::unsetenv("QUILLET_UI");
  ui_register_window_backend(nullptr);
  ui_install(nullptr);
  EXPECT_STREQ(ui().name(), "non-interactive");
  ui_register_window_backend(&fake_window_factory);
  EXPECT_STREQ(ui().name(), "window");
  ui_install(std::make_unique<FakeUi>());
  ui_register_window_backend(&fake_window_factory);
  EXPECT_STREQ(ui().name(), "fake");

  ui_register_window_backend(nullptr);
  if (saved_ui) ::setenv("QUILLET_UI", saved_ui->c_str(), 1); else ::unsetenv("QUILLET_UI");
  if (saved_display) ::setenv("DISPLAY", saved_display->c_str(), 1); else ::unsetenv("DISPLAY");
  ui_install(nullptr);
}

}  // namespace platform
