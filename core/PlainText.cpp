#include "core/PlainText.h"

#include "core/CharBlocks.h"

namespace PlainText {
namespace {
enum class Kind { Keep, Blank, Hide };

constexpr Kind kindOf(char16_t c)
{
    if (c >= 0x20 && c < 0x7f)
        return Kind::Keep; // printable ASCII: nearly every character
    if (c == u'\t' || c == u'\n' || c == u'\r' || c == 0x85 || c == 0x2028 || c == 0x2029)
        return Kind::Blank;
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f))
        return Kind::Hide;
    if ((c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069))
        return Kind::Hide;
    return Kind::Keep;
}
} // namespace

qsizetype printableAsciiLength(QStringView text)
{
    using namespace CharBlocks;
    const char16_t *chars = text.utf16();
    const qsizetype size = text.size();
    const Block space = splat(u' ');
    const Block range = splat(0x7e - 0x20);
    qsizetype i = 0;
    // A character below the blank wraps round to a large number.
    for (; i + 2 * Size <= size; i += 2 * Size) {
        if (any(((load(chars + i) - space) > range) | ((load(chars + i + Size) - space) > range)))
            break;
    }
    while (i < size && char16_t(chars[i] - 0x20) < 0x5f)
        ++i;
    return i;
}

void appendSanitizedUtf8(QByteArray &bytes, QStringView text)
{
    const qsizetype size = text.size();
    if (printableAsciiLength(text) == size) {
        const qsizetype at = bytes.size();
        bytes.resize(at + size);
        char *out = bytes.data() + at;
        const char16_t *chars = text.utf16();
        for (qsizetype i = 0; i < size; ++i)
            out[i] = char(chars[i]);
        return;
    }
    bytes += sanitized(text.toString()).toUtf8();
}

QString sanitized(QString text)
{
    // Most texts need nothing: look before copying.
    qsizetype i = printableAsciiLength(text);
    const qsizetype size = text.size();
    const char16_t *chars = reinterpret_cast<const char16_t *>(text.constData());
    while (i < size && kindOf(chars[i]) == Kind::Keep)
        ++i;
    if (i == size)
        return text;

    QString result;
    result.reserve(size);
    result.append(QStringView(text).first(i));
    for (; i < size; ++i) {
        const char16_t c = text.at(i).unicode();
        switch (kindOf(c)) {
        case Kind::Keep:
            result.append(QChar(c));
            break;
        case Kind::Blank:
            result.append(u' ');
            if (c == u'\r' && i + 1 < size && text.at(i + 1) == u'\n')
                ++i; // CR LF is one line break
            break;
        case Kind::Hide:
            result.append(QChar(Placeholder));
            break;
        }
    }
    return result;
}

QString cut(const QString &text, qsizetype maxChars)
{
    if (text.size() <= maxChars)
        return text;
    qsizetype length = qMax<qsizetype>(0, maxChars);
    if (length > 0 && text.at(length - 1).isHighSurrogate())
        --length;
    return text.left(length);
}

QString shortened(const QString &text, qsizetype maxChars)
{
    const QString plain = sanitized(text);
    return plain.size() > maxChars ? cut(plain, maxChars - 1) + QChar(0x2026) : plain;
}

} // namespace PlainText
