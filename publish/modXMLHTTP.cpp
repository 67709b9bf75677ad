#include "publish/modXMLHTTP.h"

#include "core/ConnectionState.h"

#include <QRegularExpression>

namespace modXMLHTTP {

void OpenGet(HttpRequest &request, const QString &url)
{
    request.open(QStringLiteral("GET"), url);
}

QString SendAndWait(HttpRequest &request)
{
    request.send();
    return request.responseText();
}

QString URLEncode(const QString &text)
{
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    QString encoded;
    encoded.reserve(text.size() * 3);
    for (const QChar c : text) {
        const unsigned byte = c.unicode() & 0xffu;
        encoded += u'%';
        encoded += QChar(digits[byte >> 4]);
        encoded += QChar(digits[byte & 0x0fu]);
    }
    return encoded;
}

int AscOrZero(const QString &character)
{
    if (character.isEmpty())
        return 0;
    const char16_t code = character.at(0).unicode();
    return code <= 0xff ? int(code) : int('?');
}

QString Base64Encode(const QString &text)
{
    static constexpr char16_t alphabet[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    QString encoded;
    encoded.reserve((text.size() + 2) / 3 * 4);
    for (qsizetype i = 0; i < text.size(); i += 3) {
        const quint32 group = quint32(AscOrZero(text.mid(i, 1))) << 16 | quint32(AscOrZero(text.mid(i + 1, 1))) << 8
            | quint32(AscOrZero(text.mid(i + 2, 1)));
        for (int shift = 18; shift >= 0; shift -= 6)
            encoded += QChar(alphabet[(group >> shift) & 0x3fu]);
    }
    switch (text.size() % 3) {
    case 1:
        encoded.chop(2);
        encoded += QLatin1String("==");
        break;
    case 2:
        encoded.chop(1);
        encoded += u'=';
        break;
    default:
        break;
    }
    return encoded;
}

QString firstAddressRun(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("[0-9\\.]+"));
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() ? match.captured(0) : QString();
}

QString GetPublicIP(
    const QString &echoPageUrl, const ConnectionState &connection, const HttpOptions &options, QString *connectionName)
{
    const ConnectionState::Result state = connection.query();
    if (connectionName)
        *connectionName = state.connectionName;
    if (!state.online)
        return {};
    try {
        HttpRequest request(options);
        OpenGet(request, echoPageUrl);
        return firstAddressRun(SendAndWait(request));
    } catch (const HttpError &) {
        return {};
    }
}

} // namespace modXMLHTTP
