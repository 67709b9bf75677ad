#include "tests/skin/SkinTestUtil.h"

#include "VeilixControl/OleColor.h"
#include "VeilixControl/PropertyBag.h"
#include "VeilixControl/Veilix.h"
#include "VeilixControl/VeilixDragBar.h"
#include "VeilixControl/modUniversal.h"

#include <QFrame>
#include <QLabel>
#include <QTest>

using namespace SkinTest;

namespace {

constexpr QRgb Magenta = 0xFFFF00FF;

QImage gradient(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x % 256, y % 256, 40));
    return img;
}

} // namespace

class tst_Veilix final : public QObject
{
    Q_OBJECT
private:
    QStringList m_messages;

private slots:
    void init()
    {
        m_messages.clear();
        Veilix::setMessageFn([this](QWidget *, const QString &text) { m_messages << text; });
    }
    void cleanup() { Veilix::setMessageFn({}); }

    void fixedSize()
    {
        QWidget form;
        auto *v = new Veilix(&form);
        v->resize(100, 70);
        QCOMPARE(v->size(), QSize(32, 32));
        QVERIFY(v->Picture().isEmpty());
        QVERIFY(v->MaskPicture().isEmpty());
        QCOMPARE(v->MaskColor(), qint32(0x00FF00FF));
        QCOMPARE(v->ControlBackColor(), qint32(0x8000000F));
        QCOMPARE(v->ControlForeColor(), qint32(0x80000012));
        QVERIFY(!v->IsMasked());
        QCOMPARE(v->hostForm(), &form);
    }

    void shapesTheWindow()
    {
        QWidget form;
        form.resize(10, 3);
        auto *v = new Veilix(&form);
        QImage mask = solid(10, 3, 0xFF000000);
        mask.setPixel(4, 0, Magenta);
        mask.setPixel(0, 2, Magenta);
        mask.setPixel(9, 2, Magenta);
        v->setMaskPicture(VeilixPicture(mask.convertToFormat(QImage::Format_RGB888)));
        QVERIFY(v->ApplyTransparency());
        QVERIFY(v->IsMasked());
        QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(rects(form.mask()),
            (QList<QRect> { QRect(0, 0, 4, 1), QRect(5, 0, 5, 1), QRect(0, 1, 10, 1), QRect(1, 2, 8, 1) }));
        QVERIFY(m_messages.isEmpty());

        QVERIFY(v->RemoveTransparency());
        QVERIFY(!v->IsMasked());
        QVERIFY(form.mask().isEmpty());
    }

    void allMaskShowsTheWholeRectangle()
    {
        QWidget form;
        auto *v = new Veilix(&form);
        form.setMask(QRegion(0, 0, 3, 3));
        v->setMaskPicture(VeilixPicture(solid(20, 20, Magenta)));
        QVERIFY(v->ApplyTransparency());
        QVERIFY(v->IsMasked());
        QVERIFY(form.mask().isEmpty());
    }

    void maskColourRuleThroughTheControl_data()
    {
        QTest::addColumn<qint32>("maskColor");
        QTest::addColumn<int>("format");
        QTest::addColumn<QList<QRect>>("expected");
        // Pixels: red, blue, white, magenta.
        const QList<QRect> all { QRect(0, 0, 4, 1) };
        QTest::newRow("red 24") << qint32(0x0000FF) << int(QImage::Format_RGB888) << QList<QRect> { QRect(1, 0, 3, 1) };
        QTest::newRow("red 32") << qint32(0x0000FF) << int(QImage::Format_RGB32) << QList<QRect> { QRect(1, 0, 3, 1) };
        QTest::newRow("blue 24") << qint32(0xFF0000) << int(QImage::Format_RGB888)
                                 << QList<QRect> { QRect(0, 0, 1, 1), QRect(2, 0, 2, 1) };
        QTest::newRow("magenta 32, white stays")
            << qint32(OleColor::Magenta) << int(QImage::Format_ARGB32) << QList<QRect> { QRect(0, 0, 3, 1) };
        QTest::newRow("system colour 24") << qint32(OleColor::ButtonFace) << int(QImage::Format_RGB888) << all;
        QTest::newRow("system colour 32") << qint32(OleColor::ButtonFace) << int(QImage::Format_RGB32) << all;
    }
    void maskColourRuleThroughTheControl()
    {
        QFETCH(qint32, maskColor);
        QFETCH(int, format);
        QFETCH(QList<QRect>, expected);
        QWidget form;
        auto *v = new Veilix(&form);
        QImage mask(4, 1, QImage::Format_RGB32);
        mask.setPixel(0, 0, 0xFFFF0000);
        mask.setPixel(1, 0, 0xFF0000FF);
        mask.setPixel(2, 0, 0xFFFFFFFF);
        mask.setPixel(3, 0, Magenta);
        v->setMaskColor(maskColor);
        v->setMaskPicture(VeilixPicture(mask.convertToFormat(QImage::Format(format))));
        v->ApplyTransparency();
        QCOMPARE(rects(form.mask()), expected);
    }

