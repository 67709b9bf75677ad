#include "alerts/Form1.h"
#include "alerts/Form2.h"
#include "alerts/frmSetNotifies.h"
#include "core/SettingsStore.h"
#include "tests/mock/FakeMixer.h"
#include "tests/mock/RecordingSoundOutput.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

// The notification windows on a real X server with a window manager (run_x11.py --wm): the
// settings window at the top left, the rule window and the volume window modal for it without
// any nested event loop, so a real click on the settings window meanwhile does nothing.
// With VISTELLE_SCREENSHOT_DIR set, pictures of the three windows go there.
class tst_NotifyWindowsOnX11 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void modalWindowsBlockTheSettingsWindow();

private:
    static bool click(QWidget *widget)
    {
        const QPoint at = widget->mapToGlobal(widget->rect().center());
        return QProcess::execute(QStringLiteral("xdotool"),
                   { QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(at.x()),
                       QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1") })
            == 0;
    }
    // The window with its frame, once the window manager has framed it.
    static void screenshot(QWidget *window, const QString &name)
    {
        const QString dir = qEnvironmentVariable("VISTELLE_SCREENSHOT_DIR");
        if (dir.isEmpty())
            return;
        QTest::qWait(600); // the window manager's frame and the first paint
        const QRect frame = window->frameGeometry();
        const QPixmap shot
            = QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        QDir().mkpath(dir);
        QVERIFY(shot.save(dir + u'/' + name));
    }

    QTemporaryDir m_dir;
};

void tst_NotifyWindowsOnX11::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
}

void tst_NotifyWindowsOnX11::modalWindowsBlockTheSettingsWindow()
{
    SettingsStore store(m_dir.filePath(QStringLiteral("settings.conf")));
    const QList<std::pair<QString, QString>> rules = {
        { QStringLiteral("/shop/"), QStringLiteral("/home/ann/Sounds/till.wav") },
        { QStringLiteral("blog.example.org"), QStringLiteral("chime.wav") },
        { QStringLiteral("/contact"), QStringLiteral("/home/ann/Sounds/door knock.wav") },
    };
    for (qsizetype i = 0; i < rules.size(); ++i) {
        store.SaveSetting(QStringLiteral("Contains%1").arg(i), rules.at(i).first);
        store.SaveSetting(QStringLiteral("CSound%1").arg(i), rules.at(i).second);
    }
    RecordingSoundOutput sound;
    auto mixer = std::make_shared<FakeMixer::State>();
    mixer->elements.insert(QStringLiteral("Master"), { 0, 65536 });
    NotifyWindowServices services;
    services.settings = &store;
    services.sound = &sound;
    services.mixer = FakeMixer::factory(mixer);
    services.programPath = QStringLiteral("/usr/bin/vistelle");

    frmSetNotifies window(services);
    QSignalSpy ok(&window, &frmSetNotifies::mainWindowRequested);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(window.frameGeometry().topLeft(), QPoint(0, 0));
    // trayer is the tray here: no word of a missing one.
    QVERIFY(!window.findChild<QLabel *>(QStringLiteral("lblNoTray"))->isVisible());
    auto *list = window.findChild<QTreeWidget *>(QStringLiteral("ListView1"));
    list->setCurrentItem(list->topLevelItem(1));
    screenshot(&window, QStringLiteral("notify-settings.png"));

    auto *okButton = window.findChild<QPushButton *>(QStringLiteral("cmdNext"));
    window.findChild<QPushButton *>(QStringLiteral("Image4"))->click();
    Form2 *form2 = window.ruleWindow();
    QVERIFY(QTest::qWaitForWindowExposed(form2));
    screenshot(form2, QStringLiteral("notify-rule.png"));
    QVERIFY(click(okButton));
    QTest::qWait(300);
    QCOMPARE(ok.count(), 0); // blocked while the rule window is open
    QVERIFY(click(form2->findChild<QPushButton *>(QStringLiteral("Command4"))));
    QTRY_VERIFY(!form2->isVisible());

    window.findChild<QPushButton *>(QStringLiteral("Image3"))->click();
    QPointer<Form1> form1 = window.volumeWindow();
    QVERIFY(form1 && QTest::qWaitForWindowExposed(form1));
    QTRY_VERIFY(form1->volumeControl().isValid()); // the mixer is worked on a thread of its own
    form1->findChild<QSlider *>(QStringLiteral("Slider1"))->setValue(45000);
    QTRY_COMPARE(mixer->lastSet().second, 45000L);
    screenshot(form1, QStringLiteral("master-volume.png"));
    QVERIFY(click(okButton));
    QTest::qWait(300);
    QCOMPARE(ok.count(), 0);
    QVERIFY(click(form1->findChild<QPushButton *>(QStringLiteral("Command3"))));
    QTRY_VERIFY(!form1);

    QVERIFY(click(okButton));
    QTRY_COMPARE(ok.count(), 1);
}

QTEST_MAIN(tst_NotifyWindowsOnX11)
#include "tst_NotifyWindowsOnX11.moc"
