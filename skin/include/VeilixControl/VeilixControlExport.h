#pragma once

// Marks the library's public classes and functions; everything else stays hidden.
#if defined(VEILIXCONTROL_BUILDING)
#define VEILIXCONTROL_EXPORT __attribute__((visibility("default")))
#else
#define VEILIXCONTROL_EXPORT
#endif
