#include "capture/EventLogFormat.h"

#include "core/PlainText.h"
#include "core/TextSearch.h"

#include <QTime>

#include <string>
#include <string_view>

namespace {
constexpr LogColour Red = logColour(255, 0, 0);
constexpr LogColour Blue = logColour(0, 0, 255);
constexpr LogColour Green = logColour(0, 128, 0);

enum class Weight { Normal, Bold, Unchanged };

struct Rule
{
    const char16_t *word;
    const char *ascii;
    LogColour colour;
    Weight weight;
};

constexpr Rule Rules[] = {
    { u"error", "error", Red, Weight::Bold },
    { u"visit", "visit", Blue, Weight::Normal },
    { u"updated", "updated", Green, Weight::Unchanged },
    { u"internet", "internet", Green, Weight::Unchanged },
    { u"no connection", "no connection", Red, Weight::Unchanged },
    { u"updated", "updated", Green, Weight::Unchanged },
    { u"failed", "failed", Red, Weight::Unchanged },
    { u"aborted", "aborted", Red, Weight::Bold },
    { u"listening", "listening", Green, Weight::Bold },
};
} // namespace

EventLogFormat EventLogFormat::forEntry(const QString &entry, const EventLogFormat &current)
{
    // The words are lower-case ASCII: an ASCII entry (nearly every one) is lower-cased into bytes
    // and searched there; any other goes through QString's lower case.
    const bool ascii = TextSearch::isAscii(entry);
    std::string bytes;
    QString lower;
    if (ascii) {
        bytes.resize(size_t(entry.size()));
        for (qsizetype i = 0; i < entry.size(); ++i) {
            const char c = char(entry.at(i).unicode());
            bytes[size_t(i)] = (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
        }
    } else {
        lower = entry.toLower();
    }
    EventLogFormat format = current;
    for (const Rule &rule : Rules) {
        const bool found = ascii ? std::string_view(bytes).find(rule.ascii) != std::string_view::npos
                                 : lower.contains(QStringView(rule.word));
        if (!found)
            continue;
        format.colour = rule.colour;
        if (rule.weight != Weight::Unchanged)
            format.bold = rule.weight == Weight::Bold;
    }
    return format;
}

QString eventLogLine(const QTime &time, const QString &entry)
{
    // "[HH:mm:ss] ", written digit by digit: every visit logs a line.
    const int parts[] = { time.hour(), time.minute(), time.second() };
    char16_t stamp[11] = { u'[', 0, 0, u':', 0, 0, u':', 0, 0, u']', u' ' };
    for (int i = 0; i < 3; ++i) {
        const int value = time.isValid() ? parts[i] : 0;
        stamp[1 + 3 * i] = char16_t(u'0' + value / 10);
        stamp[2 + 3 * i] = char16_t(u'0' + value % 10);
    }
    return QStringView(stamp, 11) + PlainText::sanitized(entry);
}
