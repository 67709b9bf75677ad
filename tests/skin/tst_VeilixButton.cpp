#include "tests/skin/SkinTestUtil.h"

#include "VeilixControl/DrawSurface.h"
#include "VeilixControl/OleColor.h"
#include "VeilixControl/PropertyBag.h"
#include "VeilixControl/VeilixButton.h"

#include <QAccessible>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace SkinTest;

namespace {

// A 30 × 30 face with the nine pieces of a 10-pixel frame in nine colours.
const QRgb TL = 0xFFFF0000, TR = 0xFF00FF00, BL = 0xFF0000FF, BR = 0xFFFFFF00;
const QRgb Top = 0xFF00FFFF, Bottom = 0xFF800080, Left = 0xFF808080, Right = 0xFFFF8000, Centre = 0xFFFFFFFF;

QImage ninePieceFace(int size = 30, int b = 10)
{
    QImage img(size, size, QImage::Format_RGB32);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int col = x < b ? 0 : x >= size - b ? 2 : 1;
            const int row = y < b ? 0 : y >= size - b ? 2 : 1;
            const QRgb table[3][3] = { { TL, Top, TR }, { Left, Centre, Right }, { BL, Bottom, BR } };
            img.setPixel(x, y, table[row][col]);
        }
    }
    return img;
}

QRgb expectedPiece(int x, int y, int W, int H, int b)
{
    const int col = x < b ? 0 : x >= W - b ? 2 : 1;
    const int row = y < b ? 0 : y >= H - b ? 2 : 1;
    const QRgb table[3][3] = { { TL, Top, TR }, { Left, Centre, Right }, { BL, Bottom, BR } };
    return table[row][col];
}

QFont testFont()
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(12);
    return f;
}

// The button's surface as it should look: cleared, with text printed at (x, y) in colour ole.
QImage expectedCaption(const VeilixButton &b, const QString &text, int x, int y, qint32 ole)
{
    DrawSurface ref;
    ref.resize(b.size());
    ref.setFont(b.Font());
    ref.setClearColor(b.palette().color(QPalette::Button));
    ref.setForeColor(ole);
    ref.Cls();
    ref.Print(x, y, text);
    return ref.image();
}

struct Recorder
{
    QStringList events;
    explicit Recorder(VeilixButton *b)
    {
        QObject::connect(b, &VeilixButton::MouseIn, b, [this] { events << QStringLiteral("MouseIn"); });
        QObject::connect(b, &VeilixButton::MouseOut, b, [this] { events << QStringLiteral("MouseOut"); });
        QObject::connect(b, &VeilixButton::Click, b, [this] { events << QStringLiteral("Click"); });
        QObject::connect(b, &VeilixButton::DblClick, b, [this] { events << QStringLiteral("DblClick"); });
        QObject::connect(b, &VeilixButton::MouseDown, b, [this](qint16 &button, qint16 &, float &, float &) {
            events << QStringLiteral("MouseDown%1").arg(button);
        });
        QObject::connect(b, &VeilixButton::MouseUp, b,
            [this](qint16 &button, qint16 &, float &, float &) { events << QStringLiteral("MouseUp%1").arg(button); });
        QObject::connect(b, &VeilixButton::MouseMove, b,
            [this](qint16 &, qint16 &, float &, float &) { events << QStringLiteral("MouseMove"); });
        QObject::connect(b, &VeilixButton::KeyDown, b,
            [this](qint16 &code, qint16 &) { events << QStringLiteral("KeyDown%1").arg(code); });
        QObject::connect(b, &VeilixButton::KeyUp, b,
            [this](qint16 &code, qint16 &) { events << QStringLiteral("KeyUp%1").arg(code); });
        QObject::connect(b, &VeilixButton::KeyPress, b,
            [this](qint16 &ascii) { events << QStringLiteral("KeyPress%1").arg(ascii); });
    }
    QStringList take()
    {
        QStringList e = events;
        events.clear();
        e.removeAll(QStringLiteral("MouseMove"));
        return e;
    }
};

