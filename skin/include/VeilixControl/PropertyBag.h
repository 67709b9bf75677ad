#pragma once

#include "VeilixControl/VeilixControlExport.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// The persisted properties of one control: named values kept in the order they were written.
// Controls write each property together with its default; a value equal to its default is not
// stored, and reading an absent key gives the default back.
//
// Values are bool, int, double, QString, QFont or VeilixPicture. A bag can be saved as a small JSON
// document (see docs/veilixcontrol.md) so that a window can keep its control designs as resources:
//   { "VeilixPropertyBag": 1,
//     "properties": [ { "name": "Caption", "type": "string", "value": "OK" },
//                     { "name": "PictureNormal", "type": "picture", "file": "button.png" } ] }
// Pictures are stored inline as base64 PNG ("png") or refer to an image file ("file", relative to
// the bag's own folder, or a ":/" Qt resource); "value": null stands for an empty picture.
class VEILIXCONTROL_EXPORT PropertyBag final
{
public:
    PropertyBag() = default;

    // Stores value under name unless it equals defaultValue (then an earlier entry is removed).
    void WriteProperty(const QString &name, const QVariant &value, const QVariant &defaultValue = {});
    // The stored value, or defaultValue when the key is absent. Every read is recorded in
    // readLog() (the keys in the order they were asked for).
    QVariant ReadProperty(const QString &name, const QVariant &defaultValue = {}) const;

    bool contains(const QString &name) const;
    QStringList names() const; // in write order
    int count() const { return int(m_entries.size()); }
    void clear();

    QStringList readLog() const { return m_readLog; }
    void clearReadLog() const { m_readLog.clear(); }

    QByteArray toJson() const;
    // Parses a bag; baseDir resolves relative picture files. Returns nullopt (and the reason in
    // *error) for a document that is not a property bag or holds a value of an unknown type.
    static std::optional<PropertyBag> fromJson(
        const QByteArray &json, const QString &baseDir = {}, QString *error = nullptr);

    bool save(const QString &path, QString *error = nullptr) const;
    // Loads a bag file (a Qt resource path works too). Files above 16 MiB are refused.
    static std::optional<PropertyBag> load(const QString &path, QString *error = nullptr);

    friend bool operator==(const PropertyBag &a, const PropertyBag &b);

private:
    qsizetype indexOf(const QString &name) const;

    QList<QPair<QString, QVariant>> m_entries;
    mutable QStringList m_readLog;
};

// Same names in the same order with equal values.
VEILIXCONTROL_EXPORT bool operator==(const PropertyBag &a, const PropertyBag &b);
