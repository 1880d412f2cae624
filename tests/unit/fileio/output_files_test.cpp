// Temporary and lock files beside a user's file: names that fit and tell
// themselves apart from user files, the sweep that takes only dead files of
// ours (whatever PID namespace their writer lived in), name locks, and
// moving into place without replacing.
#include "fileio/output_files.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "../../tool_support.h"

namespace {

namespace fs = std::filesystem;

class OutputFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/output-files-XXXXXX";
    dir_ = std::string(mkdtemp(tmpl)) + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string at(const std::string& name) const { return dir_ + name; }
  void touch(const std::string& name, const std::string& text = "x") const { std::ofstream(at(name)) << text; }

  std::string dir_;
};

TEST_F(OutputFilesTest, TemporaryNamesFitWheneverTheFinalNameFits) {
  struct Case {
    std::size_t base;      // characters of the final name before ".pdf"
    std::size_t max_path;  // 0: the name limit only
  };
  for (const Case c : {Case{1, 0}, Case{60, 0}, Case{232, 0}, Case{251, 0}, Case{40, 0}, Case{240, 255}}) {
    SCOPED_TRACE(c.base);
    const std::string final_name = std::string(c.base, 'a') + ".pdf";
    fileio::TempFile t(at(final_name), c.max_path);
    ASSERT_EQ(t.status(), 0);
    const std::string name = fs::path(t.path()).filename();
    EXPECT_LE(name.size(), fileio::kNameMax);
    if (c.max_path) EXPECT_LE(t.path().size(), c.max_path);
    EXPECT_TRUE(fileio::is_our_leftover(name)) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".pdf");  // the extension survives a cut
    EXPECT_TRUE(fs::exists(t.path()));
  }
  // Every temporary is gone with its owner; a folder too deep for the limit refuses.
  EXPECT_TRUE(fs::is_empty(dir_));
  EXPECT_EQ(fileio::TempFile(at("x.tif"), dir_.size() + 5).status(), ENAMETOOLONG);
}

TEST_F(OutputFilesTest, TheSweepTakesOnlyOurDeadFiles) {
  fileio::TempFile live(at("live.tif"));
  ASSERT_EQ(live.status(), 0);
  // A dead run's temporary and lock file: tagged, held by nobody.
  const std::string dead_temp = ".orv-tmp.0123456789abcdef.scan.pdf";
  const std::string dead_lock = fs::path(fileio::lock_path_of(at("scan.pdf"))).filename();
  touch(dead_temp);
  touch(dead_lock);
  // User files, some shaped like the temporaries of other programs (and of
  // older versions of ours, which a pid told apart): never ours to take.
  const std::vector<std::string> users = {".backup.2024.12.31.part", ".scan.tif.4242.1.1.part",
                                          ".orv-tmp.notahexnumber.x", ".orv-lock.0123", "orv-tmp.0123456789abcdef.x"};
  for (const auto& u : users) touch(u);
  fileio::sweep_leftovers(at("anything"));
  EXPECT_TRUE(fs::exists(live.path()));
  EXPECT_FALSE(fs::exists(at(dead_temp)));
  EXPECT_FALSE(fs::exists(at(dead_lock)));
  for (const auto& u : users) EXPECT_TRUE(fs::exists(at(u))) << u;
}

// A writer in another PID namespace (a container sharing the folder) has a
// pid that means nothing here; its lock still says it is alive.
TEST_F(OutputFilesTest, AWriterInAnotherPidNamespaceKeepsItsTemporary) {
  if (::geteuid() != 0 || !test_tools::have_tool("unshare") || !test_tools::have_tool("flock"))
    GTEST_SKIP() << "needs root, unshare and flock";
  const std::string temp = at(".orv-tmp.fedcba9876543210.big.pdf");
  touch(temp);
  const std::string ready = at("ready");
  const std::string command = "unshare --pid --fork flock " + temp + " sh -c 'touch " + ready +
                              "; sleep 3' >/dev/null 2>&1 &";
  ASSERT_EQ(std::system(command.c_str()), 0);
  for (int i = 0; i < 200 && !fs::exists(ready); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!fs::exists(ready)) GTEST_SKIP() << "this machine does not allow a new PID namespace";
  fileio::sweep_leftovers(at("x"));
  EXPECT_TRUE(fs::exists(temp));
}

TEST_F(OutputFilesTest, ANameIsHeldByOneRunAtATime) {
  fileio::NameLock first(at("archive.pdf"), 0);
  ASSERT_TRUE(first.held());
  const auto start = std::chrono::steady_clock::now();
  fileio::NameLock second(at("archive.pdf"), 200);
  EXPECT_FALSE(second.held());
  EXPECT_EQ(second.status(), EWOULDBLOCK);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  // Another name is free; a waiter gets the name as soon as it is released.
  EXPECT_TRUE(fileio::NameLock(at("other.pdf"), 0).held());
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    first = fileio::NameLock();
  });
  fileio::NameLock third(at("archive.pdf"), 5000);
  release.join();
  EXPECT_TRUE(third.held());
  third = fileio::NameLock();
  EXPECT_TRUE(fs::is_empty(dir_));  // lock files leave with their holders
}

TEST_F(OutputFilesTest, NumberedNamesCountUp) {
  const std::pair<const char*, const char*> cases[] = {
      {"/s/page0001.tif", "/s/page0002.tif"}, {"doc99.tif", "doc100.tif"},  {"scan.tif", "scan1.tif"},
      {"a9/b.pdf", "a9/b1.pdf"},               {"x.y/12", "x.y/13"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(fileio::next_numbered_name(in), out) << in;
}

TEST_F(OutputFilesTest, MovingWithoutReplacingTakesTheNextFreeNumber) {
  touch("p0001.tif", "old1");
  touch("p0002.tif", "old2");
  touch("new", "new");
  std::string to = at("p0001.tif");
  ASSERT_EQ(fileio::move_into_place(at("new"), &to, false), 0);
  EXPECT_EQ(to, at("p0003.tif"));
  std::ifstream in(at("p0001.tif"));
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "old1");
  touch("again", "again");
  to = at("p0001.tif");
  ASSERT_EQ(fileio::move_into_place(at("again"), &to, true), 0);  // asked to replace: replaces
  EXPECT_EQ(to, at("p0001.tif"));
}

}  // namespace
