#include "alerts/frmTrayNotification.h"
#include "core/Clock.h"
#include "core/Console.h"
#include "tests/mock/ManualClock.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <unistd.h>

namespace {

// Captures what is written to standard output while it lives.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        m_file.open();
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        ::dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }
    QString text()
    {
        restore();
        m_file.seek(0);
        return QString::fromUtf8(m_file.readAll());
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace

class tst_frmTrayNotification : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { Console::setHeadless(false); }
    void layout();
    void windowNeverTakesFocus();
    void labelsArePlainText_data();
    void labelsArePlainText();
    void showReturnsAtOnceAndSlidesFromBelowTheScreen();
    void restsThirtyPixelsAboveTheBottomRight();
    void closesAndSignalsFinishedOnce();
    void secondAppearanceShowsNewestTextsAndRestsFromThen();
    void labelsSetByTheCallerAreShown();
    void headlessWritesOneLinePerAppearance();
    void overlongTextIsCut();
    void controlCharactersAreShownAsPlaceholders();

private:
    static QRect screen() { return QGuiApplication::primaryScreen()->geometry(); }
    // Drives the window until it rests.
    static void driveToRest(frmTrayNotification &popup, ManualClock &clock)
    {
        for (int i = 0; i < 100 && popup.motion().phase() != PopupMotion::Phase::Resting; ++i) {
            clock.advance(popup.motion().msUntilNextStep());
            popup.step();
        }
        QCOMPARE(popup.motion().phase(), PopupMotion::Phase::Resting);
    }
    static void driveToEnd(frmTrayNotification &popup, ManualClock &clock)
    {
        for (int i = 0; i < 100 && popup.isAppearing(); ++i) {
            clock.advance(popup.motion().msUntilNextStep());
            popup.step();
        }
        QVERIFY(!popup.isAppearing());
    }
};

void tst_frmTrayNotification::layout()
{
    ManualClock clock;
    frmTrayNotification popup(clock);
    QCOMPARE(popup.size(), QSize(243, 122));
    QCOMPARE(popup.lblCaption->objectName(), QStringLiteral("lblCaption"));
    QCOMPARE(popup.lblSubcaption->objectName(), QStringLiteral("lblSubcaption"));
    QCOMPARE(popup.findChild<QLabel *>(QStringLiteral("lblCaption")), popup.lblCaption);
    QCOMPARE(popup.lblCaption->text(), QStringLiteral("Message Caption"));
    QCOMPARE(popup.lblSubcaption->text(), QStringLiteral("Message Text"));
    QCOMPARE(popup.lblCaption->pos(), QPoint(8, 8));
    QCOMPARE(popup.lblSubcaption->pos(), QPoint(8, 56));
    QVERIFY(popup.lblCaption->font().bold());
    QVERIFY(!popup.lblSubcaption->font().bold());
    QCOMPARE(popup.lblCaption->font().pointSizeF(), 11.25);
    QCOMPARE(popup.lblSubcaption->font().pointSizeF(), 9.0);
    // Both lines lie inside the face.
    QVERIFY(popup.rect().contains(popup.lblCaption->geometry()));
    QVERIFY(popup.rect().contains(popup.lblSubcaption->geometry()));
}

