// Client mode (/BG): hands the command line to a running server and takes its
// report as this run's report.
#pragma once
#include <string>

#include "app/request.h"

// The server's reply comes in messages of at most this many bytes (one
// message for any ordinary report).
constexpr std::size_t kServerReplyChunk = 64 * 1024;
// The longest request a server reads; a longer one is refused whole.
constexpr std::size_t kServerRequestMax = 64 * 1024;

// Path of the server's socket in the per-user runtime folder.
std::string server_socket_path();
// Sends `request_text` (the command line without the program name) and
// returns the server's exit code, or 251 when the server cannot be reached
// or its reply is incomplete.
int SendToServer(const std::string& request_text);
// The command line after the program name and the white space behind it.
std::string request_text_of(const std::string& command_line);
