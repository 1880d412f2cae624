// "-" as a command's file: the input read from standard input, the output
// written to standard output. The library reads and writes files it can
// seek in, so a stream goes through a private folder that lives as long as
// the command.
//   orivane info -                 the image on standard input
//   orivane deskew - -             output in the input's format
//   orivane gray scan.tif png:-    output as PNG (any extension before ":-")
#pragma once
#include <string>

#include "tools/orivane/commands.h"

namespace orivane_tool {

class Streams {
 public:
  // Replaces "-" in `args` (the input, and the output of a command whose
  // second argument is OUT) by files in the private folder. Throws Failure.
  Streams(Args& args, const Command& command);
  ~Streams();
  Streams(const Streams&) = delete;
  Streams& operator=(const Streams&) = delete;

  // After the command succeeded: the output to standard output. Throws Failure.
  void deliver();

 private:
  std::string folder_;  // made on first use, "" when none
  std::string output_;  // the output's stand-in, "" when none
  const std::string& folder();
};

}  // namespace orivane_tool
