// The server's listening socket: what is left at its name decides whether a
// server may start there, and it is born private.
#include "platform/local_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

std::string fresh_folder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "local-socket-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return "";
  return pattern;
}

// A socket file with nobody listening: what a killed server leaves.
void leave_stale_socket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);
}

TEST(LocalListener, TakesOverOnlyWhatAKilledServerLeft) {
  const struct {
    const char* left;  // what lies at the socket's name before
    int expected;      // listen_at's answer
  } cases[] = {
      {"nothing", 0},
      {"stale socket", 0},
      {"plain file", EEXIST},
      {"link", EEXIST},
      {"link as lock", EEXIST},
      {"live server", EADDRINUSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.left);
    const std::string folder = fresh_folder();
    const std::string path = folder + "/Talven.Quillet";
    const std::string left = c.left;
    platform::LocalListener other;
    if (left == "stale socket") leave_stale_socket(path);
    if (left == "plain file") std::ofstream(path) << "x";
    if (left == "link") std::filesystem::create_symlink(folder + "/elsewhere", path);
    if (left == "link as lock") std::filesystem::create_symlink(folder + "/elsewhere", path + ".lock");
    if (left == "live server") ASSERT_EQ(other.listen_at(path), 0);

    platform::LocalListener listener;
    EXPECT_EQ(listener.listen_at(path), c.expected);
    struct stat st {};
    if (c.expected == 0) {
      ASSERT_EQ(::lstat(path.c_str(), &st), 0);
      EXPECT_TRUE(S_ISSOCK(st.st_mode));
      EXPECT_EQ(st.st_mode & 0777, 0600u);
      listener.close();
      EXPECT_NE(::lstat(path.c_str(), &st), 0) << "the socket goes with the server";
    } else if (left != "live server") {
      const std::string planted = left == "link as lock" ? path + ".lock" : path;
      EXPECT_EQ(::lstat(planted.c_str(), &st), 0) << "what was there stays";
      EXPECT_FALSE(std::filesystem::exists(folder + "/elsewhere")) << "never followed";
    }
    other.close();
    std::filesystem::remove_all(folder);
  }
}

}  // namespace
