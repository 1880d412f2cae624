// The front end's process-wide state and the report: key=value lines headed
// by "[Quillet]", each key present once, at the place of its latest write.
#pragma once
#include <cstdint>
#include <cstdio>
#include <list>
#include <string>
#include <unordered_map>

#define QUILLET_PRINTF(f, a) __attribute__((format(printf, f, a)))

// The program's version: the project's version in CMakeLists.txt, and a
// fourth number the releases have always carried.
constexpr const char* kAppVersion = QUILLET_VERSION_TEXT;
constexpr std::size_t kReportLineMax = 1023;  // characters of one line
constexpr std::size_t kAppNameMax = 127;

// The report keeps every line: a long feeder run writes one "File<n>=" line
// per page and none of them may be lost, so there is no fixed size. Lines
// are indexed by key so that a run of many pages stays linear.
class Report {
 public:
  void add(std::string line);
  std::string text() const;
  void clear();

 private:
  std::list<std::string> lines_;
  std::unordered_map<std::string, std::list<std::string>::iterator> by_key_;
};

// Why a run failed, as the user was told, with the library's error at
// that moment (exit_status.h).
struct FailureNote {
  std::string message;     // "" when nothing was noted
  int error_code = 0;      // ERR_ code recorded then, 0 if none
  int condition_code = 0;  // the device's TWCC_ code with it, 0 if none
};

// The pages of one scan run, for the report's batch lines.
struct BatchCounts {
  int asked = 0;          // pages the run set out to store, -1 all
  int delivered = 0;      // pages the device delivered
  int blank_dropped = 0;  // of those, dropped as blank
};

// The run's file when it goes to a stream (stream_output.h).
struct StreamOutput {
  std::string target;  // the command line's name ("-", "/dev/stdout"), "" when none
  std::string folder;  // the private folder the file is written in
};

struct FrontEnd {
  Report report;
  std::FILE* report_stream = nullptr;  // nullptr: standard output
  int exit_code = 0;
  std::string app_name = "Quillet";
  std::string command_line;        // the raw command line of this run
  std::string start_folder;
  int file_counter = 0;
  std::uintptr_t main_window = 0;
  FailureNote failure;  // of the request under way
  BatchCounts batch;    // of the scan under way
  StreamOutput stream;  // of the scan under way
};

FrontEnd& front_end();
void front_end_reset_for_tests();

// Formats one line and adds it to the report by the key rule.
void ReportLine(const char* format, ...) QUILLET_PRINTF(1, 2);
// Writes the report to its stream (closing a report file).
void write_report();
