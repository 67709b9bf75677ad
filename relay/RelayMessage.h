#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// One visit as the relay carries it from the site's publisher to the owner's desktops through an
// MQTT broker: a JSON object of at most MaxBytes,
//
//   {"v":1,"id":"<32 hex digits>","time":"2026-12-09T10:15:02.123Z","address":"203.0.113.7",
//    "page":"https://site.example/a.html","country":"DE","countryName":"Germany","tls":true,
//    "host":"visits.example"}
//
// "country" is the ISO code ("" when unknown) and "countryName" its name; "host" is the Host
// header of the request. Fields a later version adds are ignored.
struct RelayVisit
{
    QString id; // unique per visit: duplicates (redelivery, two roads) are recognised by it
    QDateTime time; // UTC, to the millisecond
    QString address; // the visitor's address, canonical text
    QString page;
    QString countryCode;
    QString countryName;
    bool tls = false;
    QString host;

    bool operator==(const RelayVisit &) const = default;
};

namespace RelayMessage {

constexpr int Version = 1;
constexpr qsizetype MaxBytes = 16 * 1024;
constexpr qsizetype MaxHostChars = 255;
constexpr qsizetype MaxCountryNameChars = 64;

// A new visit id: 128 random bits as 32 lower-case hexadecimal digits.
QString newId();

// The message for a visit. Texts are made plain first; a page too long for MaxBytes is cut.
QByteArray encode(const RelayVisit &visit);

// A message from the broker, which anybody with the right to publish there may have sent: read
// strictly (the size, JSON, every field's type and form) and every text made plain. No value, and
// the reason in *why, for anything else.
std::optional<RelayVisit> decode(const QByteArray &message, QString *why = nullptr);

} // namespace RelayMessage
