// Opening the device a request names and applying the request's settings.
#pragma once
#include <cstdint>

#include "app/request.h"

// Opens the device whose product name matches the request's device name (an
// exact match wins; "WIA-" devices only when nothing else matches; the
// default device when no name is given). True when a device is open.
bool OpenDevice(ScanRequest& request, std::uintptr_t owner_window);

// Negotiates the request's settings with the freshly opened device in a
// fixed order. False when a setting that matters was refused (the message
// was shown); warnings do not stop the run.
bool ApplySettings(ScanRequest& request);
