#include "dsm/default_source.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "dsm/dsm_log.h"
#include "platform/input_file.h"
#include "platform/paths.h"

namespace dsm {
namespace {

constexpr const char* kFolder = "/.twndsmrc";
constexpr const char* kFile = "/defaultds";

std::optional<std::string> settings_folder() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return std::nullopt;
  return std::string(home) + kFolder;
}

}  // namespace

std::optional<std::string> default_source_read() {
  const auto folder = settings_folder();
  if (!folder) return std::nullopt;
  // A name only: a device or FIFO put there would be read or waited on for ever.
  const platform::InputText file = platform::read_config_file(*folder + kFile);
  if (file.problem != platform::InputProblem::None) return std::nullopt;
  std::string name = file.text.substr(0, file.text.find('\n'));
  while (!name.empty() && name.back() == '\r') name.pop_back();
  if (name.empty()) return std::nullopt;
  return name;
}

bool default_source_write(const std::string& product_name) {
  const auto folder = settings_folder();
  if (!folder || !platform::make_folders(*folder)) {
    dsm_log("cannot remember the default source: no settings folder");
    return false;
  }
  // Written beside and renamed, so a reader never sees half a name.
  const std::string path = *folder + kFile;
  const std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << product_name << '\n';
    if (!out.flush()) {
      std::remove(temp.c_str());
      dsm_log("cannot write %s", temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    dsm_log("cannot replace %s", path.c_str());
    return false;
  }
  return true;
}

}  // namespace dsm
