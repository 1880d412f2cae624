// One command line as text and back: the server receives the client's
// arguments as a single line and must rebuild exactly the client's vector.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// Splits a command line into its argument vector by the C runtime's rules:
// - the first argument (the program name) runs to the closing double quote
//   when the text begins with one, else to the first blank or tab, with no
//   escapes in it;
// - the others are separated by blanks and tabs outside double quotes; a
//   double quote toggles quoting and is dropped; 2n backslashes before a
//   double quote give n backslashes (the quote toggles), 2n + 1 give n and a
//   literal quote; inside quotes two double quotes give one literal quote;
//   other backslashes are literal.
// Returns the arguments, the program name first (empty text: no arguments).
std::vector<std::string> SplitCommandLine(std::string_view text);

// One argument as SplitCommandLine reads it back: unchanged when it has no
// blank, tab, line end or double quote and is not empty; else in double
// quotes with its quotes and the backslashes before them escaped.
std::string command_line_quote(std::string_view argument);
