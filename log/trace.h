// The trace log: every operation of the library writes what it was asked and
// what it did through these few print operations. Text is collected in one
// line buffer and written out to the log file (when the level is above 0) and
// to a log viewer listening on the per-user socket "Talven-log". Lines are
// indented three spaces per nesting level, and a "[THREAD n]" line marks each
// change of the writing thread at a line start.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/memblock.h"

#define ORV_PRINTF(f, a) __attribute__((format(printf, f, a)))

// Appends the formatted text unchanged. A null format flushes (LogFlush).
void LogPrint(const char* format, ...) ORV_PRINTF(1, 2);
// Ends any partial line, then writes "TWAIN_" and the formatted text under one
// hold of the lock. An empty format writes "TWAIN_" alone.
void LogApiCall(const char* format, ...) ORV_PRINTF(1, 2);
// The same with the prefix "DIB_".
void LogDibCall(const char* format, ...) ORV_PRINTF(1, 2);
// Appends "\n" unless the buffer is at a line start.
void LogNewLine();
// Writes the buffer out and flushes the file.
void LogFlush();

// Trace nesting depth: raised around operations whose inner steps are traced as
// children. A plain shared counter, not per thread.
void LogDepthUp();
void LogDepthDown();
int LogDepth();

// Raises the depth for the lifetime of the object.
class LogNest {
 public:
  LogNest() { LogDepthUp(); }
  ~LogNest() { LogDepthDown(); }
  LogNest(const LogNest&) = delete;
  LogNest& operator=(const LogNest&) = delete;
};

// The log level: 0 = file off; bit 2 = write out after every call; bit 4 =
// verbose (event pump and routine event forwarding).
int LogLevel();
constexpr int kLogFlushEachCall = 2;
constexpr int kLogVerbose = 4;
// Sets the stored level without opening or closing the file (used to raise a
// level of 0 to 1 for the duration of one wait and restore it after).
void LogSetLevelOnly(int level);

// Header texts shown in the log's header: product (default "Orivane (x86)")
// and version (default empty, line left out when empty).
void LogSetHeaderTexts(const std::string& product, const std::string& version);

// Dumps a DIB block: "hdib=0x%08x " and the header, colour table and a few
// middle rows (see log_dump.cpp).
void LogDumpDib(platform::MemHandle dib);
// Dumps a locked DIB header given the size of the block that holds it.
void LogDumpDibHeader(const void* header, std::size_t block_size);

// Library attach/detach: create the lock and empty the buffer ("LogInitialize"),
// and at detach end the line, print "LogShutdown", flush, close the pipe.
void LogAttach();
void LogDetach();
bool LogAttached();

// Full path of the log file (folder + name) as the header shows it.
std::string LogFullPath();

// Facts the header shows that belong to other subsystems; filled in by the
// TWAIN session (twain/session/log_facts.cpp).
struct LogHeaderFacts {
  std::string state_name;            // name of the current TWAIN state
  bool source_open = false;          // state above 3
  std::string source_product;        // open source's product name
  unsigned source_major = 0, source_minor = 0;
  std::string source_manufacturer;
  struct Library {
    std::string name;                // "OrvSymbol", "OrvOcr", ...
    bool loaded = false;
    int version = 0;                 // e.g. 102 for 1.02
    std::string path;
  };
  std::vector<Library> libraries;    // in header order
};
LogHeaderFacts log_collect_header_facts();

// The product name the application registered (TWAIN_WriteToLog's prefix).
std::string log_application_title();

// Test support: closes the file and the pipe, forgets all state.
void LogResetForTests();

// Internals shared by the log's own source files (log/*.cpp). The one set of
// log state lives in trace.cpp; the other files reach it only through these.
namespace log_detail {

// Opens the log file at folder + name unless one is open (falling back to the
// default folder), sets the active flag and stores `level`. Returns whether
// a file was open before the call, so the caller knows to write the header.
bool open_log_file(int level);
// Writes the buffer out, closes the file and stores level 0.
void close_log_file();
// Stores a new folder (ending in "/"), name and full path, and moves an open
// log file when the full path changes other than in letter case. Returns the
// error text ("" on success).
std::string relocate_log(const std::string& folder, const std::string& name);
// The current folder (ending in "/") and name of the log file.
std::string log_folder();
std::string log_name();
// The product and version texts of the header.
std::string header_product();
std::string header_version();

// log_file.cpp: the header, the default folder and the file primitives.
void write_header();
// The default folder (ending in "/"): the per-user runtime folder, which no
// other user can write into; "" when there is none.
std::string default_log_folder();

// Opening the log at its first open replaces what an earlier run left;
// reopening it after a move appends.
enum class LogOpenMode { Replace, Append };
// Opens the log file unbuffered. A new file is created with mode 0600. An
// existing name is used only when it is a regular file of this user with no
// other name (hard link): a link planted at the name is never followed, and a
// file of another user, a FIFO or a device is never truncated or written.
// nullptr (errno set) when refused or failed.
std::FILE* open_log_stream(const std::string& path, LogOpenMode mode);
// Moves a file, replacing a file of this user at `to` (never another user's).
// Returns 0 or the error number.
int move_file(const std::string& from, const std::string& to);
// The folder the log falls back to when it cannot be opened where asked: the
// default folder ("" when it cannot be used).
std::string fallback_log_folder();

// log_pipe.cpp: the socket a log viewer listens on.
std::string pipe_path();
// Connects to the viewer. Returns the socket, or -1 with *error = 0 when no
// viewer is listening and the error number for any other failure. A listener
// that runs as another user is refused with EPERM and its user id in
// `*out_foreign_uid` (-1 otherwise; may be null).
int pipe_connect(int* error, long* out_foreign_uid = nullptr);
// Sends all bytes without blocking; false when the viewer is gone or stalled.
bool pipe_send(int fd, const char* data, std::size_t size);
void pipe_close(int fd);

}  // namespace log_detail

// Test support: takes or releases the log lock as a stuck thread would.
void LogLockForTests(bool take);
