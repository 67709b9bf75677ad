#include "alerts/AlertIcons.h"
#include "alerts/Tray.h"
#include "core/Clock.h"
#include "tests/mock/ManualClock.h"

#include <QPainter>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>

class tst_Tray : public QObject
{
    Q_OBJECT
private slots:
    void defaults();
    void tipText_data();
    void tipText();
    void eventModeIsClamped_data();
    void eventModeIsClamped();
    void pressesBecomeEvents_data();
    void pressesBecomeEvents();
    void busyGuardDropsPressesForFifteenMilliseconds();
    void pressInsideTheHandlerIsDropped();
    void doubleClickGivesOneEvent();
    void pictureBecomes32x32Icon_data();
    void pictureBecomes32x32Icon();
    void iconIsTakenUnchanged();
    void nullPictureClears();
    void showAddsModifiesAndRemoves();
    void showAppliesPictureAndTip();
    void propertiesRoundTrip();
    void programIconsLoad();
};

void tst_Tray::defaults()
{
    ManualClock clock;
    Tray tray(clock);
    QCOMPARE(tray.TrayToolTip(), QStringLiteral(" Tray Icon "));
    QCOMPARE(tray.EventMode(), 0);
    QVERIFY(!tray.IsVisible());
    QVERIFY(tray.TrayImage().isNull());
}

void tst_Tray::tipText_data()
{
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QString>("tip");
    QTest::newRow("program") << QStringLiteral("Vistelle") << QStringLiteral(" Vistelle ");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("default") << QStringLiteral(" Tray Icon ") << QStringLiteral("  Tray Icon  ");
    QTest::newRow("62 fits with both blanks") << QString(62, u'x') << (u' ' + QString(62, u'x') + u' ');
    QTest::newRow("63 loses the closing blank") << QString(63, u'x') << (u' ' + QString(63, u'x'));
    QTest::newRow("100 cut at 64") << QString(100, u'y') << (u' ' + QString(63, u'y'));
}

void tst_Tray::tipText()
{
    QFETCH(QString, toolTip);
    QFETCH(QString, tip);
    QCOMPARE(Tray::tipText(toolTip), tip);
    QVERIFY(Tray::tipText(toolTip).size() <= 64);
}

void tst_Tray::eventModeIsClamped_data()
{
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("read");
    QTest::newRow("5") << 5 << 1;
    QTest::newRow("-3") << -3 << 0;
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("max") << std::numeric_limits<int>::max() << 1;
    QTest::newRow("min") << std::numeric_limits<int>::min() << 0;
}

void tst_Tray::eventModeIsClamped()
{
    QFETCH(int, set);
    QFETCH(int, read);
    ManualClock clock;
    Tray tray(clock);
    tray.setEventMode(set);
    QCOMPARE(tray.EventMode(), read);
}

void tst_Tray::pressesBecomeEvents_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("reason");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("mouseButton"); // 0: no MouseClick
    QTest::newRow("mode 0 left") << 0 << int(QSystemTrayIcon::Trigger) << 1 << 0 << 0;
    QTest::newRow("mode 0 right") << 0 << int(QSystemTrayIcon::Context) << 0 << 1 << 0;
    QTest::newRow("mode 1 left") << 1 << int(QSystemTrayIcon::Trigger) << 0 << 0 << 1;
    QTest::newRow("mode 1 right") << 1 << int(QSystemTrayIcon::Context) << 0 << 0 << 2;
    QTest::newRow("middle ignored") << 0 << int(QSystemTrayIcon::MiddleClick) << 0 << 0 << 0;
    QTest::newRow("double click ignored") << 1 << int(QSystemTrayIcon::DoubleClick) << 0 << 0 << 0;
    QTest::newRow("unknown ignored") << 0 << int(QSystemTrayIcon::Unknown) << 0 << 0 << 0;
}

