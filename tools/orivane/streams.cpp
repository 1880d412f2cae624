#include "tools/orivane/streams.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "platform/file_copy.h"
#include "tools/orivane/image_files.h"

namespace orivane_tool {

namespace {

bool takes_output(const Command& c) { return std::string(c.usage).find("OUT") != std::string::npos; }

// "-" or "EXT:-"; the extension named, "" for plain "-".
bool is_stream(const std::string& arg, std::string* extension) {
  if (arg == "-") {
    extension->clear();
    return true;
  }
  if (arg.size() > 2 && arg.compare(arg.size() - 2, 2, ":-") == 0) {
    *extension = arg.substr(0, arg.size() - 2);
    return true;
  }
  return false;
}

}  // namespace

const std::string& Streams::folder() {
  if (folder_.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orivane-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw Failure{"cannot make a folder for standard input/output: " + pattern + ": " + std::strerror(errno)};
    folder_ = pattern;
  }
  return folder_;
}

Streams::Streams(Args& args, const Command& command) {
  std::string extension;
  if (!args.empty() && args[0] == "-") {
    const std::string path = folder() + "/stdin";
    if (!platform::spool_descriptor_to_file(STDIN_FILENO, path))
      throw Failure{std::string("cannot read standard input: ") + std::strerror(errno)};
    args[0] = path;
  }
  if (args.size() > 1 && takes_output(command) && is_stream(args[1], &extension)) {
    // Plain "-" writes the input's format.
    if (extension.empty()) extension = FormatExtension(DIB_FormatOfFile(args[0].c_str()), "");
    if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
    if (extension.empty()) throw Failure{"cannot tell the output format for standard output: name it (png:-, tif:-)"};
    output_ = folder() + "/stdout." + extension;
    args[1] = output_;
  }
}

Streams::~Streams() {
  if (folder_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

void Streams::deliver() {
  if (output_.empty()) return;
  std::fflush(stdout);
  if (!platform::copy_file_to_descriptor(output_, STDOUT_FILENO))
    throw Failure{std::string("cannot write standard output: ") + std::strerror(errno)};
}

}  // namespace orivane_tool
