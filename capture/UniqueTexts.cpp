#include "capture/UniqueTexts.h"

#include <QHash>

namespace {
// Fixed seeds: the hashes never leave the process, and fixed ones keep runs alike.
constexpr size_t SeedA = 0x9e3779b97f4a7c15ULL & size_t(-1);
constexpr size_t SeedB = 0xc2b2ae3d27d4eb4fULL & size_t(-1);
} // namespace

quint64 UniqueTexts::hashOf(QStringView text)
{
    quint64 hash = qHash(text, SeedA);
    if constexpr (sizeof(size_t) < 8)
        hash = (hash << 32) ^ qHash(text, SeedB);
    return hash == 0 ? 1 : hash;
}

bool UniqueTexts::insert(QStringView text)
{
    // At most three quarters full.
    if ((m_size + 1) * 4 > qsizetype(m_slots.size()) * 3)
        grow();
    const quint64 hash = hashOf(text);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = std::size_t(hash) & mask;; i = (i + 1) & mask) {
        if (m_slots[i] == hash)
            return false;
        if (m_slots[i] == 0) {
            m_slots[i] = hash;
            ++m_size;
            return true;
        }
    }
}

bool UniqueTexts::contains(QStringView text) const
{
    if (m_slots.empty())
        return false;
    const quint64 hash = hashOf(text);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = std::size_t(hash) & mask;; i = (i + 1) & mask) {
        if (m_slots[i] == hash)
            return true;
        if (m_slots[i] == 0)
            return false;
    }
}

void UniqueTexts::grow()
{
    std::vector<quint64> old(m_slots.empty() ? 64 : m_slots.size() * 2, 0);
    old.swap(m_slots);
    const std::size_t mask = m_slots.size() - 1;
    for (quint64 hash : old) {
        if (hash == 0)
            continue;
        std::size_t i = std::size_t(hash) & mask;
        while (m_slots[i] != 0)
            i = (i + 1) & mask;
        m_slots[i] = hash;
    }
}

void UniqueTexts::clear()
{
    std::vector<quint64>().swap(m_slots);
    m_size = 0;
}
