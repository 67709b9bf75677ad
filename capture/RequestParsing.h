#pragma once

#include <QString>

// The two text operations the visit processing relies on. Their matching rules decide which
// requests yield a page address, so they are exact to the character.
namespace RequestParsing {

// The value of the header line named header in a raw request (lines separated by CR LF): the
// text after "<CR><LF>name: " up to the next CR LF, or the rest of the request when no line end
// follows. Name matching ignores letter case. Absent header, or a colon not followed by a blank:
// the empty text.
QString GetHeaderFromRequest(const QString &request, const QString &header);

// The headers a visit is made of, each exactly as GetHeaderFromRequest finds it, in one pass over
// the request.
struct VisitHeaders
{
    QString referer;
    QString host;
    QString userAgent;
};
VisitHeaders visitHeaders(const QString &request);

// Whether the request's first line (up to CR LF, LF or the end) is an HTTP request line: a
// method token, one blank, a target without blanks or controls, one blank and "HTTP/" with a
// version ("1.1", "1.0", "2"). A port scanner's bytes or a TLS record are not.
bool isHttpRequest(QStringView request);

// Reshapes a page address for display: two blanks go right after the first "/" that follows the
// "//" of the scheme (without "//", the first "/" from the second character on).
void sepurl(QString &pageUrl);

} // namespace RequestParsing
