// State and helpers shared by the file writers and loaders.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "fileio/output_files.h"

namespace fileio {

struct FileState {
  int save_format = 2;          // FF_BMP
  std::string last_output;      // LastOutputFileName
  int load_page = 0;            // next-load page
  int output_page_count = -1;   // pages of the file being written, -1 unknown
  // While a multipage file writes its stacked image, the writes to its
  // final name go straight into its temporary file.
  std::string direct_final;
  std::string direct_temp;
};

// Sends the writes to `final_path` into `temp_path` while it lives.
class DirectTarget {
 public:
  DirectTarget(const std::string& final_path, const std::string& temp_path);
  ~DirectTarget();
  DirectTarget(const DirectTarget&) = delete;
  DirectTarget& operator=(const DirectTarget&) = delete;
};

FileState& file_state();
void file_state_reset_for_tests();

// Format code of the first bytes (FF_UNKNOWN when nothing matches).
int format_of_bytes(const std::uint8_t* bytes, std::size_t length);

// Writes one output file all-or-nothing: the writer fills temp_path(), a
// temporary file of ours beside the final name (fileio/output_files.h);
// commit() flushes it, moves it to the final name and flushes the folder.
// Destroying an uncommitted output removes the temporary file. Making one
// first sweeps the folder of what killed runs left there.
class AtomicOutput {
 public:
  // `start_from`: a file the temporary starts as a copy of (appends); ""
  // for an empty start. `max_path`: the longest path the writer can take
  // (0: no limit beyond the name limit).
  explicit AtomicOutput(const std::string& final_path, const std::string& start_from = "",
                        std::size_t max_path = 0);

  // 0 when ready, else the errno of the failed creation or copy.
  int status() const { return status_; }
  const std::string& temp_path() const { return temp_.path(); }
  // The final name; after a commit without replacing, the name it took.
  const std::string& final_path() const { return final_; }
  // Moves the file into place: over the final name, or with `replace`
  // false under the next free number. 0 on success, else errno (the
  // temporary file is then removed).
  int commit(bool replace);

 private:
  std::string final_;
  TempFile temp_;
  int status_ = 0;
};

// True when `path` is an existing regular file (what an append adds to).
bool regular_file_exists(const std::string& path);

}  // namespace fileio
