#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

#include <cmath>
#include <cstdint>
#include <vector>

// Plain 16-bit PCM WAV files for the sound tests, read and written without the player's decoder.
namespace WavFiles {

struct Sound
{
    int rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples; // interleaved
    long frames() const { return channels ? static_cast<long>(samples.size()) / channels : 0; }
};

// A sine tone, loud enough that no sample is zero for long.
inline Sound tone(double hz, double seconds, int rate = 8000, int channels = 1)
{
    Sound s { rate, channels, {} };
    const long frames = std::lround(seconds * rate);
    for (long i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(std::lround(12000.0 * std::sin(2 * M_PI * hz * double(i) / rate)));
        for (int c = 0; c < channels; ++c)
            s.samples.push_back(static_cast<std::int16_t>(v / (c + 1)));
    }
    return s;
}

inline bool write(const QString &path, const Sound &s)
{
    auto le32 = [](QByteArray &b, quint32 v) {
        char d[4];
        qToLittleEndian(v, d);
        b.append(d, 4);
    };
    auto le16 = [](QByteArray &b, quint16 v) {
        char d[2];
        qToLittleEndian(v, d);
        b.append(d, 2);
    };
    const quint32 dataBytes = static_cast<quint32>(s.samples.size() * 2);
    QByteArray b("RIFF");
    le32(b, 36 + dataBytes);
    b.append("WAVEfmt ");
    le32(b, 16);
    le16(b, 1);
    le16(b, static_cast<quint16>(s.channels));
    le32(b, static_cast<quint32>(s.rate));
    le32(b, static_cast<quint32>(s.rate * s.channels * 2));
    le16(b, static_cast<quint16>(s.channels * 2));
    le16(b, 16);
    b.append("data");
    le32(b, dataBytes);
    for (std::int16_t v : s.samples)
        le16(b, static_cast<quint16>(v));
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(b) == b.size();
}

// Reads a 16-bit PCM WAV file. The data chunk runs to the end of the file when its length field
// was never filled in.
inline Sound read(const QString &path)
{
    Sound s;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return s;
    const QByteArray b = f.readAll();
    if (b.size() < 12 || !b.startsWith("RIFF") || b.mid(8, 4) != "WAVE")
        return s;
    qsizetype pos = 12;
    while (pos + 8 <= b.size()) {
        const QByteArray id = b.mid(pos, 4);
        quint32 size = qFromLittleEndian<quint32>(b.constData() + pos + 4);
        const qsizetype body = pos + 8;
        if (id == "fmt " && body + 16 <= b.size()) {
            s.channels = qFromLittleEndian<quint16>(b.constData() + body + 2);
            s.rate = static_cast<int>(qFromLittleEndian<quint32>(b.constData() + body + 4));
        } else if (id == "data") {
            if (size == 0 || body + qsizetype(size) > b.size())
                size = static_cast<quint32>(b.size() - body);
            for (qsizetype i = body; i + 1 < body + qsizetype(size); i += 2)
                s.samples.push_back(static_cast<std::int16_t>(qFromLittleEndian<quint16>(b.constData() + i)));
            break;
        }
        pos = body + size + (size & 1);
    }
    return s;
}

} // namespace WavFiles
