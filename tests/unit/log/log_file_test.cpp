// The log file: header, opening and closing, the default-folder fallback,
// moving the log with TWAIN_SetLogFolder / TWAIN_SetLogName, and which existing
// names the log may take over.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "log/trace.h"
#include "log_test_support.h"
#include "orivane/trace_log.h"
#include "platform/paths.h"

namespace {

using log_test::count_of;
using log_test::LogTest;
using log_test::read_all;
using log_test::split_lines;

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

class LogFileTest : public LogTest {};

TEST_F(LogFileTest, HeaderLinesInOrder) {
  LogSetHeaderTexts("Quillet", "2.99.3.0");
  TWAIN_LogFile(1);
  const std::vector<std::string> lines = split_lines(log_text());
  auto start = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("------ Start of log", 0) == 0;
  });
  ASSERT_NE(start, lines.end());
  ASSERT_GE(lines.end() - start, 13);
  const std::string program = platform::program_path();
  const std::string program_name = program.substr(program.rfind('/') + 1);
  const std::string exact[] = {
      "------ Start of log (" + program_name + ")------",
      "Product          Quillet",
      "Version          2.99.3.0",
      "ORIVANE version: 3.47.2.0",
      "This module:     " + platform::module_path_of(reinterpret_cast<const void*>(&LogPrint)),
      "Calling Process: " + program,
      "Logging to:      " + run_ + "/orivane.log",
  };
  for (std::size_t i = 0; i < std::size(exact); ++i) EXPECT_EQ(start[i], exact[i]);
  // asctime form: "Www Mmm dd hh:mm:ss yyyy".
  auto is_time_line = [](const std::string& line, const std::string& label) {
    const std::string t = line.substr(std::min(line.size(), label.size()));
    return line.rfind(label, 0) == 0 && t.size() == 24 && t[3] == ' ' && t[7] == ' ' &&
           t[13] == ':' && t[16] == ':' && t[19] == ' ';
  };
  EXPECT_TRUE(is_time_line(start[7], "Universal time:  ")) << start[7];
  EXPECT_TRUE(is_time_line(start[8], "Local time:      ")) << start[8];
  EXPECT_EQ(start[9].substr(0, 17), "OS:              ");
  EXPECT_EQ(start[9].substr(start[9].size() - 15), ", local session");
  EXPECT_EQ(start[10], "");
  EXPECT_EQ(start[11].substr(0, 17), "Current State:   ");
  auto libraries = std::find(start, lines.end(), "Loaded Libraries:");
  ASSERT_NE(libraries, lines.end());
  const char* names[] = {"OrvSymbol", "OrvOcr", "OrvCurl", "OrvDcx", "OrvGif",
                         "OrvJpeg",   "OrvPdf", "OrvPng",  "OrvTiff"};
  ASSERT_GE(lines.end() - libraries, 10);
  for (std::size_t i = 0; i < std::size(names); ++i) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%10s: ", names[i]);
    EXPECT_EQ(libraries[1 + i].substr(0, 12), expected);
  }
}

TEST_F(LogFileTest, VersionLineOnlyWhenSet) {
  TWAIN_LogFile(1);
  const std::string text = log_text();
  EXPECT_EQ(count_of(text, "Product          Orivane (x86)\n"), 1);
  EXPECT_EQ(count_of(text, "Version          "), 0);
}

TEST_F(LogFileTest, SecondOpenDoesNotRepeatHeader) {
  TWAIN_LogFile(1);
  TWAIN_LogFile(6);
  EXPECT_EQ(LogLevel(), 6);
  const std::string text = log_text();
  EXPECT_EQ(count_of(text, "------ Start of log"), 1);
  EXPECT_EQ(count_of(text, "TWAIN_LogFile(6)\n"), 1);
}

TEST_F(LogFileTest, LevelZeroWritesEndLineAndCloses) {
  TWAIN_LogFile(1);
  TWAIN_LogFile(0);
  EXPECT_EQ(LogLevel(), 0);
  const std::string text = read_all(LogFullPath());
  const std::string end = "TWAIN_LogFile(0)\n------ End of log ------\n";
  ASSERT_GE(text.size(), end.size());
  EXPECT_EQ(text.substr(text.size() - end.size()), end);
  // Closed: later text does not reach the file.
  LogPrint("after close\n");
  LogFlush();
  EXPECT_EQ(count_of(read_all(LogFullPath()), "after close"), 0);
}

