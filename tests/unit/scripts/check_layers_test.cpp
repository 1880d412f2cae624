// The layering check (scripts/check_layers.sh) run over small made-up trees:
// what it must refuse, what it must let pass, and the counts it prints.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "../../tool_support.h"

namespace {

namespace fs = std::filesystem;

// The script in the source tree that holds tests/data (QUILLET_TEST_DATA).
std::string script() {
  const char* data = std::getenv("QUILLET_TEST_DATA");
  const fs::path root = fs::path(data ? data : "tests/data").parent_path().parent_path();
  return (root / "scripts" / "check_layers.sh").string();
}

class CheckLayersTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "layers.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  void write(const std::string& path, const std::string& text) {
    fs::create_directories((root_ / path).parent_path());
    std::ofstream(root_ / path) << text;
  }
  // Runs the script; returns its output followed by "rc=<exit status>".
  std::string run(const std::string& option = "") {
    return test_tools::command_output("bash '" + script() + "' " + option + " --root '" +
                                      root_.string() + "' 2>&1; echo rc=$?");
  }

  fs::path root_;
};

TEST_F(CheckLayersTest, RefusesWhatRunsUpAndPassesWhatRunsDown) {
  struct Case {
    const char* path;
    const char* text;
    const char* finding;  // expected in the output; nullptr: passes
  } cases[] = {
      {"dib/a.cpp", "#include \"core/error_record.h\"\n#include \"platform/ui.h\"\n", nullptr},
      {"fileio/b.cpp", "// x\n\n#include \"twain/session.h\"\n",
       "fileio/b.cpp:3: includes \"twain/session.h\": twain is above fileio"},
      {"core/c.h", "  #  include \"dib/dib.h\"\n", "core/c.h:1: includes \"dib/dib.h\""},
      {"twain/d.cpp", "#include \"app/report.h\"\n", "twain/d.cpp:1"},
      {"codecs/tiff/e.cpp", "#include \"log/trace.h\"\n", "codecs/tiff/e.cpp:1"},
      {"sources/virtual/f.cpp", "#include \"dsm/source_protocol.h\"\n#include \"platform/ui.h\"\n", nullptr},
      {"sources/virtual/g.cpp", "#include \"dsm/manager.h\"\n", "sources/virtual/g.cpp:1"},
      {"fileio/h.cpp", "#include \"codecs/codec_abi.h\"\n", nullptr},
      {"include/orivane/i.h", "#include \"twain/session.h\"\n", "include/orivane/i.h:1"},
      {"platform/j.cpp", "#include \"orivane/twain.h\"\n#include <twain/k.h>\n#include \"zlib/z.h\"\n", nullptr},
      {"log/k.cpp", "#include \"../twain/session.h\"\n", "log/k.cpp:1: includes \"../twain/session.h\""},
      {"tools/orivane/l.cpp", "#include \"app/report.h\"\n", "tools/orivane/l.cpp:1"},
      {"tests/unit/m.cpp", "#include \"app/report.h\"\n", nullptr},
      {"build/n.cpp", "#include \"app/report.h\"\n", nullptr},
      {"viewer/o.cpp", "#include \"platform/ui.h\"\n", "viewer/: has no place in the layer order"},
      // twain/'s rooms are one layer: they include each other and the layers below.
      {"twain/session/p.cpp",
       "#include \"twain/capabilities/q.h\"\n#include \"twain/acquisition/r.h\"\n#include \"fileio/s.h\"\n",
       nullptr},
      {"fileio/t.cpp", "#include \"twain/acquisition/acquire.h\"\n",
       "fileio/t.cpp:1: includes \"twain/acquisition/acquire.h\": twain is above fileio"},
      {"twain/capabilities/u.h", "#include \"app/report.h\"\n",
       "twain/capabilities/u.h:1: includes \"app/report.h\": app is above twain"},
      // An engine module sits inside engines/ but is held to the module rule.
      {"engines/symbol/v.cpp",
       "#include \"engines/symbol/w.h\"\n#include \"engines/symbol_abi.h\"\n#include \"orivane/dib_api.h\"\n",
       nullptr},
      {"engines/symbol/x.cpp", "#include \"core/modules.h\"\n",
       "engines/symbol/x.cpp:1: includes \"core/modules.h\": engines/symbol is a module"},
      {"engines/y.cpp", "#include \"engines/symbol/w.h\"\n",
       "engines/y.cpp:1: includes \"engines/symbol/w.h\": engines/symbol is a module, not a layer"},
      // The windows sit between the engines and the session that installs them.
      {"twain/session/z.cpp", "#include \"ui/window_ui.h\"\n", nullptr},
      {"ui/z.cpp", "#include \"twain/session/session.h\"\n",
       "ui/z.cpp:1: includes \"twain/session/session.h\": twain is above ui"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    fs::remove_all(root_);
    write(c.path, c.text);
    const std::string out = run();
    if (c.finding) {
      EXPECT_NE(out.find(c.finding), std::string::npos) << out;
      EXPECT_NE(out.find("rc=1"), std::string::npos) << out;
    } else {
      EXPECT_EQ(out, "rc=0\n");
    }
  }
}

TEST_F(CheckLayersTest, CountsIncludesBetweenFoldersNotWithin) {
  write("twain/a.cpp", "#include \"core/modules.h\"\n#include \"core/error_record.h\"\n#include \"twain/a.h\"\n");
  write("twain/b.cpp", "#include \"orivane/twain.h\"\n");
  write("fileio/c.cpp", "#include \"twain/session.h\"\n");
  // A file in a room of twain/ counts as twain; one room including another does not count.
  write("twain/session/d.cpp", "#include \"twain/capabilities/e.h\"\n#include \"log/trace.h\"\n");
  write("app/f.cpp", "#include \"twain/acquisition/g.h\"\n");
  EXPECT_EQ(run("--counts"),
            "app -> twain 1\nfileio -> twain 1\ntwain -> core 2\ntwain -> include 1\n"
            "twain -> log 1\nrc=0\n");
}

}  // namespace