void key(QWidget *w, QEvent::Type type, int qtKey, const QString &text)
{
    QKeyEvent e(type, qtKey, Qt::NoModifier, text);
    QCoreApplication::sendEvent(w, &e);
}

} // namespace

class tst_VeilixButton final : public QObject
{
    Q_OBJECT
private slots:
    void newInstance()
    {
        VeilixButton b;
        QCOMPARE(b.size(), QSize(117, 45));
        QCOMPARE(b.Caption(), QStringLiteral("VeilixButton"));
        QCOMPARE(b.BorderWidth(), 10);
        QCOMPARE(b.Alignment(), 2);
        QCOMPARE(b.ForeColorOver(), qint32(0x80000016));
        QVERIFY(b.PictureNormal().isEmpty());
        QVERIFY(b.MouseIcon().isNone());
        QCOMPARE(b.state(), VeilixButton::Normal);
        QCOMPARE(b.picBut()->geometry(), b.rect());
        QCOMPARE(b.picBut()->objectName(), QStringLiteral("picBut"));
    }

    void ninePieceDrawing()
    {
        VeilixButton b;
        b.resize(100, 60);
        b.setCaption(QStringLiteral(" "));
        b.setPictureNormal(VeilixPicture(ninePieceFace()));
        const QImage img = b.Image();
        QCOMPARE(img.size(), QSize(100, 60));
        for (int y = 0; y < 60; ++y) {
            for (int x = 0; x < 100; ++x) {
                if (img.pixel(x, y) != expectedPiece(x, y, 100, 60, 10))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3").arg(x).arg(y).arg(img.pixel(x, y), 8, 16)));
            }
        }
        QCOMPARE(b.currentPicture().image(), ninePieceFace());
    }

    void borderLoweredForSmallPicture()
    {
        VeilixButton b;
        b.resize(80, 40);
        b.setCaption(QString());
        QImage face(30, 20, QImage::Format_RGB32);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 30; ++x)
                face.setPixel(x, y, qRgb(x * 8, y * 12, 100));
        QSignalSpy changed(&b, &VeilixButton::propertyChanged);
        b.setPictureNormal(VeilixPicture(face));
        QCOMPARE(b.BorderWidth(), 9); // 20 <= 2 * 10
        QVERIFY(changed.contains(QVariantList { QStringLiteral("BorderWidth") }));
        const QRgb clear = b.palette().color(QPalette::Button).rgb();
        QVERIFY(inkBox(b.Image(), clear).isNull()); // nothing drawn on that paint

