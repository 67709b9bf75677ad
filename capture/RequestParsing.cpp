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