TEST_F(LogFileTest, SetLogNameSplitsFolderAndAddsExtension) {
  struct Case {
    std::string given;
    std::string expected_path;  // relative to the test folder
  };
  const Case cases[] = {
      {"trace", "run/trace.log"},
      {"trace.txt", "run/trace.txt"},
      {"trace.", "run/trace."},
      {dir_ + "/sub/deeper/run", "sub/deeper/run.log"},
      {dir_ + "/other/", "other/orivane.log"},  // no file part: name kept
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    LogResetForTests();
    LogAttach();
    EXPECT_EQ(TWAIN_SetLogName(c.given.c_str()), 1);
    EXPECT_EQ(LogFullPath(), dir_ + "/" + c.expected_path);
  }
}

TEST_F(LogFileTest, SetLogNameKeepsFolderSetBefore) {
  const std::string folder = dir_ + "/logs";
  ASSERT_EQ(TWAIN_SetLogFolder(folder.c_str()), 1);
  ASSERT_EQ(TWAIN_SetLogName("scan"), 1);
  EXPECT_EQ(LogFullPath(), folder + "/scan.log");
}

TEST_F(LogFileTest, MovingAnOpenLogKeepsItsContent) {
  TWAIN_LogFile(1);
  const std::string old_path = LogFullPath();
  LogPrint("before move\n");
  const std::string target = dir_ + "/moved/trace";
  ASSERT_EQ(TWAIN_SetLogName(target.c_str()), 1);
  LogPrint("after move\n");
  EXPECT_FALSE(exists(old_path));
  EXPECT_EQ(LogFullPath(), target + ".log");
  const std::string text = log_text();
  EXPECT_EQ(count_of(text, "------ Start of log"), 1);
  EXPECT_EQ(count_of(text, "before move\nTWAIN_SetLogName(\"" + target + "\")\n"
                           "Logging to:      " + target + ".log\nafter move\n"), 1);
}

// Letter case makes another name here: the log moves, whole, and the name
// it reports is the file it writes.
TEST_F(LogFileTest, SamePathInOtherCaseIsAnotherFile) {
  const std::string folder = dir_ + "/a/";
  ASSERT_EQ(TWAIN_SetLogName((folder + "Trace.log").c_str()), 1);
  TWAIN_LogFile(1);
  LogPrint("before\n");
  ASSERT_EQ(TWAIN_SetLogName((folder + "TRACE.LOG").c_str()), 1);
  LogPrint("after\n");
  LogFlush();
  EXPECT_FALSE(exists(folder + "Trace.log"));
  EXPECT_EQ(LogFullPath(), folder + "TRACE.LOG");
  const std::string text = read_all(folder + "TRACE.LOG");
  EXPECT_EQ(count_of(text, "before\n"), 1);
  EXPECT_EQ(count_of(text, "after\n"), 1);
}

// The default folder is the per-user runtime folder, never the shared
// temporary folder.
TEST_F(LogFileTest, EmptyFolderMeansDefaultFolder) {
  ASSERT_EQ(TWAIN_SetLogFolder((dir_ + "/elsewhere").c_str()), 1);
  for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(TWAIN_SetLogFolder(empty), 1);
    EXPECT_EQ(LogFullPath(), run_ + "/orivane.log");
  }
}

TEST_F(LogFileTest, OpenFallsBackToDefaultFolder) {
  const std::string folder = dir_ + "/logs";
  ASSERT_EQ(TWAIN_SetLogFolder(folder.c_str()), 1);
  // A folder where the log file should be makes the file impossible to open.
  ASSERT_EQ(mkdir((folder + "/orivane.log").c_str(), 0700), 0);
  TWAIN_LogFile(1);
  EXPECT_EQ(LogFullPath(), run_ + "/orivane.log");
  EXPECT_EQ(count_of(log_text(), "Logging to:      " + run_ + "/orivane.log\n"), 1);
}

TEST_F(LogFileTest, FolderThatCannotBeCreatedFailsWithoutChange) {
  TWAIN_LogFile(1);
  const std::string before = LogFullPath();
  const std::string blocker = dir_ + "/file";
  { std::ofstream(blocker) << "x"; }
  EXPECT_EQ(TWAIN_SetLogFolder((blocker + "/sub").c_str()), 0);
  EXPECT_EQ(LogFullPath(), before);
  EXPECT_EQ(count_of(log_text(), "MoveLogFile failed: *!CreateDir GLE(20)\n"), 1);
}

