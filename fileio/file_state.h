// State and helpers shared by the file writers and loaders.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace fileio {

struct FileState {
  int save_format = 2;          // FF_BMP
  std::string last_output;      // LastOutputFileName
  int load_page = 0;            // next-load page
  int output_page_count = -1;   // pages of the file being written, -1 unknown
};

FileState& file_state();
void file_state_reset_for_tests();

// Format code of the first bytes (FF_UNKNOWN when nothing matches).
int format_of_bytes(const std::uint8_t* bytes, std::size_t length);

// Writes one output file all-or-nothing: the writer fills temp_path(), a new
// name in the final folder; commit() flushes it to disk, renames it over the
// final name and flushes the folder. Destroying an uncommitted output
// removes the temporary file. With `keep_existing` (appends) the existing
// final file is copied to the temporary name first.
class AtomicOutput {
 public:
  AtomicOutput(const std::string& final_path, bool keep_existing);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  // 0 when ready, else the errno of the failed copy.
  int status() const { return status_; }
  const std::string& temp_path() const { return temp_; }
  // 0 on success, else errno (the temporary file is then removed).
  int commit();

 private:
  std::string final_;
  std::string temp_;
  int status_ = 0;
  bool committed_ = false;
};

}  // namespace fileio
