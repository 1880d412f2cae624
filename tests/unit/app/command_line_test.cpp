// Command lines as text: the C runtime's splitting rules, and the quoting that
// makes the server rebuild exactly the client's argument vector.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "app/app.h"
#include "app/client.h"
#include "app/options.h"
#include "../test_support.h"
#include "orivane/file_options.h"
#include "orivane/twain_switches.h"

namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheRuntimeRules) {
  const struct {
    const char* text;
    Args args;
  } cases[] = {
      {"", {}},
      {"q", {"q"}},
      {"\"C:\\Program Files\\q.exe\" /N=2", {"C:\\Program Files\\q.exe", "/N=2"}},
      {"\"a\\\"b c", {"a\\", "b", "c"}},  // no escapes in the program name
      {"q  a\t\tb ", {"q", "a", "b"}},
      {"q \"a b\" c", {"q", "a b", "c"}},
      {"q \"\" x", {"q", "", "x"}},
      {"q a\\\\b", {"q", "a\\\\b"}},           // backslashes alone are literal
      {"q a\\\"b", {"q", "a\"b"}},             // 2n+1 before a quote: a literal quote
      {"q a\\\\\"b c\"", {"q", "a\\b c"}},     // 2n before a quote: n, and quoting
      {"q a\\\\\\\"b", {"q", "a\\\"b"}},
      {"q \"a\"\"b\"", {"q", "a\"b"}},         // two quotes inside quotes
      {"q a\"b c", {"q", "ab c"}},             // quoting runs to the end
      {"q \"a b\\\\\"", {"q", "a b\\"}},
      {"q \xc3\xa9t\xc3\xa9 x", {"q", "\xc3\xa9t\xc3\xa9", "x"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.text), c.args) << c.text;
}

// Random vectors of the characters that matter to the rules: every one comes
// back unchanged through the client's command line and the server's split.
TEST(SplitCommandLine, GivesBackEveryQuotedVector) {
  std::mt19937 random(20261208);
  const std::string alphabet = " \t\"\\ab/=\xc3\xa9'\n";
  for (int round = 0; round < 5000; ++round) {
    Args args = {"quillet"};
    const int count = static_cast<int>(random() % 6);
    for (int i = 0; i < count; ++i) {
      std::string arg;
      const int length = static_cast<int>(random() % 9);
      for (int k = 0; k < length; ++k) arg += alphabet[random() % alphabet.size()];
      args.push_back(arg);
    }
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    const std::string line = raw_command_line(static_cast<int>(argv.size()), argv.data());
    // What the server splits: its own program name and the client's text.
    Args back = SplitCommandLine("Quillet " + request_text_of(line));
    back[0] = "quillet";
    ASSERT_EQ(back, args) << line;
  }
}

// A server reads many requests: what one asked of the library is gone when
// the next starts from the fresh settings.
TEST(RequestLibrarySettings, PutBackWhatARequestChanged) {
  ResetForTests();
  const RequestLibrarySettings fresh = TakeRequestLibrarySettings();
  for (const Args& switches : {Args{"/JPEG", "/Q=30", "/APPEND", "x.jpg"},
                               Args{"/PDF", "/PDFA", "/FLATE", "x.pdf"}, Args{"/BLANK=5%", "x.tif"}}) {
    Args args = {"quillet"};
    args.insert(args.end(), switches.begin(), switches.end());
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    ScanRequest r;
    std::string message;
    ReadRequest(r, static_cast<int>(argv.size()), argv.data(), message);
    RestoreRequestLibrarySettings(fresh);
    const RequestLibrarySettings now = TakeRequestLibrarySettings();
    EXPECT_EQ(now.jpeg_quality, fresh.jpeg_quality) << switches[0];
    EXPECT_EQ(now.append, fresh.append) << switches[0];
    EXPECT_EQ(now.pdfa_level, fresh.pdfa_level) << switches[0];
    EXPECT_EQ(now.pdf_compression, fresh.pdf_compression) << switches[0];
    EXPECT_EQ(now.blank_threshold, fresh.blank_threshold) << switches[0];
    EXPECT_EQ(TWAIN_GetJpegQuality(), fresh.jpeg_quality);
  }
}

}  // namespace
