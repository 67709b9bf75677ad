#include "core/TextSearch.h"

#include "core/CharBlocks.h"

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

qsizetype indexOfChar(QStringView text, char16_t c, qsizetype from)
{
    using namespace CharBlocks;
    const char16_t *chars = text.utf16();
    const qsizetype size = text.size();
    const Block wanted = splat(c);
    qsizetype i = qMax<qsizetype>(0, from);
    for (; i + 2 * Size <= size; i += 2 * Size) {
        if (any((load(chars + i) == wanted) | (load(chars + i + Size) == wanted)))
            break;
    }
    for (; i < size; ++i) {
        if (chars[i] == c)
            return i;
    }
    return -1;
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
    const auto matchesAt = [&](qsizetype i) {
        for (qsizetype k = 0; k < needle.size(); ++k) {
            if (lowerAscii(h[i + k]) != lowerAscii(n[k]))
                return false;
        }
        return true;
    };
    // A character of the needle that has no case ("\r", ".", ":") is looked for a block of
    // characters at a time; each place it is found is one candidate.
    const auto isLetter = [](char16_t c) { return (c | 0x20) >= u'a' && (c | 0x20) <= u'z'; };
    qsizetype anchor = 0;
    while (anchor < needle.size() && isLetter(n[anchor]))
        ++anchor;
    if (anchor < needle.size()) {
        for (qsizetype at = indexOfChar(haystack, n[anchor], from + anchor); at >= 0 && at - anchor <= last;
             at = indexOfChar(haystack, n[anchor], at + 1)) {
            if (matchesAt(at - anchor))
                return at - anchor;
        }
        return -1;
    }
    const char16_t first = lowerAscii(n[0]);
    for (qsizetype i = from; i <= last; ++i) {
        if (lowerAscii(h[i]) == first && matchesAt(i))
            return i;
    }
    return -1;
}

} // namespace TextSearch