void tst_Tray::pressesBecomeEvents()
{
    QFETCH(int, mode);
    QFETCH(int, reason);
    QFETCH(int, left);
    QFETCH(int, right);
    QFETCH(int, mouseButton);
    ManualClock clock;
    Tray tray(clock);
    tray.setEventMode(mode);
    QSignalSpy leftSpy(&tray, &Tray::LeftClick);
    QSignalSpy rightSpy(&tray, &Tray::RightClick);
    QSignalSpy mouseSpy(&tray, &Tray::MouseClick);
    tray.handleActivation(QSystemTrayIcon::ActivationReason(reason));
    QCOMPARE(leftSpy.count(), left);
    QCOMPARE(rightSpy.count(), right);
    QCOMPARE(mouseSpy.count(), mouseButton ? 1 : 0);
    if (mouseButton)
        QCOMPARE(mouseSpy.first().first().toInt(), mouseButton);
}

void tst_Tray::busyGuardDropsPressesForFifteenMilliseconds()
{
    ManualClock clock;
    Tray tray(clock);
    QSignalSpy left(&tray, &Tray::LeftClick);
    QSignalSpy right(&tray, &Tray::RightClick);
    tray.handleActivation(QSystemTrayIcon::Trigger);
    QCOMPARE(left.count(), 1);
    clock.advance(14);
    tray.handleActivation(QSystemTrayIcon::Context);
    tray.handleActivation(QSystemTrayIcon::Trigger);
    QCOMPARE(left.count(), 1);
    QCOMPARE(right.count(), 0);
    clock.advance(1);
    tray.handleActivation(QSystemTrayIcon::Context);
    QCOMPARE(right.count(), 1);
    // The window is counted from the return of the handler, not from the press.
    connect(&tray, &Tray::LeftClick, this, [&clock] { clock.advance(100); });
    clock.advance(15);
    tray.handleActivation(QSystemTrayIcon::Trigger);
    QCOMPARE(left.count(), 2);
    clock.advance(10);
    tray.handleActivation(QSystemTrayIcon::Trigger);
    QCOMPARE(left.count(), 2);
}

void tst_Tray::pressInsideTheHandlerIsDropped()
{
    ManualClock clock;
    Tray tray(clock);
    int calls = 0;
    connect(&tray, &Tray::LeftClick, this, [&] {
        ++calls;
        // A handler that lets events run (shows a window) and so receives the next press.
        clock.advance(1000);
        tray.handleActivation(QSystemTrayIcon::Trigger);
    });
    tray.handleActivation(QSystemTrayIcon::Trigger);
    QCOMPARE(calls, 1);
}

void tst_Tray::doubleClickGivesOneEvent()
{
    ManualClock clock;
    Tray tray(clock);
    QSignalSpy left(&tray, &Tray::LeftClick);
    // What the tray reports for a double click: the first press, then the double click.
    tray.handleActivation(QSystemTrayIcon::Trigger);
    clock.advance(200);
    tray.handleActivation(QSystemTrayIcon::DoubleClick);
    QCOMPARE(left.count(), 1);
}

void tst_Tray::pictureBecomes32x32Icon_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("16x16") << QSize(16, 16);
    QTest::newRow("48x48") << QSize(48, 48);
    QTest::newRow("100x50") << QSize(100, 50);
    QTest::newRow("1x1") << QSize(1, 1);
}

void tst_Tray::pictureBecomes32x32Icon()
{
    QFETCH(QSize, size);
    ManualClock clock;
    Tray tray(clock);
    QPixmap bitmap(size);
    bitmap.fill(QColor(200, 30, 40));
    tray.setTrayImage(bitmap);
    const QIcon icon = tray.TrayImage();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.availableSizes(), QList<QSize> { QSize(32, 32) });
    const QImage image = icon.pixmap(QSize(32, 32)).toImage();
    QCOMPARE(image.size(), QSize(32, 32));
    QCOMPARE(QColor(image.pixel(16, 16)).rgb(), QColor(200, 30, 40).rgb());
    if (size.width() != size.height()) {
        // Not stretched: the unused band stays transparent.
        QCOMPARE(qAlpha(image.pixel(16, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(16, 31)), 0);
    }
}

void tst_Tray::iconIsTakenUnchanged()
{
    ManualClock clock;
    Tray tray(clock);
    QIcon icon;
    QPixmap small(16, 16);
    small.fill(Qt::green);
    QPixmap large(48, 48);
    large.fill(Qt::blue);
    icon.addPixmap(small);
    icon.addPixmap(large);
    tray.setTrayImage(icon);
    QCOMPARE(tray.TrayImage().cacheKey(), icon.cacheKey());
    QCOMPARE(tray.TrayImage().availableSizes().size(), 2);
}

