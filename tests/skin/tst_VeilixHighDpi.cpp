// The controls at a device pixel ratio of 2 (QT_SCALE_FACTOR=2 on the offscreen platform): the
// drawing surface keeps the screen's pixels, a picture's "@2x" edition is drawn with all of its
// pixels, and sizes and borders stay in device-independent pixels.
#include "VeilixControl/DrawSurface.h"
#include "VeilixControl/VeilixButton.h"
#include "VeilixControl/VeilixDragBar.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A face of side 20 (logical) at the given ratio: a 4-pixel frame of red around blue, and one
// green device pixel just inside the top-left corner.
QImage face(int ratio)
{
    QImage img(20 * ratio, 20 * ratio, QImage::Format_RGB32);
    img.fill(0xFF0000FF);
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if (x < 4 * ratio || y < 4 * ratio || x >= 16 * ratio || y >= 16 * ratio)
                img.setPixel(x, y, 0xFFFF0000);
        }
    }
    img.setPixel(1, 1, 0xFF00FF00);
    return img;
}

} // namespace

class tst_VeilixHighDpi final : public QObject
{
    Q_OBJECT
private slots:
    void twiceAsManyPixels()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("face.png"));
        QVERIFY(face(1).save(path));
        QVERIFY(face(2).save(dir.filePath(QStringLiteral("face@2x.png"))));

        QWidget form;
        auto *b = new VeilixButton(&form);
        b->resize(60, 30);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(b->devicePixelRatioF(), 2.0);

        const VeilixPicture doubled = VeilixPicture::fromFile(path, b->devicePixelRatioF());
        QCOMPARE(doubled.image().devicePixelRatio(), 2.0);
        QCOMPARE(doubled.size(), QSize(20, 20)); // device-independent
        QCOMPARE(VeilixPicture::fromFile(path, 1.0).image().size(), QSize(20, 20));

        b->setCaption(QString());
        b->setBorderWidth(4);
        b->setPictureNormal(doubled);
        QCOMPARE(b->BorderWidth(), 4);
        const QImage drawn = b->Image();
        QCOMPARE(drawn.size(), QSize(120, 60));
        // The single green pixel survives: the corner is copied pixel for pixel.
        QCOMPARE(drawn.pixel(1, 1), 0xFF00FF00u);
        QCOMPARE(drawn.pixel(0, 0), 0xFFFF0000u);
        QCOMPARE(drawn.pixel(2, 2), 0xFFFF0000u);
        // The frame is 4 logical = 8 device pixels wide on every side; blue inside.
        QCOMPARE(drawn.pixel(7, 30), 0xFFFF0000u);
        QCOMPARE(drawn.pixel(8, 30), 0xFF0000FFu);
        QCOMPARE(drawn.pixel(111, 30), 0xFF0000FFu);
        QCOMPARE(drawn.pixel(112, 30), 0xFFFF0000u);
        QCOMPARE(drawn.pixel(60, 51), 0xFF0000FFu);
        QCOMPARE(drawn.pixel(60, 52), 0xFFFF0000u);

        // A picture of ratio 1 is scaled up: its corner pixel covers 2 x 2 device pixels.
        b->setPictureNormal(VeilixPicture::fromFile(path));
        QCOMPARE(b->Image().pixel(2, 2), 0xFF00FF00u);
        QCOMPARE(b->Image().pixel(3, 3), 0xFF00FF00u);
    }

    void titleBarPictureKeepsItsPixels()
    {
        QWidget form;
        auto *bar = new VeilixDragBar(&form);
        bar->setScaleMode(3);
        bar->resize(40, 20);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QImage picture = face(2);
        picture.setDevicePixelRatio(2);
        bar->PaintPicture(VeilixPicture(picture), 0, 0, 20, 20, 0, 0, 20, 20);
        QCOMPARE(bar->Image().size(), QSize(80, 40));
        QCOMPARE(bar->Image().pixel(1, 1), 0xFF00FF00u);
        QCOMPARE(bar->Image().pixel(2, 2), 0xFFFF0000u);
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    tst_VeilixHighDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_VeilixHighDpi.moc"
