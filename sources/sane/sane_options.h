// The SANE side of the bridge: libsane started once per process, the devices
// it lists, and the options of an open device read and written as plain
// numbers and strings. Nothing here knows TWAIN.
#pragma once
#include <sane/sane.h>

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

// An open SANE device, closed with the object.
class SaneDevice {
 public:
  // Opens `name`; null with `out_status` set on failure.
  static std::unique_ptr<SaneDevice> open(const std::string& name, SANE_Status& out_status);
  ~SaneDevice();
  SaneDevice(const SaneDevice&) = delete;
  SaneDevice& operator=(const SaneDevice&) = delete;
  SANE_Handle handle() const { return handle_; }

 private:
  explicit SaneDevice(SANE_Handle handle) : handle_(handle) {}
  SANE_Handle handle_;
};

// One option of a device, found by name: settable and active when found.
struct Option {
  SANE_Int index = -1;
  const SANE_Option_Descriptor* desc = nullptr;
  explicit operator bool() const { return desc != nullptr; }
};
Option option_find(SANE_Handle handle, const char* name);

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
// Sets the option (fixed or integer as the option is); the status of the
// device's answer.
SANE_Status option_set_number(SANE_Handle handle, const Option& option, double value);
SANE_Status option_set_string(SANE_Handle handle, const Option& option, const std::string& value);

}  // namespace sanebridge
