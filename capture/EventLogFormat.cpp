#include "capture/EventLogFormat.h"

#include "core/PlainText.h"

#include <QTime>

namespace {
constexpr LogColour Red = logColour(255, 0, 0);
constexpr LogColour Blue = logColour(0, 0, 255);
constexpr LogColour Green = logColour(0, 128, 0);

enum class Weight { Normal, Bold, Unchanged };

struct Rule
{
    const char16_t *word;
    LogColour colour;
    Weight weight;
};

constexpr Rule Rules[] = {
    { u"error", Red, Weight::Bold },
    { u"visit", Blue, Weight::Normal },
    { u"updated", Green, Weight::Unchanged },
    { u"internet", Green, Weight::Unchanged },
    { u"no connection", Red, Weight::Unchanged },
    { u"updated", Green, Weight::Unchanged },
    { u"failed", Red, Weight::Unchanged },
    { u"aborted", Red, Weight::Bold },
    { u"listening", Green, Weight::Bold },
};
} // namespace

EventLogFormat EventLogFormat::forEntry(const QString &entry, const EventLogFormat &current)
{
    const QString lower = entry.toLower();
    EventLogFormat format = current;
    for (const Rule &rule : Rules) {
        if (!lower.contains(QStringView(rule.word)))
            continue;
        format.colour = rule.colour;
        if (rule.weight != Weight::Unchanged)
            format.bold = rule.weight == Weight::Bold;
    }
    return format;
}

QString eventLogLine(const QTime &time, const QString &entry)
{
    return u'[' + time.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("] ") + PlainText::sanitized(entry);
}