        b.Redraw(); // the next paint draws with 9
        QCOMPARE(b.BorderWidth(), 9);
        const QImage img = b.Image();
        QCOMPARE(img.pixel(8, 0), face.pixel(8, 0));
        QCOMPARE(img.pixel(79, 0), face.pixel(29, 0));
        QCOMPARE(img.pixel(80 - 9, 39), face.pixel(30 - 9, 19));
        QCOMPARE(img.pixel(0, 39 - 8), face.pixel(0, 19 - 8));
    }

    void borderZeroBecomesOne()
    {
        VeilixButton b;
        b.setBorderWidth(0);
        QCOMPARE(b.BorderWidth(), 0); // no picture: nothing painted with a border
        b.setPictureNormal(VeilixPicture(ninePieceFace()));
        QCOMPARE(b.BorderWidth(), 1);
    }

    void noPictureClearsWithCaption()
    {
        VeilixButton b;
        b.setFontProperty(testFont());
        b.setCaption(QStringLiteral("Ab"));
        b.setPictureNormal(VeilixPicture::none());
        const QRgb clear = b.palette().color(QPalette::Button).rgb();
        QVERIFY(!inkBox(b.Image(), clear).isNull());
        QVERIFY(b.currentPicture().isNone());
    }

    void captionPositions_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::newRow("left") << 0;
        QTest::newRow("right") << 1;
        QTest::newRow("centre") << 2;
        QTest::newRow("other") << 7;
    }
    void captionPositions()
    {
        QFETCH(int, alignment);
        VeilixButton b;
        b.resize(100, 41);
        b.setFontProperty(testFont());
        b.setCaption(QStringLiteral("Ab"));
        b.setBorderWidth(10);
        b.setForeColor(0x00000000);
        b.setAlignment(alignment);
        const double tw = b.TextWidth(QStringLiteral("Ab"));
        const double th = b.TextHeight(QStringLiteral("Ab"));
        int x = 0;
        int y = 0;
        if (alignment == 0)
            x = 11;
        else if (alignment == 1)
            x = int(std::nearbyint(100 - (10 + tw + 1)));
        else if (alignment == 2)
            x = int(std::nearbyint(50 - tw / 2));
        if (alignment <= 2)
            y = int(std::nearbyint(41 / 2.0 - th / 2));
        QCOMPARE(b.Image(), expectedCaption(b, QStringLiteral("Ab"), x, y, 0));
        QVERIFY(b.Image() != expectedCaption(b, QStringLiteral("Ab"), x + 1, y, 0));
    }

    void captionOffsetInOverAndDown()
    {
        QWidget host;
        auto *b = new VeilixButton(&host);
        b->resize(100, 40);
        b->setFontProperty(testFont());
        b->setCaption(QStringLiteral("Ab"));
        b->setAlignment(0);
        b->setForeColorOver(0x000000FF);
        b->setForeColorDown(0x00FF0000);
        b->setTextOffsetOver(3);
        b->setTextOffsetDown(-2);
        host.show();
        const int y = int(std::nearbyint(20 - b->TextHeight(QStringLiteral("Ab")) / 2.0));
        move(b->picBut(), { 5, 5 });
        QCOMPARE(b->state(), VeilixButton::Over);
        QCOMPARE(b->Image(), expectedCaption(*b, QStringLiteral("Ab"), 11 + 3, y + 3, 0x000000FF));
        press(b->picBut(), { 5, 5 });
        QCOMPARE(b->state(), VeilixButton::Down);
        QCOMPARE(b->Image(), expectedCaption(*b, QStringLiteral("Ab"), 11 - 2, y - 2, 0x00FF0000));
    }

    void focusRectangle()
    {
        VeilixButton b;
        b.resize(60, 30);
        b.setCaption(QStringLiteral("Go"));
        QFocusEvent in(QEvent::FocusIn);
        QCoreApplication::sendEvent(b.picBut(), &in);
        QVERIFY(b.hasFocusState());
        const QRgb shadow = OleColor::toQColor(OleColor::DarkShadow3D, b.palette()).rgb();
        const QImage img = b.Image();
        QCOMPARE(img.pixel(0, 0), shadow);
        QCOMPARE(img.pixel(59, 29), shadow);
        QCOMPARE(img.pixel(59, 0), shadow);
        QVERIFY(img.pixel(1, 1) != shadow);
        // The ring inside the edge, in the highlight colour, shows through a skin's border.
        const QRgb highlight = b.palette().color(QPalette::Highlight).rgb();
        QCOMPARE(img.pixel(2, 2), highlight);
        QCOMPARE(img.pixel(57, 27), highlight);
        QVERIFY(img.pixel(3, 3) != highlight);

        b.setShowFocusRect(false);
        b.Redraw();
        QVERIFY(b.Image().pixel(0, 0) != shadow);
        QVERIFY(b.Image().pixel(2, 2) != highlight);

        b.setShowFocusRect(true);
        b.setCaption(QStringLiteral("   ")); // blank: neither text nor focus rectangle
        const QRgb clear = b.palette().color(QPalette::Button).rgb();
        QVERIFY(inkBox(b.Image(), clear).isNull());
    }

    void pictureOfAnotherStateDoesNotRepaint()
    {
        VeilixButton b;
        b.setCaption(QString());
        const QImage before = b.Image();
        b.setPictureOver(VeilixPicture(ninePieceFace()));
        QCOMPARE(b.Image(), before);
        b.setPictureNormal(VeilixPicture(ninePieceFace()));
        QVERIFY(b.Image() != before);
    }

    void mouseStates()
    {
        QWidget host;
        auto *b = new VeilixButton(&host);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        Recorder rec(b);
        QWidget *s = b->picBut();

        move(s, { 10, 10 });
        QCOMPARE(b->state(), VeilixButton::Over);
        QVERIFY(b->captured());
        QCOMPARE(rec.events, (QStringList { QStringLiteral("MouseIn"), QStringLiteral("MouseMove") }));
        rec.take();

        press(s, { 10, 10 });
        QCOMPARE(b->state(), VeilixButton::Down);
        QVERIFY(b->pressed());
        release(s, { 10, 10 });
        QCOMPARE(b->state(), VeilixButton::Normal);
        QVERIFY(!b->captured());
        QVERIFY(!b->mouseOver());
        QCOMPARE(rec.take(),
            (QStringList { QStringLiteral("MouseDown1"), QStringLiteral("MouseUp1"), QStringLiteral("Click") }));

        move(s, { 12, 12 });
        QCOMPARE(b->state(), VeilixButton::Over);
        move(s, { -3, 12 }); // leaving: MouseOut before that move's MouseMove
        QCOMPARE(rec.events,
            (QStringList { QStringLiteral("MouseIn"), QStringLiteral("MouseMove"), QStringLiteral("MouseOut"),
                QStringLiteral("MouseMove") }));
        QCOMPARE(b->state(), VeilixButton::Normal);
        QVERIFY(!b->captured());
        rec.take();

        // A release outside the button makes no click.
        move(s, { 5, 5 });
        press(s, { 5, 5 });
        release(s, { 200, 5 });
        QCOMPARE(rec.take(),
            (QStringList { QStringLiteral("MouseIn"), QStringLiteral("MouseDown1"), QStringLiteral("MouseUp1") }));
    }

    void moveWithButtonHeldShowsDown()
    {
        QWidget host;
        auto *b = new VeilixButton(&host);
        host.show();
        move(b->picBut(), { 10, 10 }, Qt::LeftButton);
        QCOMPARE(b->state(), VeilixButton::Down);
    }

    void rightButton_data()
    {
        QTest::addColumn<bool>("leftOnly");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("stateWhilePressed");
        QTest::newRow("left button only") << true << QStringList {} << int(VeilixButton::Over);
        QTest::newRow("any button") << false
                                    << QStringList { QStringLiteral("MouseDown2"), QStringLiteral("MouseUp2"),
                                           QStringLiteral("Click") }
                                    << int(VeilixButton::Down);
    }
    void rightButton()
    {
        QFETCH(bool, leftOnly);
        QFETCH(QStringList, events);
        QFETCH(int, stateWhilePressed);
        QWidget host;
        auto *b = new VeilixButton(&host);
        b->setLeftMouseButtonOnly(leftOnly);
        host.show();
        move(b->picBut(), { 10, 10 });
        Recorder rec(b);
        press(b->picBut(), { 10, 10 }, Qt::RightButton);
        QCOMPARE(int(b->state()), stateWhilePressed);
        QCOMPARE(b->lastButton(), 2);
        release(b->picBut(), { 10, 10 }, Qt::RightButton);
        QCOMPARE(rec.take(), events);
        QCOMPARE(b->state(), VeilixButton::Normal);
    }

    void doubleClick()
    {
        QWidget host;
        auto *b = new VeilixButton(&host);
        host.show();
        Recorder rec(b);
        QWidget *s = b->picBut();
        press(s, { 5, 5 });
        release(s, { 5, 5 });
        mouse(s, QEvent::MouseButtonDblClick, { 5, 5 }, Qt::LeftButton, Qt::LeftButton);
        release(s, { 5, 5 });
        QCOMPARE(rec.take(),
            (QStringList { QStringLiteral("MouseDown1"), QStringLiteral("MouseUp1"), QStringLiteral("Click"),
                QStringLiteral("DblClick"), QStringLiteral("MouseUp1") }));
    }

    void enterAndSpace_data()
    {
        QTest::addColumn<int>("qtKey");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code");
        QTest::newRow("space") << int(Qt::Key_Space) << QStringLiteral(" ") << 32;
        QTest::newRow("enter") << int(Qt::Key_Return) << QStringLiteral("\r") << 13;
    }
    void enterAndSpace()
    {
        QFETCH(int, qtKey);
        QFETCH(QString, text);
        QFETCH(int, code);
        VeilixButton b;
        b.setPictureNormal(VeilixPicture(ninePieceFace()));
        b.setPictureDown(VeilixPicture(ninePieceFace().mirrored(true, false)));
        Recorder rec(&b);
        key(b.picBut(), QEvent::KeyPress, qtKey, text);
        QCOMPARE(b.state(), VeilixButton::Down);
        QCOMPARE(b.currentPicture(), b.PictureDown());
        key(b.picBut(), QEvent::KeyRelease, qtKey, text);
        QCOMPARE(b.state(), VeilixButton::Normal);
        QCOMPARE(b.currentPicture(), b.PictureNormal());
        QCOMPARE(b.lastButton(), 1);
        QCOMPARE(rec.take(),
            (QStringList { QStringLiteral("KeyDown%1").arg(code), QStringLiteral("KeyPress%1").arg(code),
                QStringLiteral("KeyUp%1").arg(code) }));
    }

    void otherKeysKeepTheFace()
    {
        VeilixButton b;
        Recorder rec(&b);
        key(b.picBut(), QEvent::KeyPress, Qt::Key_A, QStringLiteral("a"));
        QCOMPARE(b.state(), VeilixButton::Normal);
        QCOMPARE(rec.take(), (QStringList { QStringLiteral("KeyDown65"), QStringLiteral("KeyPress97") }));
    }

    // Tab and Shift+Tab leave the button as they leave any control; the host sees no key for them.
    void tabMovesTheFocusOn()
    {
        QWidget form;
        auto *first = new VeilixButton(&form);
        auto *second = new VeilixButton(&form);
        second->move(0, 50);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        Recorder rec(first);
        first->setFocus();
        QCOMPARE(QApplication::focusWidget(), first->picBut());
        QTest::keyClick(first->picBut(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), second->picBut());
        QVERIFY(!first->hasFocusState());
        QVERIFY(second->hasFocusState());
        QTest::keyClick(second->picBut(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), first->picBut());
        QCOMPARE(rec.take(), QStringList());
    }

    // Escape and the keys the button does not use reach its parent after the host has seen
    // them; Enter and Space stay with the button.
    void otherKeysReachTheParent_data()
    {
        QTest::addColumn<int>("qtKey");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("reachesParent");
        QTest::newRow("escape") << int(Qt::Key_Escape) << 27 << true;
        QTest::newRow("letter") << int(Qt::Key_X) << 88 << true;
        QTest::newRow("enter") << int(Qt::Key_Return) << 13 << false;
        QTest::newRow("space") << int(Qt::Key_Space) << 32 << false;
    }
    void otherKeysReachTheParent()
    {
        QFETCH(int, qtKey);
        QFETCH(int, code);
        QFETCH(bool, reachesParent);
        class Parent final : public QWidget
        {
        public:
            QList<int> keys;

        protected:
            void keyPressEvent(QKeyEvent *e) override { keys << e->key(); }
        } form;
        auto *b = new VeilixButton(&form);
        Recorder rec(b);
        QTest::keyClick(b->picBut(), Qt::Key(qtKey));
        QCOMPARE(form.keys, reachesParent ? QList<int> { qtKey } : QList<int>());
        const QStringList events = rec.take();
        QCOMPARE(events.first(), QStringLiteral("KeyDown%1").arg(code));
        QCOMPARE(events.last(), QStringLiteral("KeyUp%1").arg(code));
    }

    // To a screen reader the skinned button is a push button named by its caption; its drawing
    // surface (which holds the focus) answers the same; the press action clicks it.
    void accessibleAsPushButton()
    {
        QWidget form;
        auto *b = new VeilixButton(&form);
        b->setCaption(QStringLiteral("OK"));
        Recorder rec(b);
        QAccessibleInterface *button = QAccessible::queryAccessibleInterface(b);
        QVERIFY(button);
        QCOMPARE(button->role(), QAccessible::Button);
        QCOMPARE(button->text(QAccessible::Name), QStringLiteral("OK"));
        QCOMPARE(button->childCount(), 0);
        QVERIFY(button->state().focusable);
        b->setCaption(QStringLiteral("Cancel"));
        QCOMPARE(button->text(QAccessible::Name), QStringLiteral("Cancel"));
        b->setAccessibleName(QStringLiteral("Close the box"));
        QCOMPARE(button->text(QAccessible::Name), QStringLiteral("Close the box"));

        QAccessibleInterface *surface = QAccessible::queryAccessibleInterface(b->picBut());
        QVERIFY(surface);
        QCOMPARE(surface->role(), QAccessible::Button);
        QCOMPARE(surface->text(QAccessible::Name), QStringLiteral("Close the box"));
        QCOMPARE(surface->parent()->object(), &form);

        QVERIFY(button->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
        surface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(rec.take(), QStringList { QStringLiteral("Click") });
        b->setEnabledProperty(false);
        button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(rec.take(), QStringList());
    }

    void disabledFace()
    {
        VeilixButton b;
        b.setPictureDisabled(VeilixPicture(ninePieceFace()));
        b.setEnabledProperty(false);
        QCOMPARE(b.state(), VeilixButton::Disabled);
        QCOMPARE(b.currentPicture(), b.PictureDisabled());
        b.setEnabledProperty(true);
        QCOMPARE(b.state(), VeilixButton::Normal);
    }

    void bagOfNewInstanceHoldsOnlyTheEmptyPictures()
    {
        QWidget parent;
        auto *b = new VeilixButton(&parent);
        PropertyBag bag;
        b->writeProperties(bag);
        QCOMPARE(bag.names(),
            (QStringList { QStringLiteral("PictureNormal"), QStringLiteral("PictureOver"),
                QStringLiteral("PictureDown"), QStringLiteral("PictureDisabled") }));
        auto *copy = new VeilixButton(&parent);
        copy->setPictureNormal(VeilixPicture::none());
        copy->readProperties(bag);
        QVERIFY(copy->PictureNormal().isEmpty());
        QVERIFY(copy->MouseIcon().isNone());
    }

    void bagRoundTripAndOrder()
    {
        QWidget parent;
        auto *b = new VeilixButton(&parent);
        b->setCaption(QStringLiteral("Exit"));
        b->setPictureNormal(VeilixPicture(ninePieceFace()));
        b->setPictureOver(VeilixPicture::none());
        b->setBorderWidth(6);
        b->setForeColor(0x00123456);
        b->setForeColorOver(0x00FFFFFF);
        b->setLeftMouseButtonOnly(false);
        b->setTextOffsetOver(2);
        b->setTextOffsetDown(0);
        b->setShowFocusRect(false);
        b->setAlignment(0);
        b->setMousePointer(2);
        b->setEnabledProperty(false);
        QFont f = testFont();
        b->setFontProperty(f);
        PropertyBag bag;
        b->writeProperties(bag);
        QCOMPARE(bag.names(),
            (QStringList { QStringLiteral("Enabled"), QStringLiteral("Caption"), QStringLiteral("PictureNormal"),
                QStringLiteral("PictureDown"), QStringLiteral("BorderWidth"), QStringLiteral("PictureDisabled"),
                QStringLiteral("MousePointer"), QStringLiteral("Font"), QStringLiteral("ForeColor"),
                QStringLiteral("ForeColorOver"), QStringLiteral("LeftMouseButtonOnly"),
                QStringLiteral("TextOffsetOver"), QStringLiteral("TextOffsetDown"), QStringLiteral("ShowFocusRect"),
                QStringLiteral("Alignment") }));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("exit.json"));
        QVERIFY(bag.save(path));
        const std::optional<PropertyBag> loaded = PropertyBag::load(path);
        QVERIFY(loaded);
        QVERIFY(*loaded == bag);

        auto *c = new VeilixButton(&parent);
        loaded->clearReadLog();
        c->readProperties(*loaded);
        QCOMPARE(loaded->readLog(),
            (QStringList { QStringLiteral("Enabled"), QStringLiteral("Font"), QStringLiteral("MouseIcon"),
                QStringLiteral("PictureNormal"), QStringLiteral("PictureOver"), QStringLiteral("PictureDown"),
                QStringLiteral("MouseIcon"), QStringLiteral("PictureDisabled"), QStringLiteral("ScaleWidth"),
                QStringLiteral("ScaleHeight"), QStringLiteral("MousePointer"), QStringLiteral("Caption"),
                QStringLiteral("BorderWidth"), QStringLiteral("ForeColor"), QStringLiteral("ForeColorOver"),
                QStringLiteral("ForeColorDown"), QStringLiteral("ForeColorDisabled"),
                QStringLiteral("LeftMouseButtonOnly"), QStringLiteral("TextOffsetOver"),
                QStringLiteral("TextOffsetDown"), QStringLiteral("ShowFocusRect"), QStringLiteral("Alignment") }));
        QCOMPARE(c->Caption(), QStringLiteral("Exit"));
        QCOMPARE(c->PictureNormal().image(), ninePieceFace());
        QVERIFY(c->PictureOver().isNone());
        QCOMPARE(c->BorderWidth(), 6);
        QCOMPARE(c->ForeColor(), qint32(0x00123456));
        QCOMPARE(c->ForeColorOver(), qint32(0x00FFFFFF));
        QCOMPARE(c->LeftMouseButtonOnly(), false);
        QCOMPARE(c->TextOffsetOver(), 2);
        QCOMPARE(c->TextOffsetDown(), 0);
        QCOMPARE(c->ShowFocusRect(), false);
        QCOMPARE(c->Alignment(), 0);
        QCOMPARE(c->MousePointer(), 2);
        QCOMPARE(c->Enabled(), false);
        QCOMPARE(c->state(), VeilixButton::Disabled);
        QCOMPARE(c->Font(), f);
        PropertyBag again;
        c->writeProperties(again);
        QVERIFY(again == bag);
    }

    // The alignment and text offsets are read after the mid-read repaint: they show at the next one.
    void alignmentShowsAtNextPaint()
    {
        QWidget parent;
        auto *b = new VeilixButton(&parent);
        b->resize(100, 40);
        b->setFontProperty(testFont());
        PropertyBag bag;
        bag.WriteProperty(QStringLiteral("Caption"), QStringLiteral("Ab"));
        bag.WriteProperty(QStringLiteral("Font"), testFont());
        bag.WriteProperty(QStringLiteral("ForeColor"), 0);
        bag.WriteProperty(QStringLiteral("Alignment"), 0);
        bag.WriteProperty(QStringLiteral("ScaleWidth"), 100.0);
        bag.WriteProperty(QStringLiteral("ScaleHeight"), 40.0);
        b->readProperties(bag);
        QCOMPARE(b->Alignment(), 0);
        const double tw = b->TextWidth(QStringLiteral("Ab"));
        const int y = int(std::nearbyint(20 - b->TextHeight(QStringLiteral("Ab")) / 2.0));
        QCOMPARE(b->Image(), expectedCaption(*b, QStringLiteral("Ab"), int(std::nearbyint(50 - tw / 2)), y, 0));
        b->Redraw();
        QCOMPARE(b->Image(), expectedCaption(*b, QStringLiteral("Ab"), 11, y, 0));
    }

    void bagWithoutCaptionTakesTheDefault()
    {
        VeilixButton b;
        b.setCaption(QStringLiteral("Other"));
        b.readProperties(PropertyBag());
        QCOMPARE(b.Caption(), VeilixButton::defaultCaption());
    }
};

QTEST_MAIN(tst_VeilixButton)
#include "tst_VeilixButton.moc"
