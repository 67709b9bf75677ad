#include "capture/RequestParsing.h"

#include "core/TextSearch.h"

namespace RequestParsing {

QString GetHeaderFromRequest(const QString &request, const QString &header)
{
    // The line must start with "<header>: " (a blank after the colon).
    const QString withBlank = QStringLiteral("\r\n") + header + QStringLiteral(": ");
    const qsizetype at = TextSearch::indexOfIgnoringCase(request, withBlank);
    if (at < 0)
        return {};
    const qsizetype valueStart = at + withBlank.size();
    const qsizetype lineEnd = request.indexOf(QStringLiteral("\r\n"), valueStart);
    return lineEnd < 0 ? request.mid(valueStart) : request.mid(valueStart, lineEnd - valueStart);
}

namespace {
// The next CR LF at or after from; -1: none.
qsizetype lineEndFrom(QStringView text, qsizetype from)
{
    for (qsizetype at = TextSearch::indexOfChar(text, u'\r', from); at >= 0;
         at = TextSearch::indexOfChar(text, u'\r', at + 1)) {
        if (at + 1 < text.size() && text.at(at + 1) == u'\n')
            return at;
    }
    return -1;
}

// Whether text starts with the lower-case ASCII name, letter case ignored as QString ignores it.
bool startsWithName(QStringView text, QStringView lowerName)
{
    if (text.size() < lowerName.size())
        return false;
    for (qsizetype i = 0; i < lowerName.size(); ++i) {
        char16_t c = text.at(i).unicode();
        if (c >= 0x80) // some letters beyond ASCII fold to ASCII ones: Qt decides
            return text.startsWith(lowerName, Qt::CaseInsensitive);
        if (c >= u'A' && c <= u'Z')
            c += u'a' - u'A';
        if (c != lowerName.at(i).unicode())
            return false;
    }
    return true;
}
} // namespace

VisitHeaders visitHeaders(const QString &request)
{
    VisitHeaders found;
    struct Wanted
    {
        QStringView nameAndBlank; // lower case
        QString *value;
    };
    Wanted wanted[]
        = { { u"referer: ", &found.referer }, { u"host: ", &found.host }, { u"user-agent: ", &found.userAgent } };
    int left = int(std::size(wanted));
    const QStringView text(request);
    // A header line starts after every CR LF; the first such line of a name is its value.
    for (qsizetype lineEnd = lineEndFrom(text, 0); lineEnd >= 0 && left > 0;) {
        const qsizetype start = lineEnd + 2;
        const qsizetype next = lineEndFrom(text, start);
        const QStringView rest = text.sliced(start);
        for (Wanted &w : wanted) {
            if (!w.value || !startsWithName(rest, w.nameAndBlank))
                continue;
            const qsizetype valueStart = start + w.nameAndBlank.size();
            // The value ends at the line's end (a name cannot hold one).
            *w.value = next < 0 ? request.mid(valueStart) : request.mid(valueStart, next - valueStart);
            w.value = nullptr;
            --left;
        }
        lineEnd = next;
    }
    return found;
}

bool isHttpRequest(QStringView request)
{
    qsizetype end = request.indexOf(u'\n');
    if (end < 0)
        end = request.size();
    else if (end > 0 && request.at(end - 1) == u'\r')
        --end;
    const QStringView line = request.first(end);
    const auto isTokenChar = [](char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
            || QStringView(u"!#$%&'*+-.^_`|~").contains(QChar(c));
    };
    qsizetype i = 0;
    while (i < line.size() && isTokenChar(line.at(i).unicode()))
        ++i;
    if (i == 0 || i >= line.size() || line.at(i) != u' ')
        return false;
    const qsizetype target = ++i;
    while (i < line.size() && line.at(i).unicode() > u' ' && line.at(i).unicode() != 0x7f)
        ++i;
    if (i == target || i >= line.size() || line.at(i) != u' ')
        return false;
    const QStringView version = line.sliced(i + 1);
    if (!version.startsWith(u"HTTP/") || version.size() < 6 || !version.at(5).isDigit())
        return false;
    return version.size() == 6 || (version.size() == 8 && version.at(6) == u'.' && version.at(7).isDigit());
}

void sepurl(QString &pageUrl)
{
    const qsizetype scheme = pageUrl.indexOf(QStringLiteral("//"));
    // Without "//" this starts at the second character (index 1).
    const qsizetype from = scheme + 2;
    if (from >= pageUrl.size())
        return;
    const qsizetype slash = pageUrl.indexOf(u'/', from);
    if (slash < 0)
        return;
    pageUrl = pageUrl.left(slash + 1) + QStringLiteral("  ") + pageUrl.mid(slash + 1);
}

} // namespace RequestParsing
