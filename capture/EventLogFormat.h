#pragma once

#include <QString>
#include <QTime>

#include <optional>

// A colour as 0xAARRGGBB (the layout of QRgb, which the view turns into a QColor).
using LogColour = quint32;
constexpr LogColour logColour(int r, int g, int b)
{
    return 0xff000000u | (quint32(r & 0xff) << 16) | (quint32(g & 0xff) << 8) | quint32(b & 0xff);
}

// The colour and weight of one event-log line, chosen by the words the entry contains.
struct EventLogFormat
{
    std::optional<LogColour> colour; // none: the box's default text colour
    bool bold = false;

    bool operator==(const EventLogFormat &) const = default;

    // The format of a new entry, given the format in force at the end of the log. The words are
    // tested in a fixed order on the lower-cased entry; a later match overrides an earlier one; an
    // entry without any of the words keeps the current format.
    static EventLogFormat forEntry(const QString &entry, const EventLogFormat &current);
};

// "[hh:mm:ss] " followed by the entry made plain (PlainText::sanitized), so that one entry is
// always one line and shows no control character.
QString eventLogLine(const QTime &time, const QString &entry);
