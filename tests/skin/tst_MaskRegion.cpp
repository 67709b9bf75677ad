#include "tests/skin/SkinTestUtil.h"

#include "VeilixControl/OleColor.h"
#include "VeilixControl/modUniversal.h"

#include <QRandomGenerator>
#include <QTest>

#include <cstring>
#include <vector>

using namespace SkinTest;

namespace {

constexpr QRgb Magenta = 0xFFFF00FF;

// The runs of a mask by the plain definition, one pixel at a time.
QList<QRect> referenceRuns(const QImage &img, QRgb hole)
{
    QList<QRect> out;
    const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        int x = 0;
        while (x < rgb.width()) {
            while (x < rgb.width() && (rgb.pixel(x, y) & 0xFFFFFF) == (hole & 0xFFFFFF))
                ++x;
            const int start = x;
            while (x < rgb.width() && (rgb.pixel(x, y) & 0xFFFFFF) != (hole & 0xFFFFFF))
                ++x;
            if (start < rgb.width())
                out.append(QRect(start, y, x - start, 1));
        }
    }
    return out;
}

} // namespace

class tst_MaskRegion final : public QObject
{
    Q_OBJECT
private slots:
    void threeByOne_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("24-bit RGB888") << int(QImage::Format_RGB888);
        QTest::newRow("24-bit BGR888") << int(QImage::Format_BGR888);
        QTest::newRow("32-bit RGB32") << int(QImage::Format_RGB32);
        QTest::newRow("32-bit ARGB32") << int(QImage::Format_ARGB32);
        QTest::newRow("32-bit RGBA8888") << int(QImage::Format_RGBA8888);
    }
    void threeByOne()
    {
        QFETCH(int, format);
        QImage img = solid(3, 1, 0xFF000000);
        img.setPixel(1, 0, Magenta);
        img = img.convertToFormat(QImage::Format(format));
        QCOMPARE(
            modUniversal::MaskRuns(img, OleColor::Magenta), (QList<QRect> { QRect(0, 0, 1, 1), QRect(2, 0, 1, 1) }));
        const auto region = modUniversal::BuildMaskRegion(img, OleColor::Magenta);
        QVERIFY(region);
        QCOMPARE(rects(*region), (QList<QRect> { QRect(0, 0, 1, 1), QRect(2, 0, 1, 1) }));
    }

    void allMaskAndNoMask()
    {
        const QImage all = solid(40, 5, Magenta);
        const auto none = modUniversal::BuildMaskRegion(all, OleColor::Magenta);
        QVERIFY(none);
        QVERIFY(none->isEmpty());

        const QImage opaque = solid(40, 5, 0xFF102030, QImage::Format_RGB888);
        const auto full = modUniversal::BuildMaskRegion(opaque, OleColor::Magenta);
        QVERIFY(full);
        QCOMPARE(full->rectCount(), 5); // one full-width rectangle per row
        QVERIFY(sameArea(*full, QRegion(0, 0, 40, 5)));
        QCOMPARE(modUniversal::MaskRuns(opaque, OleColor::Magenta).at(4), QRect(0, 4, 40, 1));
    }

    void rightEdgeRuns_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("width");
        for (int w : { 5, 16, 17, 33 }) {
            QTest::addRow("24-bit width %d", w) << int(QImage::Format_RGB888) << w;
            QTest::addRow("32-bit width %d", w) << int(QImage::Format_RGB32) << w;
        }
    }
    void rightEdgeRuns()
    {
        QFETCH(int, format);
        QFETCH(int, width);
        QImage img = solid(width, 2, Magenta);
        img.setPixel(width - 1, 0, 0xFF0000FF); // only the last pixel
        img.setPixel(width - 3, 1, 0xFF0000FF); // a run of three to the edge
        img.setPixel(width - 2, 1, 0xFF0000FF);
        img.setPixel(width - 1, 1, 0xFF0000FF);
        img = img.convertToFormat(QImage::Format(format));
        QCOMPARE(modUniversal::MaskRuns(img, OleColor::Magenta),
            (QList<QRect> { QRect(width - 1, 0, 1, 1), QRect(width - 3, 1, 3, 1) }));
    }

    // Row padding carries no pixels: the bytes after the last pixel of a row are never looked at.
    void rowPaddingIgnored_data()
    {
        QTest::addColumn<int>("bytesPerPixel");
        QTest::addColumn<int>("width");
        for (int w : { 3, 16, 19 }) {
            QTest::addRow("24-bit width %d", w) << 3 << w;
            QTest::addRow("32-bit width %d", w) << 4 << w;
        }
    }
    void rowPaddingIgnored()
    {
        QFETCH(int, bytesPerPixel);
        QFETCH(int, width);
        const int height = 3;
        const int stride = width * bytesPerPixel + 20;
        // Padding bytes read as opaque pixels would add runs; poisoned bytes of 0x00 are opaque.
        std::vector<uchar> buffer(size_t(stride) * height, 0x00);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                uchar *p = buffer.data() + size_t(y) * stride + size_t(x) * bytesPerPixel;
                p[0] = 0xFF;
                p[1] = 0x00;
                p[2] = 0xFF; // magenta in either byte order
                if (bytesPerPixel == 4)
                    p[3] = 0xFF;
            }
        }
        const QImage img(
            buffer.data(), width, height, stride, bytesPerPixel == 3 ? QImage::Format_RGB888 : QImage::Format_RGB32);
        QVERIFY(modUniversal::MaskRuns(img, OleColor::Magenta).isEmpty());
        // And the last real pixel is read: make it opaque.
        buffer[size_t(width - 1) * bytesPerPixel] = 0x01;
        QCOMPARE(modUniversal::MaskRuns(img, OleColor::Magenta), (QList<QRect> { QRect(width - 1, 0, 1, 1) }));
    }

    // A pixel is a hole exactly when its red, green and blue equal those of the mask colour.
    void colourRule_data()
    {
        QTest::addColumn<qint32>("maskColor");
        QTest::addColumn<QRgb>("pixel");
        QTest::addColumn<bool>("hole");
        for (const auto &[fmt, name] : { std::pair { 0, "24" }, std::pair { 1, "32" } }) {
            Q_UNUSED(fmt);
            QTest::addRow("%s red mask, red pixel", name) << qint32(0x000000FF) << QRgb(0xFFFF0000) << true;
            QTest::addRow("%s red mask, blue pixel", name) << qint32(0x000000FF) << QRgb(0xFF0000FF) << false;
            QTest::addRow("%s magenta, white pixel", name) << qint32(OleColor::Magenta) << QRgb(0xFFFFFFFF) << false;
            QTest::addRow("%s magenta, magenta pixel", name) << qint32(OleColor::Magenta) << QRgb(Magenta) << true;
            QTest::addRow("%s black mask, black pixel", name) << qint32(0) << QRgb(0xFF000000) << true;
            QTest::addRow("%s black mask, near black", name) << qint32(0) << QRgb(0xFF000001) << false;
            QTest::addRow("%s system colour, button-face grey", name)
                << qint32(OleColor::ButtonFace) << QRgb(0xFFF0F0F0) << false;
            QTest::addRow("%s system colour, black", name) << qint32(OleColor::ButtonFace) << QRgb(0xFF000000) << false;
            QTest::addRow("%s system colour, its low byte as red", name)
                << qint32(OleColor::ButtonFace) << QRgb(0xFF0F0000) << false;
        }
    }
    void colourRule()
    {
        QFETCH(qint32, maskColor);
        QFETCH(QRgb, pixel);
        QFETCH(bool, hole);
        const bool is24 = QByteArray(QTest::currentDataTag()).startsWith("24");
        const QImage img = solid(20, 1, pixel, is24 ? QImage::Format_RGB888 : QImage::Format_RGB32);
        const QList<QRect> runs = modUniversal::MaskRuns(img, maskColor);
        QCOMPARE(runs.isEmpty(), hole);
    }

    void alphaByteIgnored()
    {
        QImage img(4, 1, QImage::Format_ARGB32);
        img.setPixel(0, 0, qRgba(255, 0, 255, 0));
        img.setPixel(1, 0, qRgba(255, 0, 255, 128));
        img.setPixel(2, 0, qRgba(255, 0, 255, 255));
        img.setPixel(3, 0, qRgba(0, 0, 0, 0));
        QCOMPARE(modUniversal::MaskRuns(img, OleColor::Magenta), (QList<QRect> { QRect(3, 0, 1, 1) }));
    }

    void unsupportedDepths_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("16-bit") << int(QImage::Format_RGB16);
        QTest::newRow("8-bit indexed") << int(QImage::Format_Indexed8);
        QTest::newRow("1-bit") << int(QImage::Format_Mono);
        QTest::newRow("grey 8") << int(QImage::Format_Grayscale8);
    }
    void unsupportedDepths()
    {
        QFETCH(int, format);
        const QImage img = solid(8, 8, 0xFF000000).convertToFormat(QImage::Format(format));
        QVERIFY(!modUniversal::IsMaskDepth(img));
        QVERIFY(!modUniversal::BuildMaskRegion(img, OleColor::Magenta));
        QVERIFY(!modUniversal::BuildMaskRegion(QImage(), OleColor::Magenta));
    }

    // The chunked scan against the plain definition on random masks of awkward widths.
    void randomMasksMatchReference_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("width");
        for (int w : { 1, 15, 16, 31, 47, 64, 100 }) {
            QTest::addRow("24-bit %d", w) << int(QImage::Format_RGB888) << w;
            QTest::addRow("BGR %d", w) << int(QImage::Format_BGR888) << w;
            QTest::addRow("32-bit %d", w) << int(QImage::Format_ARGB32) << w;
            QTest::addRow("RGBA %d", w) << int(QImage::Format_RGBA8888) << w;
        }
    }
    void randomMasksMatchReference()
    {
        QFETCH(int, format);
        QFETCH(int, width);
        QRandomGenerator rng(quint32(width * 7 + format));
        QImage img(width, 40, QImage::Format_ARGB32);
        int runLeft = 0;
        QRgb current = Magenta;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < width; ++x) {
                if (runLeft-- <= 0) {
                    runLeft = int(rng.bounded(30));
                    const int pick = int(rng.bounded(4));
                    current = pick < 2 ? Magenta
                        : pick == 2    ? qRgba(255, 0, 254, 255)
                                       : qRgba(int(rng.bounded(256)), 0, 255, int(rng.bounded(256)));
                }
                img.setPixel(x, y, current);
            }
        }
        const QImage converted = img.convertToFormat(QImage::Format(format));
        QCOMPARE(modUniversal::MaskRuns(converted, OleColor::Magenta), referenceRuns(converted, Magenta));
        const auto region = modUniversal::BuildMaskRegion(converted, OleColor::Magenta);
        QVERIFY(region);
        QRegion expected;
        for (const QRect &r : referenceRuns(converted, Magenta))
            expected += r;
        QVERIFY(sameArea(*region, expected));
    }

    void splitColor_data()
    {
        QTest::addColumn<qint32>("color");
        QTest::addColumn<int>("red");
        QTest::addColumn<int>("green");
        QTest::addColumn<int>("blue");
        QTest::newRow("magenta") << qint32(0x00FF00FF) << 255 << 0 << 255;
        QTest::newRow("rgb") << qint32(0x00332211) << 0x11 << 0x22 << 0x33;
        QTest::newRow("button face") << qint32(OleColor::ButtonFace) << 15 << 0 << -32768;
    }
    void splitColor()
    {
        QFETCH(qint32, color);
        qint16 r = 0, g = 0, b = 0;
        modUniversal::SplitColor(color, r, g, b);
        QFETCH(int, red);
        QFETCH(int, green);
        QFETCH(int, blue);
        QCOMPARE(int(r), red);
        QCOMPARE(int(g), green);
        QCOMPARE(int(b), blue);
    }
};

QTEST_MAIN(tst_MaskRegion)
#include "tst_MaskRegion.moc"
