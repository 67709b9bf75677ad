#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

// A text-to-text dictionary that keeps its entries in insertion order, compares keys exactly
// (case-sensitive) and refuses a second entry with an existing key.
class OrderedDictionary final
{
public:
    using Entry = QPair<QString, QString>;

    // False (and no change) when the key is already present.
    [[nodiscard]] bool add(const QString &key, const QString &value);
    bool contains(const QString &key) const { return m_index.contains(key); }
    // The value of the key; an empty text for a key that is not present (nothing is added).
    QString value(const QString &key) const;
    void clear();

    qsizetype count() const { return m_entries.size(); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    QStringList keys() const;
    const QList<Entry> &entries() const { return m_entries; }
    QList<Entry>::const_iterator begin() const { return m_entries.cbegin(); }
    QList<Entry>::const_iterator end() const { return m_entries.cend(); }

    bool operator==(const OrderedDictionary &other) const { return m_entries == other.m_entries; }

private:
    QList<Entry> m_entries;
    QHash<QString, qsizetype> m_index;
};
