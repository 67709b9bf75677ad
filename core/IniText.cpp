#include "core/IniText.h"

#include <QHash>
#include <QStringDecoder>

namespace IniText {

namespace {
const QString SettingsGroup = QStringLiteral("Settings");

int hexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView trimmedBlanks(QStringView text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && isBlank(text[from]))
        ++from;
    while (to > from && isBlank(text[to - 1]))
        --to;
    return text.sliced(from, to - from);
}

// Appends "%XX" or "%UXXXX" (upper-case hexadecimal digits).
void appendPercent(QString &out, char16_t c)
{
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    out += u'%';
    if (c > 0xff) {
        out += u'U';
        out += QChar(digits[(c >> 12) & 0xf]);
        out += QChar(digits[(c >> 8) & 0xf]);
    }
    out += QChar(digits[(c >> 4) & 0xf]);
    out += QChar(digits[c & 0xf]);
}
} // namespace

QString unescapeKey(QStringView raw)
{
    QString key;
    key.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size();) {
        const char16_t c = raw[i].unicode();
        if (c == u'\\') {
            key += u'/';
            ++i;
            continue;
        }
        if (c == u'%') {
            const bool wide = i + 1 < raw.size() && raw[i + 1] == u'U';
            const qsizetype first = i + (wide ? 2 : 1);
            const int digits = wide ? 4 : 2;
            if (first + digits <= raw.size()) {
                int value = 0;
                bool ok = true;
                for (int k = 0; k < digits && ok; ++k) {
                    const int h = hexValue(raw[first + k].unicode());
                    ok = h >= 0;
                    value = value * 16 + h;
                }
                if (ok) {
                    key += QChar(char16_t(value));
                    i = first + digits;
                    continue;
                }
            }
        }
        key += raw[i];
        ++i;
    }
    return key;
}

QString escapeKey(const QString &key)
{
    QString out;
    out.reserve(key.size());
    for (const QChar ch : key) {
        const char16_t c = ch.unicode();
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'-'
            || c == u'.')
            out += ch;
        else if (c == u'/')
            out += u'\\';
        else
            appendPercent(out, c);
    }
    return out;
}

QString unescapeValue(QStringView raw)
{
    QString out;
    out.reserve(raw.size());
    bool inQuotes = false;
    bool quoted = false;
    qsizetype i = 0;
    // Blanks before the value, and after a closing quote, are not part of it.
    const auto skipBlanks = [&] {
        while (i < raw.size() && isBlank(raw[i]))
            ++i;
    };
    skipBlanks();
    // Trailing blanks of an unquoted value are dropped, but not those written as escapes.
    qsizetype keepUpTo = 0;
    while (i < raw.size()) {
        const char16_t c = raw[i].unicode();
        if (c == u'\\') {
            ++i;
            if (i >= raw.size())
                break;
            const char16_t e = raw[i++].unicode();
            switch (e) {
            case u'a':
                out += u'\a';
                break;
            case u'b':
                out += u'\b';
                break;
            case u'f':
                out += u'\f';
                break;
            case u'n':
                out += u'\n';
                break;
            case u'r':
                out += u'\r';
                break;
            case u't':
                out += u'\t';
                break;
            case u'v':
                out += u'\v';
                break;
            case u'"':
            case u'?':
            case u'\'':
            case u'\\':
                out += QChar(e);
                break;
            case u'x': {
                char16_t value = 0;
                bool any = false;
                while (i < raw.size() && hexValue(raw[i].unicode()) >= 0) {
                    value = char16_t(value * 16 + hexValue(raw[i].unicode()));
                    any = true;
                    ++i;
                }
                if (any)
                    out += QChar(value);
                break;
            }
            default:
                if (e >= u'0' && e <= u'7') {
                    char16_t value = char16_t(e - u'0');
                    while (i < raw.size() && raw[i] >= u'0' && raw[i] <= u'7') {
                        value = char16_t(value * 8 + (raw[i].unicode() - u'0'));
                        ++i;
                    }
                    out += QChar(value);
                }
                // Any other escaped character is dropped.
                break;
            }
            keepUpTo = out.size();
            continue;
        }
        if (c == u'"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipBlanks();
                keepUpTo = out.size();
            }
            continue;
        }
        out += raw[i];
        ++i;
    }
    if (!quoted) {
        qsizetype end = out.size();
        while (end > keepUpTo && isBlank(out[end - 1]))
            --end;
        out.truncate(end);
    }
    if (out.startsWith(QLatin1String("@@")))
        return out.mid(1);
    if (out == QLatin1String("@Invalid()"))
        return QString();
    if (out.startsWith(QLatin1String("@ByteArray(")) && out.endsWith(u')'))
        return out.mid(11, out.size() - 12);
    return out;
}