void tst_Tray::nullPictureClears()
{
    ManualClock clock;
    Tray tray(clock);
    tray.setTrayImage(AlertIcons::normalTrayIcon());
    QVERIFY(!tray.TrayImage().isNull());
    tray.setTrayImage(QPixmap());
    QVERIFY(tray.TrayImage().isNull());
}

void tst_Tray::showAddsModifiesAndRemoves()
{
    ManualClock clock;
    Tray tray(clock);
    tray.Show(false);
    QVERIFY(!tray.IsVisible());
    tray.setTrayImage(AlertIcons::normalTrayIcon());
    tray.Show(true);
    QVERIFY(tray.IsVisible());
    QVERIFY(tray.trayIcon()->isVisible());
    tray.Show(true);
    QVERIFY(tray.IsVisible());
    tray.Show(false);
    QVERIFY(!tray.IsVisible());
    QVERIFY(!tray.trayIcon()->isVisible());
    tray.Show(false);
    QVERIFY(!tray.IsVisible());
}

void tst_Tray::showAppliesPictureAndTip()
{
    ManualClock clock;
    Tray tray(clock);
    tray.setTrayImage(AlertIcons::normalTrayIcon());
    tray.setTrayToolTip(QStringLiteral("Vistelle"));
    // Nothing reaches the tray before Show.
    QVERIFY(tray.trayIcon()->toolTip().isEmpty());
    tray.Show(true);
    QCOMPARE(tray.trayIcon()->toolTip(), QStringLiteral(" Vistelle "));
    QCOMPARE(tray.trayIcon()->icon().cacheKey(), tray.TrayImage().cacheKey());
    tray.setTrayImage(AlertIcons::alertTrayIcon());
    tray.setTrayToolTip(QStringLiteral("Updating <b>address</b>"));
    QVERIFY(tray.trayIcon()->toolTip() == QStringLiteral(" Vistelle "));
    tray.Show(true);
    QCOMPARE(tray.trayIcon()->icon().cacheKey(), tray.TrayImage().cacheKey());
    // A tip that looks like markup is shown literally.
    QVERIFY(tray.trayIcon()->toolTip().contains(QStringLiteral("&lt;b&gt;address&lt;/b&gt;")));
}

void tst_Tray::propertiesRoundTrip()
{
    ManualClock clock;
    Tray tray(clock);
    tray.readProperties({});
    QCOMPARE(tray.TrayToolTip(), QStringLiteral(" Tray Icon "));
    QCOMPARE(tray.EventMode(), 0);
    tray.readProperties(
        { { QStringLiteral("TrayToolTip"), QStringLiteral("Vistelle") }, { QStringLiteral("EventMode"), 7 },
            { QStringLiteral("TrayImage"), QVariant::fromValue(AlertIcons::alertTrayIcon()) } });
    QCOMPARE(tray.TrayToolTip(), QStringLiteral("Vistelle"));
    QCOMPARE(tray.EventMode(), 1);
    QVERIFY(!tray.TrayImage().isNull());
    const QVariantMap bag = tray.writeProperties();
    QCOMPARE(bag.value(QStringLiteral("TrayToolTip")).toString(), QStringLiteral("Vistelle"));
    QCOMPARE(bag.value(QStringLiteral("EventMode")).toInt(), 1);
    QVERIFY(!bag.value(QStringLiteral("TrayImage")).value<QIcon>().isNull());
}

void tst_Tray::programIconsLoad()
{
    for (const QIcon &icon : { AlertIcons::normalTrayIcon(), AlertIcons::alertTrayIcon() }) {
        const QImage image = icon.pixmap(QSize(32, 32)).toImage();
        QCOMPARE(image.size(), QSize(32, 32));
        QVERIFY(qAlpha(image.pixel(16, 16)) > 0);
    }
    // The two pictures differ, so a visit shows.
    QVERIFY(AlertIcons::normalTrayIcon().pixmap(QSize(32, 32)).toImage()
        != AlertIcons::alertTrayIcon().pixmap(QSize(32, 32)).toImage());
}

QTEST_MAIN(tst_Tray)
#include "tst_Tray.moc"
