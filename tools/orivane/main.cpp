// orivane: runs the library's page operations on image files, for cleaning
// up existing scans and for comparing the library with other tools.
//
//   orivane COMMAND ARGS...     (orivane --help lists the commands,
//                                --man prints the manual page)
//
// Answers go to standard output, one line each; errors to standard error
// with exit status 1.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "orivane/errors.h"
#include "orivane/twain_session.h"
#include "orivane/version.h"
#include "tools/orivane/commands.h"
#include "tools/orivane/image_files.h"
#include "tools/orivane/manual.h"
#include "tools/orivane/streams.h"

namespace {

void usage(std::FILE* to) {
  std::fprintf(to, "usage: orivane COMMAND ARGS...\n");
  for (const orivane_tool::Command& c : orivane_tool::commands())
    std::fprintf(to, "  orivane %-9s %-17s %s\n", c.name, c.usage, c.help);
  std::fprintf(to,
               "Images are read in any format the library reads (first page of "
               "multipage files); OUT's extension chooses the output format.\n"
               "\"-\" reads standard input; as OUT it writes standard output in the input's\n"
               "format, or in another as EXT:- (png:-).\n");
}

int run(int argc, char** argv) {
  if (argc < 2) {
    usage(stderr);
    return 1;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    usage(stdout);
    return 0;
  }
  if (name == "--version") {
    std::printf("orivane (%s) %s\n", ORIVANE_PRODUCT, ORIVANE_VERSION_TEXT);
    return 0;
  }
  // The manual page, which the build writes to orivane.1.
  if (name == "--man") {
    std::fputs(orivane_tool::manual_page().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  for (const orivane_tool::Command& c : orivane_tool::commands()) {
    if (name != c.name) continue;
    orivane_tool::Args args(argv + 2, argv + argc);
    if (static_cast<int>(args.size()) < c.min_args || static_cast<int>(args.size()) > c.max_args) {
      std::fprintf(stderr, "orivane: usage: orivane %s %s\n", c.name, c.usage);
      return 1;
    }
    try {
      orivane_tool::Streams streams(args, c);
      c.run(args, stdout);
      streams.deliver();
    } catch (const orivane_tool::Failure& f) {
      std::fprintf(stderr, "orivane %s: %s\n", c.name, f.message.c_str());
      return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  std::fprintf(stderr, "orivane: unknown command '%s'\n", name.c_str());
  usage(stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader of standard output that goes away fails the write (reported),
  // rather than ending the tool silently.
  std::signal(SIGPIPE, SIG_IGN);
  ORIVANE_Attach();
  // A tool run from scripts shows no message boxes; errors come back as text.
  TWAIN_SetNoMessageBoxes(1);
  TWAIN_SuppressErrorMessages(1);
  const int status = run(argc, argv);
  ORIVANE_Detach();
  return status;
}
