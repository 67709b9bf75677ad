#include "nettools/WhoisDecoder.h"

namespace {
// The length of the UTF-8 sequence that starts with lead, 0 for a byte that starts none.
int sequenceLength(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Whether byte may stand at offset (1..3) of the sequence that starts with lead: the second
// byte's range rules out overlong forms, surrogates and values above U+10FFFF.
bool validContinuation(unsigned char lead, int offset, unsigned char byte)
{
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (offset == 1) {
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
        else if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    }
    return byte >= low && byte <= high;
}

bool isBidiControl(char32_t c)
{
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}
} // namespace

QString WhoisDecoder::decode(QByteArrayView bytes)
{
    QByteArray joined;
    QByteArrayView data = bytes;
    if (!m_pending.isEmpty()) {
        joined = m_pending + bytes.toByteArray();
        m_pending.clear();
        data = joined;
    }
    QString out;
    out.reserve(data.size());
    const qsizetype size = data.size();
    qsizetype i = 0;
    while (i < size) {
        const auto lead = static_cast<unsigned char>(data[i]);
        if (lead < 0x80) {
            append(out, lead);
            ++i;
            continue;
        }
        const int length = sequenceLength(lead);
        int present = 1;
        bool valid = length > 0;
        while (valid && present < length && i + present < size) {
            valid = validContinuation(lead, present, static_cast<unsigned char>(data[i + present]));
            if (valid)
                ++present;
        }
        if (!valid) {
            append(out, lead); // Latin-1
            ++i;
        } else if (present < length) {
            m_pending = data.sliced(i).toByteArray(); // finished by the next read
            break;
        } else {
            char32_t c = lead & (0xFF >> (length + 1));
            for (int k = 1; k < length; ++k)
                c = (c << 6) | (static_cast<unsigned char>(data[i + k]) & 0x3F);
            append(out, c);
            i += length;
        }
    }
    return out;
}

QString WhoisDecoder::finish()
{
    QString out;
    for (const char byte : std::as_const(m_pending))
        append(out, static_cast<unsigned char>(byte));
    m_pending.clear();
    return out;
}

void WhoisDecoder::reset()
{
    m_pending.clear();
    m_afterCr = false;
    m_lineLength = 0;
}

void WhoisDecoder::append(QString &out, char32_t c)
{
    const bool afterCr = m_afterCr;
    m_afterCr = c == u'\r';
    if (c == u'\r' || c == 0x2028 || c == 0x2029 || (c == u'\n' && !afterCr)) {
        out += u'\n';
        m_lineLength = 0;
        return;
    }
    if (c == u'\n' || isBidiControl(c))
        return; // the LF of a CR LF; dropped controls
    if (m_lineLength == MaxLineLength) {
        out += u'\n';
        m_lineLength = 0;
    }
    ++m_lineLength;
    if (c == u'\t')
        out += u'\t';
    else if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
        out += QChar(QChar::ReplacementCharacter);
    else if (QChar::requiresSurrogates(c))
        out += QChar::fromUcs4(c);
    else
        out += QChar(char16_t(c));
}
