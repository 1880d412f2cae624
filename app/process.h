// Running one prepared request.
#pragma once
#include "app/request.h"

// Runs a prepared request and adds its closing report lines; returns the exit
// code.
int ProcessRequests(ScanRequest& request);
// The request's one-shot actions and, later, the scanning itself.
int RunScanLoop(ScanRequest& request);
// The About text: version, product and the state of each module.
std::string about_text();