TEST_F(LogFileTest, FailedMoveKeepsLoggingToOldFile) {
  TWAIN_LogFile(1);
  const std::string old_path = LogFullPath();
  // A non-empty folder at the target path can be neither deleted nor replaced.
  const std::string folder = dir_ + "/target";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(mkdir((folder + "/orivane.log").c_str(), 0700), 0);
  { std::ofstream(folder + "/orivane.log/keep") << "x"; }
  EXPECT_EQ(TWAIN_SetLogFolder(folder.c_str()), 0);
  EXPECT_EQ(LogFullPath(), old_path);
  LogPrint("after failed move\n");
  LogFlush();
  const std::string text = read_all(old_path);
  EXPECT_EQ(count_of(text, "MoveLogFile failed: *!MoveFile GLE(39)\n"), 1);  // ENOTEMPTY
  EXPECT_EQ(count_of(text, "after failed move\n"), 1);
}

// An existing name is taken over (and replaced) only when it is this user's
// own plain file; anything else there (a planted link, a FIFO, a second name
// of a file kept elsewhere, another user's file) is left exactly as it was and
// the log opens in the default folder instead. New log files are private.
TEST_F(LogFileTest, ExistingNamesAreTakenOverOnlyWhenOurs) {
  const std::string kept = dir_ + "/kept";  // a file of the user's elsewhere
  const struct Case {
    const char* name;
    std::function<int(const std::string& at)> plant;  // 0 on success
    bool taken;
  } cases[] = {
      {"new.log", [](const std::string&) { return 0; }, true},
      {"own.log", [](const std::string& at) { return std::ofstream(at) << "old run" ? 0 : 1; }, true},
      {"link.log", [&](const std::string& at) { return symlink(kept.c_str(), at.c_str()); }, false},
      {"dangling.log", [&](const std::string& at) { return symlink((dir_ + "/ghost").c_str(), at.c_str()); }, false},
      {"fifo.log", [](const std::string& at) { return mkfifo(at.c_str(), 0600); }, false},
      {"hard.log", [&](const std::string& at) { return link(kept.c_str(), at.c_str()); }, false},
      {"theirs.log", [](const std::string& at) {
         std::ofstream(at) << "old run";
         return geteuid() == 0 ? chown(at.c_str(), 65534, 65534) : -1;  // needs root
       }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    { std::ofstream(kept) << "keep me\n"; }
    const std::string at = dir_ + "/" + c.name;
    if (c.plant(at) != 0) continue;
    struct stat before {};
    lstat(at.c_str(), &before);
    LogResetForTests();
    LogAttach();
    ASSERT_EQ(TWAIN_SetLogName(at.c_str()), 1);
    TWAIN_LogFile(1);  // a FIFO would hold it here
    const std::string path = c.taken ? at : run_ + "/" + c.name;
    EXPECT_EQ(LogFullPath(), path);
    EXPECT_EQ(count_of(log_text(), "------ Start of log"), 1);
    EXPECT_EQ(count_of(log_text(), "old run"), 0);
    EXPECT_EQ(read_all(kept), "keep me\n");
    EXPECT_FALSE(exists(dir_ + "/ghost"));
    // A file the log creates (here or in the fallback folder) is private.
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    if (before.st_ino == 0 || !c.taken) {
      EXPECT_EQ(after.st_mode & 0777, 0600u);
    }
    if (!c.taken) {
      ASSERT_EQ(lstat(at.c_str(), &after), 0);
      EXPECT_EQ(after.st_ino, before.st_ino);
      EXPECT_EQ(after.st_size, before.st_size);
    }
  }
}

// Moving the log never replaces another user's file: the move fails and the
// log stays where it was.
TEST_F(LogFileTest, MovingNeverReplacesAnotherUsersFile) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  TWAIN_LogFile(1);
  const std::string old_path = LogFullPath();
  const std::string target = dir_ + "/theirs.log";
  { std::ofstream(target) << "their text\n"; }
  ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
  EXPECT_EQ(TWAIN_SetLogName(target.c_str()), 0);
  EXPECT_EQ(LogFullPath(), old_path);
  EXPECT_EQ(read_all(target), "their text\n");
  EXPECT_EQ(count_of(log_text(), "MoveLogFile failed: *!MoveFile GLE(13)\n"), 1);  // EACCES
}

}  // namespace