    void emptyMaskPictureGivesTheDepthMessage()
    {
        QWidget form;
        auto *v = new Veilix(&form);
        v->setPicture(VeilixPicture(solid(5, 5, 0xFF000000)));
        // MaskPicture is the new instance's empty picture: used, and found without pixels.
        QVERIFY(v->ApplyTransparency());
        QCOMPARE(
            m_messages, QStringList { QStringLiteral("Sorry, transparacy only works for  24-bit or 32-bit color.") });
        QVERIFY(!v->IsMasked());
        QVERIFY(form.mask().isEmpty());
    }

    void otherDepthKeepsShapeAndFlag()
    {
        QWidget form;
        auto *v = new Veilix(&form);
        QImage mask = solid(4, 1, 0xFF000000);
        mask.setPixel(0, 0, Magenta);
        v->setMaskPicture(VeilixPicture(mask));
        v->ApplyTransparency();
        const QRegion shaped = form.mask();
        QVERIFY(v->IsMasked());
        v->setMaskPicture(VeilixPicture(solid(4, 1, 0xFF000000, QImage::Format_RGB16)));
        QVERIFY(v->ApplyTransparency());
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(v->IsMasked());
        QCOMPARE(form.mask(), shaped);
    }

    void pictureServesAsMaskWhenMaskIsNone()
    {
        QWidget form;
        auto *v = new Veilix(&form);
        QImage pic = solid(4, 1, 0xFF000000);
        pic.setPixel(3, 0, Magenta);
        v->setMaskPicture(VeilixPicture::none());
        v->setPicture(VeilixPicture(pic));
        v->ApplyTransparency();
        QCOMPARE(rects(form.mask()), (QList<QRect> { QRect(0, 0, 3, 1) }));
    }

    void noPicturesOnlyRemovesTheBorder()
    {
        QWidget form;
        auto *v = new Veilix(&form);
        v->setMaskPicture(VeilixPicture::none());
        v->setPicture(VeilixPicture::none());
        form.setWindowFlag(Qt::FramelessWindowHint, false);
        QVERIFY(v->ApplyTransparency());
        QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(m_messages.isEmpty());
        QVERIFY(!v->IsMasked());
    }

    void paintBackground()
    {
        QWidget form;
        form.resize(300, 300);
        auto *bar = new VeilixDragBar(&form);
        bar->setGeometry(10, 20, 50, 15);
        auto *box = new QFrame(&form);
        box->setFrameShape(QFrame::Box);
        box->setLineWidth(2);
        box->setGeometry(30, 40, 20, 20);
        auto *v = new Veilix(&form);
        const QImage pic = gradient(120, 80);
        v->setControlPainting(true);
        v->setPicture(VeilixPicture(pic));
        QCOMPARE(form.size(), QSize(120, 80));
        QCOMPARE(modUniversal::FormPicture(&form), pic);
        QCOMPARE(bar->Image().pixel(0, 0), pic.pixel(10, 20));
        QCOMPARE(bar->Image().pixel(49, 14), pic.pixel(59, 34));
        QCOMPARE(bar->ScaleMode(), 1); // restored
        // The picture box shows the picture under its inside, inside its frame.
        const QImage face = box->palette().brush(QPalette::Window).textureImage();
        QCOMPARE(face.pixel(2, 2), pic.pixel(32, 42));

        v->setPicture(VeilixPicture::empty());
        QVERIFY(modUniversal::FormPicture(&form).isNull());
        QCOMPARE(qAlpha(bar->Image().pixel(0, 0)), 0);
    }

