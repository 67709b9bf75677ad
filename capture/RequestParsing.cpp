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
