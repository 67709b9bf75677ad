#include "publish/OrderedDictionary.h"

#include <QStringList>

bool OrderedDictionary::add(const QString &key, const QString &value)
{
    if (m_index.contains(key))
        return false;
    m_index.insert(key, m_entries.size());
    m_entries.append({ key, value });
    return true;
}

QString OrderedDictionary::value(const QString &key) const
{
    const auto it = m_index.constFind(key);
    return it == m_index.cend() ? QString() : m_entries.at(*it).second;
}

void OrderedDictionary::clear()
{
    m_entries.clear();
    m_index.clear();
}

QStringList OrderedDictionary::keys() const
{
    QStringList result;
    result.reserve(m_entries.size());
    for (const Entry &entry : m_entries)
        result.append(entry.first);
    return result;
}
