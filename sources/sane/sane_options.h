// The SANE side of the bridge: libsane started once per process, the devices
// it lists, and the options of an open device read and written as plain
// numbers and strings. Nothing here knows TWAIN.
#pragma once
#include <sane/sane.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sanebridge {

// Starts libsane once (it reads SANE_CONFIG_DIR itself); false when it
// cannot be started. sane_exit runs when the bridge is unloaded.
bool sane_library_start();

struct DeviceInfo {
  std::string name;  // what sane_open takes ("test:0")
  std::string vendor;
  std::string model;
  std::string type;  // "flatbed scanner", "virtual device"...
};
// The devices libsane finds now (empty when it cannot be started).
std::vector<DeviceInfo> sane_list_devices();

// The threads and pipes a scan start left running in this process: the
// backend's reader thread, writing the scan into a pipe the backend reads
// from in sane_read. libsane stops such a reader with pthread_cancel, and
// cancels asynchronously: a reader cancelled inside the C library (malloc,
// or the message catalogue strerror takes the locale lock for, which a
// reader reaches the moment sane_cancel closes the pipe under its write)
// dies holding that lock, and the next setlocale, newlocale/freelocale or
// malloc in the process waits for ever. The bridge keeps the reader from
// being cancelled there: it holds its own copy of the pipe's read end, so
// closing the backend's copy does not fail the reader's write, drains the
// pipe on an abort so the reader runs to its end, and waits for the reader
// to be gone before the backend's last read or sane_cancel (a reader that
// does not end within the wait is stuck on its device, and is cancelled as
// libsane does).
class ReaderWatch {
 public:
  ReaderWatch() = default;
  ~ReaderWatch() { release(); }
  ReaderWatch(const ReaderWatch&) = delete;
  ReaderWatch& operator=(const ReaderWatch&) = delete;

  // Around sane_start: what was there before, then what it added.
  void before_start();
  void after_start();
  // Whether the pipe already holds `remaining` bytes (the reader has written
  // the whole frame); false when not known.
  bool all_written(std::size_t remaining) const;
  // Waits at most `wait` for the readers to end; with `drain`, reading and
  // dropping what they write meanwhile.
  void settle(bool drain, std::chrono::milliseconds wait);
  // Closes the copies (after sane_cancel).
  void release();

 private:
  std::vector<int> tasks_before_, fds_before_;
  std::vector<int> readers_;  // thread ids
  std::vector<int> pipes_;    // our copies of the pipes' read ends
};

// An open SANE device, closed with the object.
class SaneDevice {
 public:
  // Opens `name`; null with `out_status` set on failure.
  static std::unique_ptr<SaneDevice> open(const std::string& name, SANE_Status& out_status);
  ~SaneDevice();
  SaneDevice(const SaneDevice&) = delete;
  SaneDevice& operator=(const SaneDevice&) = delete;
  SANE_Handle handle() const { return handle_; }

  // sane_start, watching the reader it starts.
  SANE_Status start();
  // sane_read of a frame that has `remaining` bytes still to come (0: not
  // known); the reader is let end before the read that ends the frame.
  SANE_Status read(SANE_Byte* data, SANE_Int max, SANE_Int& got, std::size_t remaining);
  // Ends the scan under way (sane_cancel) once its reader has ended.
  void cancel();

 private:
  explicit SaneDevice(SANE_Handle handle) : handle_(handle) {}
  SANE_Handle handle_;
  ReaderWatch watch_;
};

// One option of a device, found by name: settable and active when found.
struct Option {
  SANE_Int index = -1;
  const SANE_Option_Descriptor* desc = nullptr;
  explicit operator bool() const { return desc != nullptr; }
};
Option option_find(SANE_Handle handle, const char* name);
// The same for options the device only reports (sensors): active, settable
// or not.
Option option_find_readable(SANE_Handle handle, const char* name);

// What a number option takes: a range (min, max, quant; quant 0 for any
// value) or a list. Fixed-point values come as real numbers.
struct NumberChoices {
  bool is_list = false;
  std::vector<double> list;
  double min = 0, max = 0, quant = 0;
};
NumberChoices option_number_choices(const Option& option);
std::vector<std::string> option_string_choices(const Option& option);

std::optional<double> option_get_number(SANE_Handle handle, const Option& option);
std::optional<std::string> option_get_string(SANE_Handle handle, const Option& option);
// A yes/no option's value.
std::optional<bool> option_get_flag(SANE_Handle handle, const Option& option);
// Sets the option (fixed or integer as the option is); the status of the
// device's answer.
SANE_Status option_set_number(SANE_Handle handle, const Option& option, double value);
SANE_Status option_set_string(SANE_Handle handle, const Option& option, const std::string& value);

}  // namespace sanebridge