void tst_frmTrayNotification::windowNeverTakesFocus()
{
    ManualClock clock;
    frmTrayNotification popup(clock);
    QVERIFY(popup.isWindow());
    QVERIFY(popup.testAttribute(Qt::WA_ShowWithoutActivating));
    QVERIFY(popup.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(popup.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(popup.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    QCOMPARE(popup.windowType(), Qt::ToolTip);
    popup.ShowTrayNotification(QStringLiteral("a"), QStringLiteral("b"));
    QVERIFY(popup.isVisible());
    QVERIFY(!popup.isActiveWindow());
}

void tst_frmTrayNotification::labelsArePlainText_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("subcaption");
    QTest::newRow("markup") << QStringLiteral("<b>Evil</b> corp") << QStringLiteral("Visited page: <img src=x>");
    QTest::newRow("entity") << QStringLiteral("&lt;Visitor&gt;") << QStringLiteral("Visited page: a&amp;b");
    QTest::newRow("link") << QStringLiteral("<a href='http://x'>click</a>")
                          << QStringLiteral("Visited page: http://example.com  /<script>");
}

void tst_frmTrayNotification::labelsArePlainText()
{
    QFETCH(QString, caption);
    QFETCH(QString, subcaption);
    ManualClock clock;
    frmTrayNotification popup(clock);
    popup.ShowTrayNotification(caption, subcaption);
    QCOMPARE(popup.lblCaption->textFormat(), Qt::PlainText);
    QCOMPARE(popup.lblSubcaption->textFormat(), Qt::PlainText);
    QCOMPARE(popup.lblCaption->text(), caption);
    QCOMPARE(popup.lblSubcaption->text(), subcaption);
    QVERIFY(!popup.lblCaption->openExternalLinks());
    // Drawn as typed: the same text in a plain-text label looks the same, in a rich-text one not.
    const auto drawn = [](QLabel *label) {
        QImage image(label->size(), QImage::Format_ARGB32);
        image.fill(Qt::black);
        label->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    };
    QLabel reference;
    reference.setFont(popup.lblCaption->font());
    reference.setPalette(popup.lblCaption->palette());
    reference.setWordWrap(true);
    reference.setAlignment(popup.lblCaption->alignment());
    reference.resize(popup.lblCaption->size());
    reference.setText(caption);
    reference.setTextFormat(Qt::PlainText);
    QCOMPARE(drawn(popup.lblCaption), drawn(&reference));
    reference.setTextFormat(Qt::RichText);
    QVERIFY(drawn(popup.lblCaption) != drawn(&reference));
}

void tst_frmTrayNotification::showReturnsAtOnceAndSlidesFromBelowTheScreen()
{
    ManualClock clock;
    frmTrayNotification popup(clock);
    popup.ShowTrayNotification(QStringLiteral("Vistelle"), QStringLiteral("Current IP: 192.0.2.7"));
    QVERIFY(popup.isVisible());
    QVERIFY(popup.isAppearing());
    const QRect s = screen();
    QCOMPARE(popup.geometry().right(), s.right());
    QCOMPARE(popup.y(), s.y() + s.height());
    // Nothing moves before 20 ms have passed.
    clock.advance(20);
    popup.step();
    QCOMPARE(popup.y(), s.y() + s.height());
    clock.advance(1);
    popup.step();
    QCOMPARE(popup.y(), s.y() + s.height() - 20);
    clock.advance(21);
    popup.step();
    QCOMPARE(popup.y(), s.y() + s.height() - 40);
}

void tst_frmTrayNotification::restsThirtyPixelsAboveTheBottomRight()
{
    ManualClock clock;
    frmTrayNotification popup(clock);
    popup.ShowTrayNotification(QStringLiteral("c"), QStringLiteral("s"));
    int steps = 0;
    int lastY = popup.y();
    while (popup.motion().phase() == PopupMotion::Phase::SlidingIn) {
        clock.advance(21);
        popup.step();
        if (popup.y() != lastY)
            ++steps;
        lastY = popup.y();
    }
    // 0, 20, ..., 140 and then the exact resting place (152): 7 moves of 20 px, 1 of 12 px.
    QCOMPARE(steps, 8);
    const QRect s = screen();
    QCOMPARE(popup.geometry().bottom() + 1, s.y() + s.height() - 30);
    QCOMPARE(popup.x() + popup.width(), s.x() + s.width());
}

void tst_frmTrayNotification::closesAndSignalsFinishedOnce()
{
    ManualClock clock;
    frmTrayNotification popup(clock);
    QSignalSpy finished(&popup, &frmTrayNotification::finished);
    popup.ShowTrayNotification(QStringLiteral("c"), QStringLiteral("s"));
    driveToRest(popup, clock);
    clock.advance(3000);
    popup.step();
    QVERIFY(popup.isVisible());
    QCOMPARE(finished.count(), 0);
    driveToEnd(popup, clock);
    QVERIFY(!popup.isVisible());
    QCOMPARE(finished.count(), 1);
    // Slide in, 3 s, slide out: a little over 3 s in all.
    QVERIFY(clock.monotonicMs() > 3000 + 2 * 8 * 20);
    QVERIFY(clock.monotonicMs() < 3000 + 2 * 9 * 21 + 10);
    // The texts went with the appearance.
    QCOMPARE(popup.lblCaption->text(), QStringLiteral("Message Caption"));
    clock.advance(10'000);
    popup.step();
    QCOMPARE(finished.count(), 1);
    // It can appear again.
    popup.ShowTrayNotification(QStringLiteral("again"), QStringLiteral("s"));
    QVERIFY(popup.isVisible());
    driveToEnd(popup, clock);
    QCOMPARE(finished.count(), 2);
}

void tst_frmTrayNotification::secondAppearanceShowsNewestTextsAndRestsFromThen()
{
    ManualClock clock;
    frmTrayNotification popup(clock);
    QSignalSpy finished(&popup, &frmTrayNotification::finished);
    popup.ShowTrayNotification(QStringLiteral("Germany"), QStringLiteral("Visited page: one"));
    driveToRest(popup, clock);
    clock.advance(2000);
    popup.step();
    popup.ShowTrayNotification(QStringLiteral("France"), QStringLiteral("Visited page: two"));
    QCOMPARE(popup.lblCaption->text(), QStringLiteral("France"));
    QCOMPARE(popup.lblSubcaption->text(), QStringLiteral("Visited page: two"));
    // 3 s from the second call, not from the first rest.
    clock.advance(2000);
    popup.step();
    QCOMPARE(popup.motion().phase(), PopupMotion::Phase::Resting);
    clock.advance(1001);
    popup.step();
    QCOMPARE(popup.motion().phase(), PopupMotion::Phase::SlidingOut);
    // A third call while sliding out brings it back to rest at once.
    clock.advance(21);
    popup.step();
    const QRect s = screen();
    QVERIFY(popup.y() > s.y() + s.height() - 152);
    popup.ShowTrayNotification(QStringLiteral("Spain"), QStringLiteral("Visited page: three"));
    QCOMPARE(popup.y(), s.y() + s.height() - 152);
    QCOMPARE(popup.lblCaption->text(), QStringLiteral("Spain"));
    driveToEnd(popup, clock);
    QCOMPARE(finished.count(), 1);
}

void tst_frmTrayNotification::labelsSetByTheCallerAreShown()
{
    ManualClock clock;
    frmTrayNotification popup(clock);
    popup.lblCaption->setText(QStringLiteral("Visitor: 203.0.113.9"));
    popup.lblSubcaption->setText(QStringLiteral("Visited page: http://example.com  /index.htm"));
    popup.ShowTrayNotification();
    QVERIFY(popup.isVisible());
    QCOMPARE(popup.lblCaption->text(), QStringLiteral("Visitor: 203.0.113.9"));
    QCOMPARE(popup.lblSubcaption->text(), QStringLiteral("Visited page: http://example.com  /index.htm"));
}

void tst_frmTrayNotification::headlessWritesOneLinePerAppearance()
{
    ManualClock clock;
    frmTrayNotification popup(clock);
    Console::setHeadless(true);
    StdoutCapture capture;
    popup.ShowTrayNotification(QStringLiteral("Vistelle"), QStringLiteral("Current IP: 192.0.2.7"));
    popup.lblCaption->setText(QStringLiteral("Visitor: 198.51.100.1"));
    popup.lblSubcaption->setText(QStringLiteral("Visited page: <b>x</b>"));
    popup.ShowTrayNotification();
    driveToEnd(popup, clock);
    // Qt Test's own warnings share standard output; the program's lines are the others.
    QStringList lines = capture.text().split(u'\n');
    lines.removeIf(
        [](const QString &line) { return line.startsWith(QStringLiteral("QWARN")) || line.startsWith(u' '); });
    QCOMPARE(lines,
        QStringList({ QStringLiteral("Popup: Vistelle | Current IP: 192.0.2.7"),
            QStringLiteral("Popup: Visitor: 198.51.100.1 | Visited page: <b>x</b>"), QString() }));
}

void tst_frmTrayNotification::overlongTextIsCut()
{
    ManualClock clock;
    frmTrayNotification popup(clock);
    const QString page = QStringLiteral("Visited page: http://example.com  /") + QString(100'000, u'a');
    popup.ShowTrayNotification(QStringLiteral("c"), page);
    QCOMPARE(popup.lblSubcaption->text().size(), frmTrayNotification::MaxTextLength);
    QVERIFY(popup.lblSubcaption->text().startsWith(QStringLiteral("Visited page: http://example.com  /aaa")));
}

void tst_frmTrayNotification::controlCharactersAreShownAsPlaceholders()
{
    ManualClock clock;
    frmTrayNotification popup(clock);
    popup.ShowTrayNotification(u"\x1b]0;x\x07"_qs, u"Visited page: a\u202eb\r\nc"_qs);
    QCOMPARE(popup.lblCaption->text(), u"\ufffd]0;x\ufffd"_qs);
    QCOMPARE(popup.lblSubcaption->text(), u"Visited page: a\ufffdb c"_qs);
}

QTEST_MAIN(tst_frmTrayNotification)
#include "tst_frmTrayNotification.moc"