    void controlPaintingColours()
    {
        QWidget form;
        auto *painted = new QLabel(QStringLiteral("a"), &form);
        auto *own = new QLabel(QStringLiteral("b"), &form);
        auto *v = new Veilix(&form);
        v->setControlForeColor(0x00FFFFFF);
        v->setControlBackColor(0x00000000);
        v->setControlPainting(true);
        QCOMPARE(modUniversal::ControlForeColor(painted), qint32(0x00FFFFFF));
        QCOMPARE(modUniversal::ControlBackColor(painted), qint32(0));
        QCOMPARE(painted->palette().color(QPalette::WindowText), QColor(Qt::white));
        modUniversal::SetControlForeColor(own, 0x000000FF);
        modUniversal::SetControlBackColor(own, 0x0000FF00);

        v->setControlPainting(false);
        QCOMPARE(modUniversal::ControlForeColor(painted), qint32(OleColor::ButtonText));
        QCOMPARE(modUniversal::ControlBackColor(painted), qint32(OleColor::ButtonFace));
        QVERIFY(!painted->autoFillBackground());
        QCOMPARE(modUniversal::ControlForeColor(own), qint32(0x000000FF));
        QCOMPARE(modUniversal::ControlBackColor(own), qint32(0x0000FF00));
        QCOMPARE(own->palette().color(QPalette::WindowText), QColor(Qt::red));
    }

    void bagRoundTripRestoresValuesOnly()
    {
        QWidget form;
        auto *v = new Veilix(&form);
        PropertyBag fresh;
        v->writeProperties(fresh);
        QCOMPARE(fresh.names(), (QStringList { QStringLiteral("Picture"), QStringLiteral("MaskPicture") }));

        QImage mask = solid(4, 1, 0xFF000000);
        mask.setPixel(0, 0, Magenta);
        v->setMaskPicture(VeilixPicture(mask));
        v->setMaskColor(0x00FF00FF);
        v->setControlBackColor(0x00112233);
        v->ApplyTransparency();
        PropertyBag bag;
        v->writeProperties(bag);
        QCOMPARE(bag.names(),
            (QStringList { QStringLiteral("Picture"), QStringLiteral("MaskPicture"), QStringLiteral("IsMasked"),
                QStringLiteral("ControlBackColor") }));
        const auto loaded = PropertyBag::fromJson(bag.toJson());
        QVERIFY(loaded);
        QWidget other;
        auto *w = new Veilix(&other);
        w->readProperties(*loaded);
        QVERIFY(w->IsMasked());
        QVERIFY(other.mask().isEmpty()); // restoring applies no region
        QCOMPARE(w->MaskPicture().image(), mask);
        QVERIFY(w->Picture().isEmpty());
        QCOMPARE(w->ControlBackColor(), qint32(0x00112233));
    }

    void showingTheFormPaintsItAndRemovesItsBorder()
    {
        QWidget form;
        auto *v = new Veilix(&form);
        v->setDesignMode(true); // keep the picture from being applied before the show
        v->setPicture(VeilixPicture(gradient(60, 40)));
        v->setDesignMode(false);
        form.resize(200, 200);
        QVERIFY(!(form.windowFlags() & Qt::FramelessWindowHint));
        form.show();
        QCOMPARE(form.size(), QSize(60, 40));
        QTRY_VERIFY(form.windowFlags() & Qt::FramelessWindowHint);
        QTRY_VERIFY(form.isVisible());
    }

    void designModeWorksOnTheParentOnly()
    {
        QWidget window;
        auto *formWidget = new QWidget(&window);
        auto *v = new Veilix(formWidget);
        v->setDesignMode(true);
        QCOMPARE(v->hostForm(), formWidget);
        v->setPicture(VeilixPicture(gradient(50, 40)));
        QCOMPARE(formWidget->size(), QSize(50, 40));
        QVERIFY(!(window.windowFlags() & Qt::FramelessWindowHint));
    }
};

QTEST_MAIN(tst_Veilix)
#include "tst_Veilix.moc"
