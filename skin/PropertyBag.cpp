#include "VeilixControl/PropertyBag.h"

#include "VeilixControl/VeilixPicture.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

constexpr qint64 MaxBagFileSize = 16 * 1024 * 1024;

bool isPicture(const QVariant &v)
{
    return v.metaType() == QMetaType::fromType<VeilixPicture>();
}

bool sameValue(const QVariant &a, const QVariant &b)
{
    if (isPicture(a) || isPicture(b)) {
        if (!isPicture(a) || !isPicture(b))
            return !a.isValid() ? b.value<VeilixPicture>().isNone()
                                : (!b.isValid() && a.value<VeilixPicture>().isNone());
        return a.value<VeilixPicture>() == b.value<VeilixPicture>();
    }
    if (a.metaType() == QMetaType::fromType<QFont>() && b.metaType() == QMetaType::fromType<QFont>())
        return a.value<QFont>() == b.value<QFont>();
    return a == b;
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

QJsonObject encode(const QString &name, const QVariant &value)
{
    QJsonObject o;
    o.insert(QStringLiteral("name"), name);
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        o.insert(QStringLiteral("type"), QStringLiteral("bool"));
        o.insert(QStringLiteral("value"), value.toBool());
        return o;
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        o.insert(QStringLiteral("type"), QStringLiteral("int"));
        o.insert(QStringLiteral("value"), value.toLongLong());
        return o;
    case QMetaType::Float:
    case QMetaType::Double:
        o.insert(QStringLiteral("type"), QStringLiteral("double"));
        o.insert(QStringLiteral("value"), value.toDouble());
        return o;
    case QMetaType::QFont:
        o.insert(QStringLiteral("type"), QStringLiteral("font"));
        o.insert(QStringLiteral("value"), value.value<QFont>().toString());
        return o;
    default:
        break;
    }
    if (isPicture(value)) {
        o.insert(QStringLiteral("type"), QStringLiteral("picture"));
        const VeilixPicture p = value.value<VeilixPicture>();
        if (!p.hasImage()) {
            o.insert(QStringLiteral("value"), QJsonValue::Null);
        } else {
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            p.image().save(&buffer, "PNG");
            o.insert(QStringLiteral("png"), QString::fromLatin1(png.toBase64()));
        }
        return o;
    }
    o.insert(QStringLiteral("type"), QStringLiteral("string"));
    o.insert(QStringLiteral("value"), value.toString());
    return o;
}

std::optional<QVariant> decode(const QJsonObject &o, const QString &baseDir, QString *error)
{
    const QString type = o.value(QStringLiteral("type")).toString();
    const QJsonValue v = o.value(QStringLiteral("value"));
    if (type == QLatin1String("bool") && v.isBool())
        return QVariant(v.toBool());
    if (type == QLatin1String("int") && v.isDouble()) {
        const double d = v.toDouble();
        if (d < -2147483648.0 || d > 2147483647.0) {
            setError(error, QStringLiteral("integer out of range"));
            return std::nullopt;
        }
        return QVariant(int(d));
    }
    if (type == QLatin1String("double") && v.isDouble())
        return QVariant(v.toDouble());
    if (type == QLatin1String("string") && v.isString())
        return QVariant(v.toString());
    if (type == QLatin1String("font") && v.isString()) {
        QFont font;
        if (!font.fromString(v.toString())) {
            setError(error, QStringLiteral("unreadable font"));
            return std::nullopt;
        }
        return QVariant(font);
    }
    if (type == QLatin1String("picture")) {
        if (o.contains(QStringLiteral("png"))) {
            const QByteArray data = QByteArray::fromBase64(o.value(QStringLiteral("png")).toString().toLatin1());
            QBuffer buffer;
            buffer.setData(data);
            QImageReader reader(&buffer);
            return QVariant::fromValue(VeilixPicture(reader.read()));
        }
        if (o.contains(QStringLiteral("file"))) {
            QString path = o.value(QStringLiteral("file")).toString();
            if (!path.startsWith(QLatin1Char(':')) && QFileInfo(path).isRelative() && !baseDir.isEmpty())
                path = QDir(baseDir).filePath(path);
            return QVariant::fromValue(VeilixPicture::fromFile(path));
        }
        return QVariant::fromValue(VeilixPicture::empty());
    }
    setError(error, QStringLiteral("property of unknown type: ") + o.value(QStringLiteral("name")).toString());
    return std::nullopt;
}

} // namespace