QString escapeValue(const QString &value)
{
    const QString text = value.startsWith(u'@') ? u'@' + value : value;
    QString out;
    out.reserve(text.size() + 2);
    bool needsQuotes = false;
    // After "\x.." or "\0", a following hexadecimal digit would be read as part of the escape.
    bool escapeHexDigit = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        const char16_t c = ch.unicode();
        if (c == u';' || c == u',' || c == u'=')
            needsQuotes = true;
        if (escapeHexDigit && hexValue(c) >= 0) {
            out += QStringLiteral("\\x") + QString::number(c, 16);
            continue;
        }
        escapeHexDigit = false;
        switch (c) {
        case u'\0':
            out += QStringLiteral("\\0");
            escapeHexDigit = true;
            break;
        case u'\a':
            out += QStringLiteral("\\a");
            break;
        case u'\b':
            out += QStringLiteral("\\b");
            break;
        case u'\f':
            out += QStringLiteral("\\f");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        case u'\v':
            out += QStringLiteral("\\v");
            break;
        case u'"':
        case u'\\':
            out += u'\\';
            out += ch;
            break;
        default:
            // A surrogate without its partner has no UTF-8 form: it is written as an escape too.
            if (c <= 0x1f || (ch.isHighSurrogate() && !(i + 1 < text.size() && text[i + 1].isLowSurrogate()))
                || (ch.isLowSurrogate() && !(i > 0 && text[i - 1].isHighSurrogate()))) {
                out += QStringLiteral("\\x") + QString::number(c, 16);
                escapeHexDigit = true;
            } else {
                out += ch;
            }
        }
    }
    if (needsQuotes || out.startsWith(u' ') || out.endsWith(u' '))
        return u'"' + out + u'"';
    return out;
}

std::optional<Document> parse(const QByteArray &bytes, QString *reason)
{
    const auto fail = [reason](const QString &why) -> std::optional<Document> {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r')
            return fail(QStringLiteral("it holds binary data"));
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return fail(QStringLiteral("it is not UTF-8 text"));
    if (text.startsWith(QChar::ByteOrderMark))
        text.remove(0, 1);

    Document document;
    QHash<QString, qsizetype> indexByLowerKey;
    bool inSettings = false;
    qsizetype lineNumber = 0;
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype end = text.indexOf(u'\n', from);
        if (end < 0)
            end = text.size();
        QStringView line = QStringView(text).sliced(from, end - from);
        from = end + 1;
        ++lineNumber;
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QStringView content = trimmedBlanks(line);

        if (content.startsWith(u'[')) {
            if (!content.endsWith(u']'))
                return fail(QStringLiteral("line %1 is not a setting").arg(lineNumber));
            const QString group = unescapeKey(trimmedBlanks(content.sliced(1, content.size() - 2)));
            inSettings = group.compare(SettingsGroup, Qt::CaseInsensitive) == 0;
            if (!inSettings)
                document.otherText += line + u'\n';
            continue;
        }
        const bool comment = content.isEmpty() || content.startsWith(u';') || content.startsWith(u'#');
        if (!comment) {
            const qsizetype equals = content.indexOf(u'=');
            if (equals < 0)
                return fail(QStringLiteral("line %1 is not a setting").arg(lineNumber));
            if (trimmedBlanks(content.first(equals)).isEmpty())
                return fail(QStringLiteral("line %1 has no key").arg(lineNumber));
        }
        if (!inSettings) {
            document.otherText += line + u'\n';
            continue;
        }
        if (comment)
            continue;
        const qsizetype equals = content.indexOf(u'=');
        const QString key = unescapeKey(trimmedBlanks(content.first(equals)));
        const QString value = unescapeValue(content.sliced(equals + 1));
        const QString lower = key.toLower();
        const auto found = indexByLowerKey.constFind(lower);
        if (found != indexByLowerKey.cend()) {
            document.settings[*found].value = value;
        } else {
            indexByLowerKey.insert(lower, document.settings.size());
            document.settings.append({ key, value });
        }
    }
    return document;
}

QByteArray serialize(const Document &document)
{
    QString text = document.otherText;
    if (!text.isEmpty() && !text.endsWith(u'\n'))
        text += u'\n';
    text += u'[' + SettingsGroup + QStringLiteral("]\n");
    for (const Entry &entry : document.settings)
        text += escapeKey(entry.key) + u'=' + escapeValue(entry.value) + u'\n';
    return text.toUtf8();
}

} // namespace IniText
