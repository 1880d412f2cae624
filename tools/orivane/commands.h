// The tool's commands: each reads its arguments, runs one library operation
// and prints its answer or writes its output file. Commands throw Failure for
// bad input; the dispatcher turns it into a message and exit status 1.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace orivane_tool {

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* usage;  // the arguments after the command's name
  const char* help;   // one line: what it answers or writes
  int min_args, max_args;
  void (*run)(const Args& args, std::FILE* out);
};

// Every command, in the order the usage text lists them.
const std::vector<Command>& commands();

}  // namespace orivane_tool
