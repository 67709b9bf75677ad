#pragma once

#include <QtGlobal>

// The process's limit on open files (RLIMIT_NOFILE). Every visitor's connection holds one
// descriptor, so the listener sizes its connection cap by this limit.
namespace FileLimits {

// Raises the soft limit to the hard limit (done once at start). Returns the soft limit in force
// afterwards.
qint64 raiseToHardLimit();

// The soft limit now in force; a very large number when there is none.
qint64 current();

// True when errno tells that no descriptor could be had (EMFILE: the process's limit, ENFILE: the
// system's).
bool isShortage(int error);

} // namespace FileLimits