qsizetype PropertyBag::indexOf(const QString &name) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).first == name)
            return i;
    }
    return -1;
}

void PropertyBag::WriteProperty(const QString &name, const QVariant &value, const QVariant &defaultValue)
{
    const qsizetype i = indexOf(name);
    if (defaultValue.isValid() && sameValue(value, defaultValue)) {
        if (i >= 0)
            m_entries.removeAt(i);
        return;
    }
    if (i >= 0)
        m_entries[i].second = value;
    else
        m_entries.append({ name, value });
}

QVariant PropertyBag::ReadProperty(const QString &name, const QVariant &defaultValue) const
{
    m_readLog.append(name);
    const qsizetype i = indexOf(name);
    return i >= 0 ? m_entries.at(i).second : defaultValue;
}

bool PropertyBag::contains(const QString &name) const
{
    return indexOf(name) >= 0;
}

QStringList PropertyBag::names() const
{
    QStringList list;
    for (const auto &e : m_entries)
        list.append(e.first);
    return list;
}

void PropertyBag::clear()
{
    m_entries.clear();
    m_readLog.clear();
}

QByteArray PropertyBag::toJson() const
{
    QJsonArray properties;
    for (const auto &e : m_entries)
        properties.append(encode(e.first, e.second));
    QJsonObject root;
    root.insert(QStringLiteral("VeilixPropertyBag"), 1);
    root.insert(QStringLiteral("properties"), properties);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<PropertyBag> PropertyBag::fromJson(const QByteArray &json, const QString &baseDir, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        setError(error, parseError.errorString());
        return std::nullopt;
    }
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("VeilixPropertyBag")).toInt() != 1
        || !root.value(QStringLiteral("properties")).isArray()) {
        setError(error, QStringLiteral("not a property bag"));
        return std::nullopt;
    }
    PropertyBag bag;
    const QJsonArray properties = root.value(QStringLiteral("properties")).toArray();
    for (const QJsonValue &item : properties) {
        const QJsonObject o = item.toObject();
        const QString name = o.value(QStringLiteral("name")).toString();
        if (name.isEmpty()) {
            setError(error, QStringLiteral("property without a name"));
            return std::nullopt;
        }
        const std::optional<QVariant> value = decode(o, baseDir, error);
        if (!value)
            return std::nullopt;
        const qsizetype i = bag.indexOf(name);
        if (i >= 0)
            bag.m_entries[i].second = *value;
        else
            bag.m_entries.append({ name, *value });
    }
    return bag;
}

bool PropertyBag::save(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, file.errorString());
        return false;
    }
    file.write(toJson());
    if (!file.commit()) {
        setError(error, file.errorString());
        return false;
    }
    return true;
}

std::optional<PropertyBag> PropertyBag::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, file.errorString());
        return std::nullopt;
    }
    if (file.size() > MaxBagFileSize) {
        setError(error, QStringLiteral("property bag file too large"));
        return std::nullopt;
    }
    const QByteArray data = file.read(MaxBagFileSize + 1);
    if (data.size() > MaxBagFileSize) {
        setError(error, QStringLiteral("property bag file too large"));
        return std::nullopt;
    }
    return fromJson(data, QFileInfo(path).absolutePath(), error);
}

bool operator==(const PropertyBag &a, const PropertyBag &b)
{
    if (a.m_entries.size() != b.m_entries.size())
        return false;
    for (qsizetype i = 0; i < a.m_entries.size(); ++i) {
        if (a.m_entries.at(i).first != b.m_entries.at(i).first
            || !sameValue(a.m_entries.at(i).second, b.m_entries.at(i).second))
            return false;
    }
    return true;
}
