#include "relay/RelayMessage.h"

#include "core/PlainText.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cstdio>

namespace RelayMessage {
namespace {

QString fail(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return {};
}

// A text field: missing is empty; anything but a string is no message.
std::optional<QString> text(const QJsonObject &object, const QString &key, qsizetype maxChars, QString *why)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return QString();
    if (!value.isString()) {
        fail(why, QStringLiteral("\"%1\" is not a text").arg(key));
        return std::nullopt;
    }
    return PlainText::sanitized(PlainText::cut(value.toString(), maxChars));
}

// A JSON string: quotes, backslashes and control characters escaped, the rest as UTF-8.
void appendString(QByteArray &json, const QString &text)
{
    json += '"';
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            static const char hex[] = "0123456789abcdef";
            json += "\\u00";
            json += hex[byte >> 4];
            json += hex[byte & 0xf];
        } else {
            json += c;
        }
    }
    json += '"';
}

// "2026-12-09T10:15:02.123Z"
QByteArray utcTime(const QDateTime &time)
{
    const QDateTime utc = time.toUTC();
    const QDate date = utc.date();
    const QTime clock = utc.time();
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", date.year(),
        date.month(), date.day(), clock.hour(), clock.minute(), clock.second(), clock.msec());
    return QByteArray(text, qMax(0, length));
}

// Written by hand rather than through QJsonDocument: the publisher encodes every visit, and this
// is several times faster.
QByteArray toJson(const RelayVisit &visit, const QString &page)
{
    QByteArray json;
    json.reserve(160 + page.size());
    json += "{\"v\":" + QByteArray::number(Version) + ",\"id\":";
    appendString(json, visit.id);
    json += ",\"time\":\"" + utcTime(visit.time) + "\",\"address\":";
    appendString(json, visit.address);
    json += ",\"page\":";
    appendString(json, page);
    json += ",\"country\":";
    appendString(json, visit.countryCode);
    json += ",\"countryName\":";
    appendString(json, PlainText::sanitized(PlainText::cut(visit.countryName, MaxCountryNameChars)));
    json += visit.tls ? ",\"tls\":true,\"host\":" : ",\"tls\":false,\"host\":";
    appendString(json, PlainText::sanitized(PlainText::cut(visit.host, MaxHostChars)));
    json += '}';
    return json;
}

} // namespace

QString newId()
{
    quint64 bits[2];
    QRandomGenerator::system()->fillRange(bits);
    return QStringLiteral("%1%2").arg(bits[0], 16, 16, QLatin1Char('0')).arg(bits[1], 16, 16, QLatin1Char('0'));
}

QByteArray encode(const RelayVisit &visit)
{
    QString page = PlainText::page(visit.page);
    QByteArray json = toJson(visit, page);
    // Escapes can make a page of 4,096 characters six times as long: it is cut until all fits.
    while (json.size() > MaxBytes && !page.isEmpty()) {
        page = PlainText::cut(page, page.size() * 3 / 4);
        json = toJson(visit, page);
    }
    return json;
}

std::optional<RelayVisit> decode(const QByteArray &message, QString *why)
{
    if (message.size() > MaxBytes) {
        fail(why, QStringLiteral("larger than %1 bytes").arg(MaxBytes));
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message, &error);
    if (!document.isObject()) {
        fail(why,
            error.error != QJsonParseError::NoError ? QStringLiteral("not JSON: ") + error.errorString()
                                                    : QStringLiteral("not a JSON object"));
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QStringLiteral("v"));
    if (!version.isDouble() || version.toDouble() != Version) {
        fail(why, QStringLiteral("not version %1").arg(Version));
        return std::nullopt;
    }
    RelayVisit visit;
    static const QRegularExpression idForm(QStringLiteral("^[0-9a-f]{32}$"));
    visit.id = object.value(QStringLiteral("id")).toString();
    if (!idForm.match(visit.id).hasMatch()) {
        fail(why, QStringLiteral("no visit id"));
        return std::nullopt;
    }
    const QString time = object.value(QStringLiteral("time")).toString();
    visit.time = QDateTime::fromString(time, Qt::ISODateWithMs);
    if (!time.endsWith(u'Z') || !visit.time.isValid()) {
        fail(why, QStringLiteral("no UTC time"));
        return std::nullopt;
    }
    visit.time = visit.time.toUTC();
    const QHostAddress address(object.value(QStringLiteral("address")).toString());
    if (address.isNull() || !object.value(QStringLiteral("address")).isString()) {
        fail(why, QStringLiteral("no visitor address"));
        return std::nullopt;
    }
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    visit.address = mapped ? QHostAddress(v4).toString() : address.toString();
    static const QRegularExpression codeForm(QStringLiteral("^([A-Z]{2})?$"));
    const std::optional<QString> page = text(object, QStringLiteral("page"), PlainText::MaxPageChars, why);
    const std::optional<QString> code = text(object, QStringLiteral("country"), 8, why);
    const std::optional<QString> name = text(object, QStringLiteral("countryName"), MaxCountryNameChars, why);
    const std::optional<QString> host = text(object, QStringLiteral("host"), MaxHostChars, why);
    if (!page || !code || !name || !host)
        return std::nullopt;
    if (!codeForm.match(*code).hasMatch()) {
        fail(why, QStringLiteral("no country code"));
        return std::nullopt;
    }
    const QJsonValue tls = object.value(QStringLiteral("tls"));
    if (!tls.isUndefined() && !tls.isBool()) {
        fail(why, QStringLiteral("\"tls\" is not true or false"));
        return std::nullopt;
    }
    visit.page = *page;
    visit.countryCode = *code;
    visit.countryName = *name;
    visit.host = *host;
    visit.tls = tls.toBool();
    return visit;
}

} // namespace RelayMessage
