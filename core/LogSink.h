#pragma once

#include <QString>

#include <functional>

// How logic classes write to the event log without knowing the main window: the main window
// passes its PutLog.
using PutLogFn = std::function<void(const QString &)>;
