#include "tools/orivane/manual.h"

#include <string_view>

#include "core/roff.h"
#include "orivane/version.h"
#include "tools/orivane/commands.h"

namespace orivane_tool {
namespace {

using core::roff;

}  // namespace

std::string manual_page() {
  std::string m = ".TH ORIVANE 1 \"\" \"Orivane " ORIVANE_VERSION_TEXT "\" \"User Commands\"\n";
  m += ".SH NAME\norivane \\- run the Orivane library's page operations on image files\n";
  m += ".SH SYNOPSIS\n.B orivane\n\\fICOMMAND\\fR \\fIARGS\\fR...\n.br\n";
  m += ".B orivane\n\\fB\\-h\\fR | \\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR\n";
  m += ".SH DESCRIPTION\nImages are read in any format the library reads (the first page of a multipage "
       "file); OUT's extension chooses the format written.\n";
  m += "Answers go to standard output, one line each.\n";
  m += ".PP\nA file named \\- is standard input; as OUT it is standard output, written in the input's "
       "format, or in another named before it as EXT:\\- (png:\\-).\n";
  m += ".SH COMMANDS\n";
  for (const Command& c : commands())
    m += ".TP\n\\fB" + roff(c.name) + "\\fR \\fI" + roff(c.usage) + "\\fR\n" + roff(c.help) + "\n";
  m += ".SH EXIT STATUS\n0 when the command did its work; 1 with a message on standard error when the input "
       "or the command line was bad or the output could not be written.\n";
  m += ".SH SEE ALSO\n.BR quillet (1)\n";
  return m;
}

}  // namespace orivane_tool
