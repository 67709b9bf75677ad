#include "tests/skin/SkinTestUtil.h"

#include "VeilixControl/OleColor.h"
#include "VeilixControl/PropertyBag.h"
#include "VeilixControl/VeilixDragBar.h"

#include <QLabel>
#include <QTest>
#include <QWindow>

using namespace SkinTest;

class tst_VeilixDragBar final : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { VeilixDragBar::setSystemMoveFn({}); }

    void newInstance()
    {
        VeilixDragBar bar;
        QCOMPARE(bar.Caption(), QStringLiteral("Transparent at runtime"));
        QCOMPARE(bar.lblCaption()->objectName(), QStringLiteral("lblCaption"));
        QCOMPARE(bar.lblCaption()->textFormat(), Qt::PlainText);
        QCOMPARE(bar.Font().family(), QStringLiteral("Verdana"));
        QCOMPARE(bar.Font().pointSizeF(), 8.25);
        QCOMPARE(bar.ScaleMode(), 1);
        QCOMPARE(bar.size(), QSize(145, 18));
        QCOMPARE(bar.ScaleWidth(), 2175.0);
        QCOMPARE(bar.ScaleHeight(), 270.0);
        QCOMPARE(bar.ForeColor(), qint32(OleColor::ButtonText));
    }

    void bagDefaultsAndRoundTrip()
    {
        QWidget parent;
        auto *bar = new VeilixDragBar(&parent);
        PropertyBag bag;
        bar->writeProperties(bag);
        // Only what differs from the bag defaults: the design's caption and font.
        QCOMPARE(bag.names(), (QStringList { QStringLiteral("Font"), QStringLiteral("Caption") }));
        auto *copy = new VeilixDragBar(&parent);
        copy->readProperties(bag);
        QCOMPARE(copy->Caption(), QStringLiteral("Transparent at runtime"));

        auto *fromEmpty = new VeilixDragBar(&parent);
        fromEmpty->readProperties(PropertyBag());
        QCOMPARE(fromEmpty->Caption(), QStringLiteral("Caption"));
        QCOMPARE(fromEmpty->Font(), parent.font());

        bar->setCaption(QStringLiteral("Vistelle Update System"));
        bar->setAlignment(2);
        bar->setForeColor(0x00FFFFFF);
        bar->setMousePointer(5);
        bar->setEnabledProperty(false);
        PropertyBag changed;
        bar->writeProperties(changed);
        QCOMPARE(changed.names(),
            (QStringList { QStringLiteral("MousePointer"), QStringLiteral("Enabled"), QStringLiteral("Font"),
                QStringLiteral("Caption"), QStringLiteral("Alignment"), QStringLiteral("ForeColor") }));
        const auto json = PropertyBag::fromJson(changed.toJson());
        QVERIFY(json);
        auto *c = new VeilixDragBar(&parent);
        json->clearReadLog();
        c->readProperties(*json);
        QCOMPARE(json->readLog(),
            (QStringList { QStringLiteral("MousePointer"), QStringLiteral("MouseIcon"), QStringLiteral("Enabled"),
                QStringLiteral("ScaleMode"), QStringLiteral("Font"), QStringLiteral("Caption"),
                QStringLiteral("Alignment"), QStringLiteral("ForeColor"), QStringLiteral("ScaleWidth"),
                QStringLiteral("ScaleHeight") }));
        QCOMPARE(c->Caption(), QStringLiteral("Vistelle Update System"));
        QCOMPARE(c->Alignment(), 2);
        QCOMPARE(c->ForeColor(), qint32(0x00FFFFFF));
        QCOMPARE(c->MousePointer(), 5);
        QVERIFY(!c->Enabled());
        QCOMPARE(c->lblCaption()->palette().color(QPalette::WindowText), QColor(Qt::white));
    }

    void layout_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<int>("scaleMode");
        QTest::newRow("left, pixels") << 0 << 3;
        QTest::newRow("right, pixels") << 1 << 3;
        QTest::newRow("centre, pixels") << 2 << 3;
        QTest::newRow("right, twips") << 1 << 1;
        QTest::newRow("left, twips") << 0 << 1;
    }
    void layout()
    {
        QFETCH(int, alignment);
        QFETCH(int, scaleMode);
        VeilixDragBar bar;
        bar.resize(300, 24);
        bar.setScaleMode(scaleMode);
        bar.setCaption(QStringLiteral("Title"));
        bar.setAlignment(alignment);
        const QLabel *l = bar.lblCaption();
        const double unit = scaleMode == 1 ? 15.0 : 1.0; // units per pixel
        const double left = alignment == 0 ? 4 / unit
            : alignment == 1               ? 300 - (l->width() + 4 / unit)
                                           : 150 - l->width() / 2.0;
        QCOMPARE(l->x(), int(std::lround(left)));
        QCOMPARE(l->y(), int(std::lround(12 - l->height() / 2.0)));
        if (scaleMode == 3 && alignment == 1)
            QCOMPARE(300 - (l->x() + l->width()), 4);
    }

    void fontDoesNotLayOut()
    {
        VeilixDragBar bar;
        bar.resize(300, 24);
        bar.setScaleMode(3);
        bar.setAlignment(1);
        const int right = bar.lblCaption()->x();
        QFont big = bar.Font();
        big.setPointSize(20);
        bar.setFontProperty(big);
        QCOMPARE(bar.lblCaption()->x(), right);
        bar.LayoutCaption();
        QVERIFY(bar.lblCaption()->x() < right);
    }

    void resizeLaysOut()
    {
        QWidget host;
        auto *bar = new VeilixDragBar(&host);
        bar->setScaleMode(3);
        bar->setAlignment(1);
        host.show();
        bar->resize(400, 30);
        QCOMPARE(bar->lblCaption()->x() + bar->lblCaption()->width(), 396);
    }

    // Any button drags. The left one asks the window system for its move (MouseDown, the move,
    // MouseUp at once); the window system's move follows the left button only, so the others
    // move the window with the pointer, and MouseUp comes with their release.
    void dragForAnyButton_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("onLabel");
        QTest::newRow("left on bar") << int(Qt::LeftButton) << false;
        QTest::newRow("right on bar") << int(Qt::RightButton) << false;
        QTest::newRow("left on label") << int(Qt::LeftButton) << true;
        QTest::newRow("middle on label") << int(Qt::MiddleButton) << true;
        QTest::newRow("right on label") << int(Qt::RightButton) << true;
    }
    void dragForAnyButton()
    {
        QFETCH(int, button);
        QFETCH(bool, onLabel);
        QWidget form;
        form.setWindowFlag(Qt::FramelessWindowHint);
        form.resize(200, 100);
        auto *bar = new VeilixDragBar(&form);
        bar->setScaleMode(3);
        form.move(50, 50);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QStringList order;
        QWindow *moved = nullptr;
        VeilixDragBar::setSystemMoveFn([&](QWindow *w) {
            order << QStringLiteral("move");
            moved = w;
            return true;
        });
        connect(bar, &VeilixDragBar::MouseDown, bar, [&](qint16 &b, qint16 &, float &x, float &) {
            order << QStringLiteral("MouseDown%1").arg(b);
            x = 99; // handlers may change the arguments; MouseUp gets the same ones
        });
        connect(bar, &VeilixDragBar::MouseUp, bar,
            [&](qint16 &b, qint16 &, float &x, float &) { order << QStringLiteral("MouseUp%1 x=%2").arg(b).arg(x); });
        QWidget *target = onLabel ? static_cast<QWidget *>(bar->lblCaption()) : bar;
        const auto mouseButton = Qt::MouseButton(button);
        const int code = button == Qt::LeftButton ? 1 : button == Qt::RightButton ? 2 : 4;
        const QString down = QStringLiteral("MouseDown%1").arg(code);
        const QString up = QStringLiteral("MouseUp%1 x=99").arg(code);
        const QPoint start = form.pos();
        press(target, { 2, 2 }, mouseButton);
        if (mouseButton == Qt::LeftButton) {
            QCOMPARE(order, (QStringList { down, QStringLiteral("move"), up }));
            QCOMPARE(moved, form.windowHandle());
            return;
        }
        QCOMPARE(order, (QStringList { down }));
        mouse(target, QEvent::MouseMove, { 32, 22 }, Qt::NoButton, mouseButton);
        QCOMPARE(form.pos(), start + QPoint(30, 20));
        // Another button's release does not end the drag.
        mouse(target, QEvent::MouseButtonRelease, { 32, 22 }, Qt::LeftButton, mouseButton);
        QCOMPARE(order, (QStringList { down }));
        mouse(target, QEvent::MouseButtonRelease, { 32, 22 }, mouseButton, Qt::NoButton);
        QCOMPARE(order, (QStringList { down, up }));
        mouse(target, QEvent::MouseMove, { 60, 60 }, Qt::NoButton, Qt::NoButton);
        QCOMPARE(form.pos(), start + QPoint(30, 20));
    }

    void manualMoveWhenTheSystemCannot()
    {
        QWidget form;
        form.setWindowFlag(Qt::FramelessWindowHint);
        form.resize(200, 100);
        auto *bar = new VeilixDragBar(&form);
        form.move(50, 50);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        VeilixDragBar::setSystemMoveFn([](QWindow *) { return false; });
        const QPoint start = form.pos();
        press(bar, { 5, 5 });
        mouse(bar, QEvent::MouseMove, { 35, 25 }, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(form.pos(), start + QPoint(30, 20));
        release(bar, { 35, 25 });
        mouse(bar, QEvent::MouseMove, { 60, 60 }, Qt::NoButton, Qt::NoButton);
        QCOMPARE(form.pos(), start + QPoint(30, 20));
    }

    void mouseMoveInScaleUnits()
    {
        VeilixDragBar bar;
        float gotX = 0;
        connect(&bar, &VeilixDragBar::MouseMove, &bar, [&](qint16 &, qint16 &, float &x, float &) { gotX = x; });
        move(&bar, { 10, 3 });
        QCOMPARE(gotX, 150.0f); // twips
    }

    void paintPictureAndCls()
    {
        VeilixDragBar bar;
        bar.resize(40, 10);
        bar.setScaleMode(3);
        QImage pic(100, 100, QImage::Format_RGB32);
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                pic.setPixel(x, y, qRgb(x, y, 7));
        bar.PaintPicture(VeilixPicture(pic), 0, 0, 40, 10, 20, 30, 40, 10);
        QCOMPARE(bar.Image().pixel(0, 0), pic.pixel(20, 30));
        QCOMPARE(bar.Image().pixel(39, 9), pic.pixel(59, 39));
        bar.Cls();
        QCOMPARE(qAlpha(bar.Image().pixel(0, 0)), 0);
        // In twips the same picture part is given in twips.
        bar.setScaleMode(1);
        bar.PaintPicture(VeilixPicture(pic), 0, 0, 600, 150, 300, 450, 600, 150);
        QCOMPARE(bar.Image().pixel(0, 0), pic.pixel(20, 30));
        // Errors are ignored: nothing to draw.
        bar.PaintPicture(VeilixPicture::empty(), 0, 0);
        bar.PaintPicture(VeilixPicture(), 0, 0);
    }
};

QTEST_MAIN(tst_VeilixDragBar)
#include "tst_VeilixDragBar.moc"
