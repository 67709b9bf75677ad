#pragma once

#include <QString>
#include <QStringView>

#include <vector>

// A set of texts that remembers only a 64-bit hash of each: enough to tell a new text from one
// seen before (two different texts share a hash with a chance of about n² / 2⁶⁵, once in 30
// million runs for a million texts), at 8 to 16 bytes per text however long the texts are.
class UniqueTexts final
{
public:
    // Adds the text; true when it was not in the set yet.
    bool insert(QStringView text);
    bool contains(QStringView text) const;
    qsizetype size() const { return m_size; }
    void clear();

private:
    static quint64 hashOf(QStringView text);
    void grow();

    std::vector<quint64> m_slots; // 0: empty
    qsizetype m_size = 0;
};
