#include "MaskScanner.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

struct Key
{
    uchar k0, k1, k2;
    quint32 word; // k0 | k1 << 8 | k2 << 16
#if defined(__SSE2__)
    __m128i key32;
    __m128i low24;
    __m128i pattern[3]; // 16 three-byte pixels of the key colour
#endif
};

inline bool holeAt(const uchar *row, int x, int bpp, const Key &k)
{
    const uchar *p = row + qsizetype(x) * bpp;
    return p[0] == k.k0 && p[1] == k.k1 && p[2] == k.k2;
}

// Bit i set when pixel x + i is a hole, for the 16 pixels from x (all inside the row).
inline quint32 holes16(const uchar *row, int x, int bpp, const Key &k)
{
#if defined(__SSE2__)
    if (bpp == 4) {
        const uchar *p = row + qsizetype(x) * 4;
        quint32 bits = 0;
        for (int i = 0; i < 4; ++i) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i));
            v = _mm_and_si128(v, k.low24);
            const __m128i eq = _mm_cmpeq_epi32(v, k.key32);
            bits |= quint32(_mm_movemask_ps(_mm_castsi128_ps(eq))) << (4 * i);
        }
        return bits;
    }
    const uchar *p = row + qsizetype(x) * 3;
    quint64 m = 0;
    for (int i = 0; i < 3; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i));
        m |= quint64(quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(v, k.pattern[i])))) << (16 * i);
    }
    constexpr quint64 PixelStarts = 0x249249249249ULL; // bits 0, 3, ..., 45
    const quint64 whole = m & (m >> 1) & (m >> 2) & PixelStarts;
    if (whole == 0)
        return 0;
    if (whole == PixelStarts)
        return 0xFFFF;
    quint32 bits = 0;
    for (int i = 0; i < 16; ++i)
        bits |= quint32((whole >> (3 * i)) & 1u) << i;
    return bits;
#else
    quint32 bits = 0;
    for (int i = 0; i < 16; ++i)
        bits |= quint32(holeAt(row, x + i, bpp, k)) << i;
    return bits;
#endif
}

} // namespace

QList<QRect> scanMaskRuns(const QImage &image, int bytesPerPixel, uchar key0, uchar key1, uchar key2)
{
    Key k { key0, key1, key2, quint32(key0) | (quint32(key1) << 8) | (quint32(key2) << 16) };
#if defined(__SSE2__)
    k.key32 = _mm_set1_epi32(int(k.word));
    k.low24 = _mm_set1_epi32(0x00FFFFFF);
    uchar bytes[48];
    for (int i = 0; i < 16; ++i) {
        bytes[3 * i] = key0;
        bytes[3 * i + 1] = key1;
        bytes[3 * i + 2] = key2;
    }
    for (int i = 0; i < 3; ++i)
        k.pattern[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + 16 * i));
#endif
    QList<QRect> rects;
    const int width = image.width();
    const int height = image.height();
    const int bpp = bytesPerPixel;
    for (int y = 0; y < height; ++y) {
        const uchar *row = image.constScanLine(y);
        bool inRun = false;
        int runStart = 0;
        int x = 0;
        // Whole chunks of 16 pixels: walk the hole bits from transition to transition.
        for (; x + 16 <= width; x += 16) {
            const quint32 holes = holes16(row, x, bpp, k);
            if (inRun ? holes == 0 : holes == 0xFFFF)
                continue; // the run (or the hole) goes on through the chunk
            int pos = 0;
            while (pos < 16) {
                if (inRun) {
                    const quint32 h = holes >> pos;
                    if (h == 0)
                        break;
                    pos += std::countr_zero(h);
                    rects.append(QRect(runStart, y, x + pos - runStart, 1));
                    inRun = false;
                } else {
                    const quint32 o = (~holes & 0xFFFFu) >> pos;
                    if (o == 0)
                        break;
                    pos += std::countr_zero(o);
                    runStart = x + pos;
                    inRun = true;
                }
            }
        }
        // The last pixels of the row, one at a time.
        for (; x < width; ++x) {
            const bool hole = holeAt(row, x, bpp, k);
            if (inRun && hole) {
                rects.append(QRect(runStart, y, x - runStart, 1));
                inRun = false;
            } else if (!inRun && !hole) {
                runStart = x;
                inRun = true;
            }
        }
        if (inRun) // a run that reaches the right edge includes its last pixel
            rects.append(QRect(runStart, y, width - runStart, 1));
    }
    return rects;
}
