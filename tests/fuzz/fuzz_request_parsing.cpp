// Request header parsing and the page address's reshaping, with the properties the visit
// processing relies on.
#include "tests/fuzz/FuzzSupport.h"

#include "capture/RequestParsing.h"
#include "core/PlainText.h"
#include "core/TextSearch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto [requestBytes, nameBytes] = Fuzz::split(Fuzz::bytes(data, size));
    const QString request = QString::fromUtf8(requestBytes);

    // The one-pass reading of a visit's headers agrees with the reading of each.
    const RequestParsing::VisitHeaders headers = RequestParsing::visitHeaders(request);
    FUZZ_CHECK(headers.referer == RequestParsing::GetHeaderFromRequest(request, QStringLiteral("referer")));
    FUZZ_CHECK(headers.host == RequestParsing::GetHeaderFromRequest(request, QStringLiteral("host")));
    FUZZ_CHECK(headers.userAgent == RequestParsing::GetHeaderFromRequest(request, QStringLiteral("user-agent")));

    // The block-wise scans give what the character-wise ones give: the console's bytes of a
    // request, and where a name's first character is found.
    QByteArray consoleBytes;
    PlainText::appendSanitizedUtf8(consoleBytes, request);
    FUZZ_CHECK(consoleBytes == PlainText::sanitized(request).toUtf8());
    const QString givenName = QString::fromUtf8(nameBytes);
    if (!givenName.isEmpty()) {
        for (qsizetype from = 0; from <= request.size(); from += 7)
            FUZZ_CHECK(TextSearch::indexOfChar(request, givenName.front().unicode(), from)
                == QStringView(request).indexOf(givenName.front(), from));
    }

    const QStringList names = { QStringLiteral("referer"), QStringLiteral("host"), givenName };
    for (const QString &name : names) {
        const QString value = RequestParsing::GetHeaderFromRequest(request, name);
        // A value is a piece of the request, on one line.
        FUZZ_CHECK(value.size() <= request.size());
        FUZZ_CHECK(value.isEmpty() || request.contains(value));
        FUZZ_CHECK(!value.contains(QStringLiteral("\r\n")));

        QString page = value;
        RequestParsing::sepurl(page);
        // Either unchanged, or two blanks inserted once after a "/".
        if (page != value) {
            FUZZ_CHECK(page.size() == value.size() + 2);
            bool found = false;
            for (qsizetype at = page.indexOf(QStringLiteral("/  ")); at >= 0 && !found;
                 at = page.indexOf(QStringLiteral("/  "), at + 1))
                found = page.left(at + 1) + page.mid(at + 3) == value;
            FUZZ_CHECK(found);
        }
    }
    return 0;
}
