// Server mode (/SERVER): one resident process keeps the device open and runs
// the command lines that clients (/BG) send it over the user's local socket
// "Talven.Quillet", answering each with that request's report.
#pragma once
#include <string>

#include "app/request.h"

// Notes the library settings as a fresh process has them, before the
// process's own command line is read: every server request starts from them.
void server_note_fresh_settings();

// Opens the device, listens on the socket and serves requests until a
// /BG /STOP request or an interrupt (Ctrl-C, SIGTERM) ends the server.
// Returns 0 when stopped in order, 255 when the device cannot be opened, 221
// when the socket cannot be made (another server runs, or the runtime folder
// is not private).
int ServeRequests(ScanRequest& request);

// Runs one request text (the client's command line after the program name)
// and sends its report to the connected client `client_fd`. False after a
// /STOP request (the server ends), true otherwise.
bool HandleServerRequest(int client_fd, const std::string& text);
