// Runs in a hostile neighbourhood: another local user planting links and
// files where the trace log goes, or listening on our sockets as a fake
// server; configs and images that are FIFOs or endless devices; modules cut
// short by an interrupted copy.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "../module_cut.h"
#include "../other_user.h"
#include "run_program.h"

namespace {

std::string build_file(const std::string& name) {
  const std::string program = quillet_program();
  return program.substr(0, program.rfind('/') + 1) + name;
}

std::string replace_all(std::string text, const std::string& what, const std::string& with) {
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

// The test's folders: `shared` is writable by anyone (sticky, like /tmp),
// `own` is private. Removed at the end.
struct Folders {
  Folders() : outer(other_user::make_passable_folder()) {
    mkdir(shared.c_str(), 0777);
    chmod(shared.c_str(), 01777);
    mkdir(own.c_str(), 0700);
  }
  ~Folders() { std::filesystem::remove_all(outer); }
  std::string outer, shared = outer + "/shared", own = outer + "/own";
};

TEST(AnotherUser, PlantedLogNamesAreNeitherFollowedNorTakenOver) {
  if (const std::string why = other_user::cannot_act_as_other_user(); !why.empty())
    GTEST_SKIP() << why;
  struct Case {
    const char* plant;     // run as the other user: $S = shared folder, $V = victim file
    bool shared_runtime;   // XDG_RUNTIME_DIR is the shared folder, else the own one
    const char* log_name;  // in the shared folder ("" = /LOG, the default name)
    const char* planted;   // what the planted file holds ("" for a link)
  };
  const Case cases[] = {
      {"ln -s $V $S/orivane.log", true, "", ""},
      {"ln -s $V $S/x.log", false, "x.log", ""},
      {"umask 0; echo planted > $S/x.log", false, "x.log", "planted\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plant);
    Folders f;
    const std::string victim = f.own + "/victim.txt";
    { std::ofstream(victim) << "the victim's own file\n"; }
    ASSERT_EQ(other_user::run(replace_all(replace_all(c.plant, "$S", f.shared), "$V", victim)), 0);
    const std::string name = *c.log_name ? c.log_name : "orivane.log";
    const std::string log_switch = *c.log_name ? "/LOGFILE=" + f.shared + "/" + name : "/LOG";
    RunResult r = run_quillet(
        {log_switch, "/NOSCAN"},
        {{"HOME", f.own}, {"TMPDIR", f.own}, {"XDG_RUNTIME_DIR", c.shared_runtime ? f.shared : f.own}},
        f.own);
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(read_file(victim), "the victim's own file\n");
    struct stat st {};
    ASSERT_EQ(lstat((f.shared + "/" + name).c_str(), &st), 0);
    if (*c.planted) {
      EXPECT_EQ(read_file(f.shared + "/" + name), c.planted);
    } else {
      EXPECT_TRUE(S_ISLNK(st.st_mode));
    }
    // The log went to the user's own runtime folder (the private fallback
    // when the one named is shared).
    const std::string log =
        (c.shared_runtime ? "/tmp/Talven-" + std::to_string(getuid()) : f.own) + "/" + name;
    EXPECT_NE(read_file(log).find("Logging to:      " + log + "\n"), std::string::npos) << log;
  }
}

// A world-writable runtime folder is not used at all; a private one holding
// another user's socket is, but that listener is refused by its credentials.
// Either way the other user gets nothing, and a forged reply is not believed.
TEST(AnotherUser, ListenersOfAnotherUserGetNothingAndAreNotBelieved) {
  if (const std::string why = other_user::cannot_act_as_other_user(); !why.empty())
    GTEST_SKIP() << why;
  for (const bool server : {true, false}) {
    for (const bool private_folder : {false, true}) {
      SCOPED_TRACE(std::string(server ? "server" : "viewer") +
                   (private_folder ? " in a private folder" : " in a shared folder"));
      Folders f;
      const std::string socket = f.shared + (server ? "/Talven.Quillet" : "/Talven-log");
      other_user::FakePeer peer(build_file("tests/fake_peer"), socket, server,
                                "[Quillet]\nFile1=/forged/page.tif\nExit=0\n", f.outer + "/got");
      ASSERT_TRUE(peer.ready());
      if (private_folder) {
        ASSERT_EQ(chmod(f.shared.c_str(), 0700), 0);
      }
      // The trace log only where it stays in the test's folder.
      std::vector<std::string> args = server ? std::vector<std::string>{"/BG", "/N=1", "a.tif"}
                                             : std::vector<std::string>{"/NOSCAN"};
      if (private_folder) args.insert(args.begin(), "/LOG");
      RunResult r = run_quillet(args, {{"HOME", f.own}, {"TMPDIR", f.own},
                                       {"XDG_RUNTIME_DIR", f.shared}, {"QUILLET_UI", "none"}},
                                f.own);
      EXPECT_EQ(peer.received(), "");
      EXPECT_EQ(r.out.find("forged"), std::string::npos) << r.out;
      EXPECT_EQ(r.exit_status, server ? 251 : 0) << r.out << r.err;
      if (server) {
        EXPECT_EQ(report_value(r.out, "Error").rfind("Error sending command to Quillet server.", 0),
                  0u);
      }
      if (private_folder) {
        const std::string why = server ? socket + " is served by user 65534, not by this user"
                                       : "*Pipe Check: the listener runs as user 65534";
        EXPECT_NE(read_file(f.shared + "/orivane.log").find(why), std::string::npos);
      }
    }
  }
}

// Lets a run that wrongly waits on a FIFO go on after a while (by opening the
// other end), so that the test fails instead of hanging.
class FifoGuard {
 public:
  explicit FifoGuard(const std::string& path)
      : thread_([this, path] {
          for (int waited_ms = 0; !done_; waited_ms += 50) {
            const int fd = waited_ms > 10000 ? open(path.c_str(), O_WRONLY | O_NONBLOCK) : -1;
            if (fd >= 0) {
              released_ = true;
              close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
          }
        }) {}
  ~FifoGuard() {
    done_ = true;
    thread_.join();
  }
  bool released() const { return released_; }

 private:
  std::atomic<bool> done_{false}, released_{false};
  std::thread thread_;
};

TEST(OutsideFiles, ScannerConfigIsReadOnlyAsARegularFileUpToTheCap) {
  const std::string home = make_temp_folder();
  const std::string fifo = home + "/fifo", at_cap = home + "/at", over = home + "/over";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string head = "[device]\nproduct = Padded Scanner\n";
  std::ofstream(at_cap) << head << std::string((1u << 20) - head.size(), '#');
  std::ofstream(over) << head << std::string((1u << 20) + 1 - head.size(), '#');
  struct Case {
    std::string config;
    const char* why;  // nullptr: read
  };
  for (const Case& c : {Case{fifo, "not a regular file"}, Case{"/dev/zero", "not a regular file"},
                        Case{over, "larger than 1048576 bytes"}, Case{at_cap, nullptr}}) {
    SCOPED_TRACE(c.config);
    FifoGuard guard(fifo);
    RunResult r = run_quillet({"/ENUM"}, {{"HOME", home}, {"TMPDIR", home},
                                          {"XDG_RUNTIME_DIR", home}, {"QUILLET_VSCAN", c.config}});
    EXPECT_FALSE(guard.released()) << "the run waited on the FIFO";
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(report_value(r.out, "Source1"), c.why ? "" : "Padded Scanner") << r.out;
    if (c.why) {
      EXPECT_NE(r.err.find("VirtualScanner: " + c.config + ": cannot read the file (" + c.why +
                           "); no devices\n"),
                std::string::npos)
          << r.err;
    }
  }
}

TEST(OutsideFiles, TheImageToolRefusesAFifoAtOnce) {
  const std::string fifo = make_temp_folder() + "/page.tif";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  FifoGuard guard(fifo);
  RunResult r = run_orivane({"info", fifo});
  EXPECT_FALSE(guard.released()) << "the tool waited on the FIFO";
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "orivane info: cannot read " + fifo + ": not a regular file\n");
}

// Modules cut short inside their loadable part would end the run with SIGBUS
// inside the loader; they are refused with their load messages instead.
TEST(DamagedModules, AreRefusedWithTheirLoadMessages) {
  const std::string home = make_temp_folder();
  auto cut_copy = [&](const std::string& name, const std::string& as) {
    const std::string path = home + "/" + as;
    std::ofstream(path, std::ios::binary) << module_cut::cut_in_segments(read_file(build_file(name)));
    return path;
  };
  const std::string dsm = cut_copy("libtwaindsm.so", "libtwaindsm.so");
  std::filesystem::create_directory(home + "/sources");
  const std::string source = cut_copy("twain/VirtualScanner.ds", "sources/Cut.ds");
  const std::map<std::string, std::string> env = {
      {"HOME", home}, {"TMPDIR", home}, {"XDG_RUNTIME_DIR", home}, {"QUILLET_UI", "none"},
      {"QUILLET_TWAIN_PATH", home + "/sources"}, {"QUILLET_DSM_LOG", home + "/dsm.log"}};
  RunResult listed = run_quillet({"/ENUM"}, env);
  EXPECT_EQ(listed.exit_status, 0) << listed.out << listed.err;
  EXPECT_EQ(report_value(listed.out, "Source1"), "Virtual Scanner");
  EXPECT_NE(read_file(home + "/dsm.log").find("cannot load " + source + ": " + source + ": a segment"),
            std::string::npos);

  auto with_dsm = env;
  with_dsm["QUILLET_DSM_PATH"] = dsm;
  RunResult refused = run_quillet({"/ENUM", "/LOG"}, with_dsm);
  EXPECT_EQ(refused.exit_status, 255) << refused.out << refused.err;
  EXPECT_NE(refused.err.find("Could not load System TWAIN Manager: 'libtwaindsm.so'"),
            std::string::npos);
  const std::string log = read_file(home + "/orivane.log");
  const std::size_t failed = log.find("LoadLibrary(" + dsm + ") failed GLE(2)\n");
  ASSERT_NE(failed, std::string::npos) << log;
  EXPECT_NE(log.find(dsm + ": a segment lies past the end of the file (truncated copy?)\n", failed),
            std::string::npos);
}

}  // namespace
