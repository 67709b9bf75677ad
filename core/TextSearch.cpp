#include "core/TextSearch.h"

namespace TextSearch {
namespace {
constexpr char16_t lowerAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c;
}
} // namespace

bool isAscii(QStringView text)
{
    char16_t any = 0;
    for (const QChar c : text)
        any |= c.unicode();
    return any < 0x80;
}

qsizetype indexOfIgnoringCase(QStringView haystack, QStringView needle, qsizetype from)
{
    if (from < 0)
        from = qMax<qsizetype>(0, haystack.size() + from);
    if (!isAscii(needle) || !isAscii(haystack))
        return haystack.indexOf(needle, from, Qt::CaseInsensitive);
    const qsizetype last = haystack.size() - needle.size();
    if (needle.isEmpty())
        return from <= haystack.size() ? from : -1;
    const char16_t *h = haystack.utf16();
    const char16_t *n = needle.utf16();
    const char16_t first = lowerAscii(n[0]);
    for (qsizetype i = from; i <= last; ++i) {
        if (lowerAscii(h[i]) != first)
            continue;
        qsizetype k = 1;
        while (k < needle.size() && lowerAscii(h[i + k]) == lowerAscii(n[k]))
            ++k;
        if (k == needle.size())
            return i;
    }
    return -1;
}

} // namespace TextSearch
