#pragma once

#define VEILIXCONTROL_VERSION_STRING "1.0.0"

// The library's version text, "major.minor.patch".
extern "C" __attribute__((visibility("default"))) const char *VeilixControlVersion();
