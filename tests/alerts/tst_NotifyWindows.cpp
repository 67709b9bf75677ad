#include "alerts/Form1.h"
#include "alerts/Form2.h"
#include "alerts/SoundFileDialog.h"
#include "alerts/StartupEntry.h"
#include "alerts/frmSetNotifies.h"
#include "core/SettingsStore.h"
#include "dialogs/MessageBox.h"
#include "tests/mock/FakeMixer.h"
#include "tests/mock/RecordingSoundOutput.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>
#include <QTreeWidget>

#include <thread>

// The notification settings window, the rule window and the volume window, driven by their
// controls' names: the working copy, the checks and messages, the buttons' enabled rule, the
// start-up entry and the volume on a fake mixer.
class tst_NotifyWindows : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void loadsTheStoreAndEnablesListButtons();
    void addThenOkStoresAndAsksForTheMainWindow();
    void addChecks_data();
    void addChecks();
    void hundredFirstAddIsRefused();
    void modifyRefusesAnEmptyText();
    void deleteDisablesButtonsWithTheLastRule();
    void closingWithoutOkDiscards();
    void busySitesAndQuietHours();
    void playCurrent();
    void soundFileDialogs();
    void runOnStartup();
    void volumeWindowFindsTheMasterVolume_data();
    void volumeWindowFindsTheMasterVolume();
    void volumeSetAndSlider_data();
    void volumeSetAndSlider();
    void volumeWindowShowsTheSelectedSoundAndReopensTheMixer();
    void hungMixerNeverFreezesTheWindow();

private:
    template <class T> static T *child(QObject *parent, const char *name)
    {
        T *found = parent->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    std::unique_ptr<frmSetNotifies> openWindow()
    {
        NotifyWindowServices services;
        services.settings = m_store.get();
        services.sound = &m_sound;
        services.mixer = FakeMixer::factory(m_mixer);
        services.programPath = m_programPath;
        auto window = std::make_unique<frmSetNotifies>(services);
        window->show();
        return window;
    }
    // Opens the rule window from the settings window.
    static Form2 *openForm2(frmSetNotifies &window)
    {
        child<QPushButton>(&window, "Image4")->click();
        Form2 *form = window.ruleWindow();
        if (!form || !form->isVisible())
            qFatal("the rule window did not open");
        return form;
    }
    static void addRule(frmSetNotifies &window, const QString &contains, const QString &sound)
    {
        Form2 *form = openForm2(window);
        child<QLineEdit>(form, "Text1")->setText(contains);
        child<QLineEdit>(form, "Text2")->setText(sound);
        child<QPushButton>(form, "Command3")->click();
        child<QPushButton>(form, "Command4")->click();
    }
    void storeRules(int count)
    {
        for (int i = 0; i < count; ++i) {
            m_store->SaveSetting(QStringLiteral("Contains%1").arg(i), QStringLiteral("page%1").arg(i));
            m_store->SaveSetting(QStringLiteral("CSound%1").arg(i), QStringLiteral("s%1.wav").arg(i));
        }
    }
    static QStringList listButtonsEnabled(frmSetNotifies &window)
    {
        QStringList on;
        for (const char *name : { "Image2", "Image3", "Image5" }) {
            if (child<QPushButton>(&window, name)->isEnabled())
                on << QString::fromLatin1(name);
        }
        return on;
    }
    static void expectMessage(const QString &text) { QCOMPARE(MessageBox::lastText(), text); }

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_store;
    RecordingSoundOutput m_sound;
    std::shared_ptr<FakeMixer::State> m_mixer;
    QString m_programPath = QStringLiteral("/opt/My Programs/vistelle");
    int m_run = 0;
};

void tst_NotifyWindows::init()
{
    m_store = std::make_unique<SettingsStore>(m_dir.filePath(QStringLiteral("s%1.conf").arg(++m_run)));
    m_sound.previews.clear();
    m_mixer = std::make_shared<FakeMixer::State>();
    m_mixer->elements.insert(QStringLiteral("Master"), { 0, 65536 });
    QFile::remove(StartupEntry::fileName());
}

void tst_NotifyWindows::cleanup()
{
    m_sound.finishPreview();
}

void tst_NotifyWindows::loadsTheStoreAndEnablesListButtons()
{
    {
        auto window = openWindow();
        // The offscreen platform has no tray: the window says why the main window stays up.
        QVERIFY(child<QLabel>(window.get(), "lblNoTray")->isVisible());
        QCOMPARE(child<QTreeWidget>(window.get(), "ListView1")->topLevelItemCount(), 0);
        QCOMPARE(listButtonsEnabled(*window), QStringList());
        QVERIFY(child<QCheckBox>(window.get(), "chkSound")->isChecked());
        QVERIFY(child<QCheckBox>(window.get(), "chkPopup")->isChecked());
        QCOMPARE(child<QLineEdit>(window.get(), "txtDefaultSound")->text(), QStringLiteral("doorbell.wav"));
        QVERIFY(!child<QCheckBox>(window.get(), "Check1")->isChecked());
    }
    storeRules(2);
    m_store->SaveSetting(QStringLiteral("PopupAlert"), QStringLiteral("0"));
    auto window = openWindow();
    auto *list = child<QTreeWidget>(window.get(), "ListView1");
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("page1"));
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("s1.wav"));
    QCOMPARE(listButtonsEnabled(*window), QStringList({ "Image2", "Image3", "Image5" }));
    QVERIFY(!child<QCheckBox>(window.get(), "chkPopup")->isChecked());
    QCOMPARE(window->pos(), QPoint(0, 0));
}

void tst_NotifyWindows::addThenOkStoresAndAsksForTheMainWindow()
{
    auto window = openWindow();
    QSignalSpy mainWindow(window.get(), &frmSetNotifies::mainWindowRequested);
    Form2 *form = openForm2(*window);
    QVERIFY(form->isModal() || form->windowModality() != Qt::NonModal);
    QVERIFY(!child<QPushButton>(form, "Command2")->isEnabled()); // nothing to modify yet
    child<QLineEdit>(form, "Text1")->setText(QStringLiteral(" News "));
    child<QLineEdit>(form, "Text2")->setText(QStringLiteral(" news.wav"));
    child<QPushButton>(form, "Command3")->click();
    QVERIFY(form->isVisible()); // stays open for the next rule
    QCOMPARE(listButtonsEnabled(*window), QStringList({ "Image2", "Image3", "Image5" }));
    child<QLineEdit>(form, "Text1")->setText(QStringLiteral("shop"));
    child<QLineEdit>(form, "Text2")->setText(QStringLiteral("till.wav"));
    child<QPushButton>(form, "Command3")->click();
    child<QPushButton>(form, "Command4")->click();
    QVERIFY(!form->isVisible());
    child<QCheckBox>(window.get(), "chkSound")->click();
    child<QLineEdit>(window.get(), "txtDefaultSound")->setText(QStringLiteral("bell.wav"));
    QCOMPARE(m_store->GetSetting(QStringLiteral("Contains0")), QString()); // nothing stored yet

    child<QPushButton>(window.get(), "cmdNext")->click();
    QCOMPARE(mainWindow.count(), 1);
    QVERIFY(!window->isVisible());
    const SettingsStore stored(m_store->fileName());
    QCOMPARE(stored.GetSetting(QStringLiteral("Contains0")), QStringLiteral(" News "));
    QCOMPARE(stored.GetSetting(QStringLiteral("CSound0")), QStringLiteral(" news.wav"));
    QCOMPARE(stored.GetSetting(QStringLiteral("Contains1")), QStringLiteral("shop"));
    QCOMPARE(stored.GetSetting(QStringLiteral("SoundAlert")), QStringLiteral("0"));
    QCOMPARE(stored.GetSetting(QStringLiteral("PopupAlert")), QStringLiteral("1"));
    QCOMPARE(stored.GetSetting(QStringLiteral("DefaultSnd")), QStringLiteral("bell.wav"));
}

void tst_NotifyWindows::addChecks_data()
{
    QTest::addColumn<QString>("text1");
    QTest::addColumn<QString>("text2");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("no URL") << QString() << QStringLiteral("a.wav") << QStringLiteral("No URL or string given")
                            << QStringLiteral("Text1");
    QTest::newRow("blank URL, no sound either")
        << QStringLiteral("   ") << QString() << QStringLiteral("No URL or string given") << QStringLiteral("Text1");
    QTest::newRow("blank sound") << QStringLiteral("page") << QStringLiteral("  ")
                                 << QStringLiteral("No sound file given") << QStringLiteral("Text2");
}

void tst_NotifyWindows::addChecks()
{
    QFETCH(QString, message);
    QFETCH(QString, focus);
    auto window = openWindow();
    Form2 *form = openForm2(*window);
    QFETCH(QString, text1);
    child<QLineEdit>(form, "Text1")->setText(text1);
    QFETCH(QString, text2);
    child<QLineEdit>(form, "Text2")->setText(text2);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    child<QPushButton>(form, "Command3")->click();
    expectMessage(message);
    QCOMPARE(form->focusWidget(), child<QLineEdit>(form, qPrintable(focus)));
    QCOMPARE(window->ruleCount(), 0);
    QCOMPARE(listButtonsEnabled(*window), QStringList());
}

void tst_NotifyWindows::hundredFirstAddIsRefused()
{
    storeRules(100);
    auto window = openWindow();
    QCOMPARE(window->ruleCount(), 100);
    Form2 *form = openForm2(*window);
    child<QLineEdit>(form, "Text1")->setText(QStringLiteral("one more"));
    child<QLineEdit>(form, "Text2")->setText(QStringLiteral("x.wav"));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    child<QPushButton>(form, "Command3")->click();
    expectMessage(QStringLiteral("Page limit is 100. Can't add"));
    QCOMPARE(window->ruleCount(), 100);
}

void tst_NotifyWindows::modifyRefusesAnEmptyText()
{
    storeRules(3);
    {
        auto window = openWindow();
        auto *list = child<QTreeWidget>(window.get(), "ListView1");
        list->setCurrentItem(list->topLevelItem(0));
        Form2 *form = openForm2(*window);
        // Shown with the selected rule's texts.
        QCOMPARE(child<QLineEdit>(form, "Text1")->text(), QStringLiteral("page0"));
        QCOMPARE(child<QLineEdit>(form, "Text2")->text(), QStringLiteral("s0.wav"));
        QVERIFY(child<QPushButton>(form, "Command2")->isEnabled());
        child<QLineEdit>(form, "Text1")->setText(QStringLiteral("  "));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        child<QPushButton>(form, "Command2")->click();
        expectMessage(QStringLiteral("No URL or string given"));
        QCOMPARE(form->focusWidget(), child<QLineEdit>(form, "Text1"));
        QCOMPARE(window->rule(0), (UrlSoundRule { QStringLiteral("page0"), QStringLiteral("s0.wav") }));
        // A text with an empty sound is a rule that plays nothing.
        child<QLineEdit>(form, "Text1")->setText(QStringLiteral("new"));
        child<QLineEdit>(form, "Text2")->clear();
        child<QPushButton>(form, "Command2")->click();
        QCOMPARE(window->rule(0), (UrlSoundRule { QStringLiteral("new"), QString() }));
        child<QPushButton>(form, "Command4")->click();
        // Deleting the other two and OK leaves exactly the one rule in the file.
        for (int i = 0; i < 2; ++i) {
            list->setCurrentItem(list->topLevelItem(1));
            child<QPushButton>(window.get(), "Image5")->click();
        }
        child<QPushButton>(window.get(), "cmdNext")->click();
    }
    const SettingsStore stored(m_store->fileName());
    QCOMPARE(stored.GetSetting(QStringLiteral("Contains0")), QStringLiteral("new"));
    for (const char *key : { "Contains1", "CSound1", "Contains2", "CSound2" })
        QVERIFY2(!stored.contains(QString::fromLatin1(key)), key);
    QCOMPARE(openWindow()->ruleCount(), 1);
}

void tst_NotifyWindows::deleteDisablesButtonsWithTheLastRule()
{
    storeRules(2);
    auto window = openWindow();
    auto *list = child<QTreeWidget>(window.get(), "ListView1");
    list->setCurrentItem(list->topLevelItem(1));
    child<QPushButton>(window.get(), "Image5")->click();
    QCOMPARE(window->ruleCount(), 1);
    QCOMPARE(window->rule(0).contains, QStringLiteral("page0"));
    QCOMPARE(listButtonsEnabled(*window).size(), 3);
    list->setCurrentItem(list->topLevelItem(0));
    child<QPushButton>(window.get(), "Image5")->click();
    QCOMPARE(window->ruleCount(), 0);
    QCOMPARE(listButtonsEnabled(*window), QStringList());
}

void tst_NotifyWindows::busySitesAndQuietHours()
{
    {
        auto window = openWindow();
        QCOMPARE(child<QSpinBox>(window.get(), "spinAlertBurst")->value(), 3);
        QCOMPARE(child<QSpinBox>(window.get(), "spinAlertWindow")->value(), 10);
        QVERIFY(!child<QCheckBox>(window.get(), "chkQuiet")->isChecked());
        QVERIFY(!child<QTimeEdit>(window.get(), "timeQuietFrom")->isEnabled());
        child<QSpinBox>(window.get(), "spinAlertBurst")->setValue(5);
        child<QSpinBox>(window.get(), "spinAlertWindow")->setValue(30);
        child<QCheckBox>(window.get(), "chkQuiet")->click();
        child<QTimeEdit>(window.get(), "timeQuietFrom")->setTime(QTime(23, 0));
        child<QTimeEdit>(window.get(), "timeQuietTo")->setTime(QTime(7, 30));
        child<QCheckBox>(window.get(), "chkQuietPopups")->click();
        child<QCheckBox>(window.get(), "chkCrawlerAlerts")->click();
        // An address list with a wrong entry is refused, and nothing is stored.
        child<QLineEdit>(window.get(), "txtIgnoreAddresses")->setText(u"203.0.113.7, 2001:db8:1::/64 my-laptop"_qs);
        child<QPushButton>(window.get(), "cmdNext")->click();
        expectMessage(u"Not an address or a range (like 192.0.2.0/24): my-laptop"_qs);
        QVERIFY(SettingsStore(m_store->fileName()).GetSetting(u"AlertBurst"_qs).isEmpty());
        child<QLineEdit>(window.get(), "txtIgnoreAddresses")->setText(u"203.0.113.7, 2001:db8:1::/64"_qs);
        child<QPushButton>(window.get(), "cmdNext")->click();
    }
    const SettingsStore stored(m_store->fileName());
    for (const auto &[key, value] : { std::pair { "AlertBurst", "5" }, std::pair { "AlertWindowSeconds", "30" },
             std::pair { "QuietFrom", "23:00" }, std::pair { "QuietTo", "07:30" }, std::pair { "QuietPopups", "1" },
             std::pair { "IgnoreAddresses", "203.0.113.7, 2001:db8:1::/64" }, std::pair { "CrawlerAlerts", "1" },
             std::pair { "HideOwnVisits", "0" } })
        QCOMPARE(stored.GetSetting(QString::fromLatin1(key)), QString::fromLatin1(value));
    auto window = openWindow();
    QVERIFY(child<QCheckBox>(window.get(), "chkQuiet")->isChecked());
    QCOMPARE(child<QTimeEdit>(window.get(), "timeQuietTo")->time(), QTime(7, 30));
    QCOMPARE(child<QSpinBox>(window.get(), "spinAlertWindow")->value(), 30);
}

void tst_NotifyWindows::closingWithoutOkDiscards()
{
    storeRules(1);
    {
        auto window = openWindow();
        addRule(*window, QStringLiteral("new"), QStringLiteral("new.wav"));
        child<QCheckBox>(window.get(), "chkPopup")->click();
        auto *list = child<QTreeWidget>(window.get(), "ListView1");
        list->setCurrentItem(list->topLevelItem(0));
        child<QPushButton>(window.get(), "Image5")->click();
        QCOMPARE(window->ruleCount(), 1);
        QTest::keyClick(list, Qt::Key_Escape); // Esc closes as the close button does
        QVERIFY(!window->isVisible());
    }
    auto window = openWindow();
    QCOMPARE(window->ruleCount(), 1);
    QCOMPARE(window->rule(0).contains, QStringLiteral("page0"));
    QVERIFY(child<QCheckBox>(window.get(), "chkPopup")->isChecked());
    QVERIFY(!m_store->contains(QStringLiteral("PopupAlert")));
}

void tst_NotifyWindows::playCurrent()
{
    {
        auto window = openWindow();
        MessageBox::setNextAnswer(QMessageBox::Ok);
        child<QPushButton>(window.get(), "Image2")->setEnabled(true); // as after an activation
        child<QPushButton>(window.get(), "Image2")->click();
        expectMessage(QStringLiteral("No items selected")); // also when the list is empty
    }
    storeRules(2);
    auto window = openWindow();
    auto *list = child<QTreeWidget>(window.get(), "ListView1");
    list->clearSelection();
    MessageBox::setNextAnswer(QMessageBox::Ok);
    child<QPushButton>(window.get(), "Image2")->click();
    expectMessage(QStringLiteral("No items selected"));
    QCOMPARE(m_sound.previews, QStringList());

    list->setCurrentItem(list->topLevelItem(1));
    child<QPushButton>(window.get(), "Image2")->click();
    QCOMPARE(m_sound.previews, QStringList { QStringLiteral("s1.wav") });
    // Busy until the sound has ended; a second press meanwhile is ignored.
    QCOMPARE(window->cursor().shape(), Qt::BusyCursor);
    child<QPushButton>(window.get(), "Image2")->click();
    QCOMPARE(m_sound.previews.size(), 1);
    m_sound.finishPreview();
    QCOMPARE(window->cursor().shape(), Qt::ArrowCursor);
    child<QPushButton>(window.get(), "Image2")->click();
    QCOMPARE(m_sound.previews.size(), 2);

    // The rule window plays what its sound field names, with the same busy rule. Its preview
    // cuts the settings window's off: each window learns of the end of its own sound.
    Form2 *form = openForm2(*window);
    child<QLineEdit>(form, "Text2")->setText(QStringLiteral("typed.wav"));
    child<QToolButton>(form, "Command5")->click();
    child<QToolButton>(form, "Command5")->click();
    QCOMPARE(m_sound.previews.last(), QStringLiteral("typed.wav"));
    QCOMPARE(m_sound.previews.size(), 3);
    m_sound.finishPreview(); // the settings window's, cut off
    QCOMPARE(window->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(form->cursor().shape(), Qt::BusyCursor);
    m_sound.finishPreview();
    QCOMPARE(form->cursor().shape(), Qt::ArrowCursor);
}

void tst_NotifyWindows::soundFileDialogs()
{
    auto window = openWindow();
    auto *defaultSound = child<QLineEdit>(window.get(), "txtDefaultSound");
    SoundFileDialog::setNextFileName(QStringLiteral("/sounds/chime.wav"));
    child<QPushButton>(window.get(), "Command1")->click();
    QCOMPARE(defaultSound->text(), QStringLiteral("/sounds/chime.wav"));
    SoundFileDialog::setNextFileName(QString()); // cancelled
    child<QPushButton>(window.get(), "Command1")->click();
    QCOMPARE(defaultSound->text(), QStringLiteral("/sounds/chime.wav"));

    Form2 *form = openForm2(*window);
    SoundFileDialog::setNextFileName(QStringLiteral("/sounds/bell.wav"));
    child<QPushButton>(form, "Command1")->click();
    QCOMPARE(child<QLineEdit>(form, "Text2")->text(), QStringLiteral("/sounds/bell.wav"));
}

void tst_NotifyWindows::runOnStartup()
{
    {
        auto window = openWindow();
        auto *check = child<QCheckBox>(window.get(), "Check1");
        QTest::mouseClick(check, Qt::LeftButton);
        QCOMPARE(StartupEntry::read(), StartupEntry::execValue(m_programPath));
        QTest::mouseClick(check, Qt::LeftButton);
        QVERIFY(!QFile::exists(StartupEntry::fileName()));
        QTest::mouseClick(check, Qt::LeftButton);
        // A screen reader's toggle action (what AT-SPI carries out) counts as well.
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(check);
        QVERIFY(accessible && accessible->actionInterface());
        accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(!check->isChecked());
        QVERIFY(!QFile::exists(StartupEntry::fileName()));
        accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(StartupEntry::read(), StartupEntry::execValue(m_programPath));
        window->close(); // applied at once: closing without OK keeps it
    }
    QCOMPARE(StartupEntry::read(), StartupEntry::execValue(m_programPath));
    // Loading with an entry ticks the box and writes the entry again with the current path.
    QVERIFY(StartupEntry::write(QStringLiteral("/old/place/vistelle")));
    m_programPath = QStringLiteral("/new/place/vistelle");
    auto window = openWindow();
    QVERIFY(child<QCheckBox>(window.get(), "Check1")->isChecked());
    QCOMPARE(StartupEntry::read(), QStringLiteral("/new/place/vistelle"));

    // An entry that cannot be written leaves the box empty: the box never claims an entry that
    // is not there.
    const QString folder = QFileInfo(StartupEntry::fileName()).absolutePath();
    QVERIFY(QDir(folder).removeRecursively());
    QFile blocker(folder); // a file where the folder belongs
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto *check = child<QCheckBox>(window.get(), "Check1");
    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(!check->isChecked());
    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(!check->isChecked());
    QVERIFY(QFile::remove(folder));
}

void tst_NotifyWindows::volumeWindowFindsTheMasterVolume_data()
{
    QTest::addColumn<bool>("openable");
    QTest::addColumn<QStringList>("elements"); // each with the range 0 to 100 + its position
    QTest::addColumn<QString>("label"); // Label1
    QTest::addColumn<QString>("message");
    QTest::newRow("Master first") << true << QStringList { "PCM", "Speaker", "Master" } << QStringLiteral("0 to 102")
                                  << QString();
    QTest::newRow("else Speaker") << true << QStringList { "PCM", "Speaker" } << QStringLiteral("0 to 101")
                                  << QString();
    QTest::newRow("else PCM") << true << QStringList { "Headphone", "PCM" } << QStringLiteral("0 to 101") << QString();
    QTest::newRow("no master volume") << true << QStringList { "Capture" } << QString() << QString();
    QTest::newRow("no mixer") << false << QStringList { "Master" } << QString()
                              << QStringLiteral("Couldn't open the mixer.");
}

void tst_NotifyWindows::volumeWindowFindsTheMasterVolume()
{
    QFETCH(QStringList, elements);
    QFETCH(QString, message);
    QFETCH(bool, openable);
    m_mixer->openable = openable;
    m_mixer->elements.clear();
    for (qsizetype i = 0; i < elements.size(); ++i)
        m_mixer->elements.insert(elements.at(i), { 0, 100 + long(i) });
    MessageBox::setNextAnswer(QMessageBox::Ok);
    if (message.isEmpty())
        MessageBox::show(nullptr, QMessageBox::NoIcon, QString(), QStringLiteral("none yet"));
    Form1 form(std::make_unique<FakeMixer>(m_mixer), &m_sound, {});
    form.show();
    QSignalSpy loaded(&form, &Form1::loaded);
    form.load();
    QVERIFY(loaded.wait(5000));
    QCOMPARE(m_mixer->openedCards, QStringList { QStringLiteral("default") });
    QFETCH(QString, label);
    QCOMPARE(child<QLabel>(&form, "Label1")->text(), label);
    expectMessage(message.isEmpty() ? QStringLiteral("none yet") : message);
    // Set without a master volume does nothing and the window stays usable.
    QSignalSpy set(&form, &Form1::volumeSet);
    child<QPushButton>(&form, "Command1")->click();
    if (form.volumeControl().isValid())
        QVERIFY(set.wait(5000));
    QCOMPARE(m_mixer->sets.size(), form.volumeControl().isValid() ? 1 : 0);
}

void tst_NotifyWindows::volumeSetAndSlider_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<long>("value"); // -1: refused, nothing set
    QTest::newRow("inside") << QStringLiteral("40000") << 40000L;
    QTest::newRow("blanks around") << QStringLiteral(" 1200 ") << 1200L;
    QTest::newRow("the ends") << QStringLiteral("65536") << 65536L;
    QTest::newRow("empty") << QString() << -1L;
    QTest::newRow("words after") << QStringLiteral("1200 Vol") << -1L;
    QTest::newRow("fraction") << QStringLiteral("12.5") << -1L;
    QTest::newRow("above") << QStringLiteral("65537") << -1L;
    QTest::newRow("below") << QStringLiteral("-3") << -1L;
    QTest::newRow("not a number") << QStringLiteral("loud") << -1L;
    QTest::newRow("huge") << QStringLiteral("1e400") << -1L;
}

void tst_NotifyWindows::volumeSetAndSlider()
{
    QFETCH(long, value);
    m_mixer->volumes.insert(QStringLiteral("Master"), 31000);
    Form1 form(std::make_unique<FakeMixer>(m_mixer), &m_sound, {});
    form.show();
    QSignalSpy loaded(&form, &Form1::loaded);
    form.load();
    QVERIFY(loaded.wait(5000));
    auto *slider = child<QSlider>(&form, "Slider1");
    auto *box = child<QLineEdit>(&form, "Text1");
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 65536);
    // Opened on the volume in force; placing the slider sets nothing.
    QCOMPARE(slider->value(), 31000);
    QCOMPARE(box->text(), QStringLiteral("31000"));
    QVERIFY(m_mixer->sets.isEmpty());
    QFETCH(QString, text);
    box->setText(text);
    QSignalSpy set(&form, &Form1::volumeSet);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    MessageBox::show(nullptr, QMessageBox::NoIcon, QString(), QStringLiteral("none yet"));
    child<QPushButton>(&form, "Command1")->click();
    if (value < 0) {
        expectMessage(QStringLiteral("Enter a whole number from 0 to 65536."));
        QCoreApplication::processEvents();
        QCOMPARE(m_mixer->setCount(), 0);
        QCOMPARE(slider->value(), 31000);
        return;
    }
    QVERIFY(set.wait(5000));
    expectMessage(QStringLiteral("none yet"));
    QCOMPARE(m_mixer->sets.size(), 1);
    QCOMPARE(m_mixer->sets.last(), std::make_pair(QStringLiteral("Master"), value));
    QCOMPARE(slider->value(), int(value));
    // Moving the slider sets at once, without "Set"; of a drag's values still waiting, the
    // newest is set.
    slider->setValue(20000);
    slider->setValue(30000);
    QCOMPARE(box->text(), QStringLiteral("30000"));
    QTRY_COMPARE(m_mixer->lastSet(), std::make_pair(QStringLiteral("Master"), 30000L));
    QVERIFY(m_mixer->setCount() <= 3);
}

void tst_NotifyWindows::volumeWindowShowsTheSelectedSoundAndReopensTheMixer()
{
    storeRules(2);
    auto window = openWindow();
    auto *list = child<QTreeWidget>(window.get(), "ListView1");
    for (int round = 1; round <= 2; ++round) {
        list->setCurrentItem(list->topLevelItem(round - 1));
        child<QPushButton>(window.get(), "Image3")->click();
        QPointer<Form1> form = window->volumeWindow();
        QVERIFY(form && form->isVisible());
        QVERIFY(form->windowModality() != Qt::NonModal);
        auto *label2 = child<QLineEdit>(form, "label2");
        QCOMPARE(label2->text(), QStringLiteral("s%1.wav").arg(round - 1));
        QVERIFY(label2->isReadOnly());
        child<QToolButton>(form, "Command2")->click();
        QCOMPARE(m_sound.previews.last(), QStringLiteral("s%1.wav").arg(round - 1));
        m_sound.finishPreview();
        child<QPushButton>(form, "Command3")->click();
        QTRY_VERIFY(!form); // deleted on close, and its mixer closed on the mixer's thread
        QTRY_COMPARE(m_mixer->closes.load(), round);
        QCOMPARE(m_mixer->openedCards.size(), round);
    }
    // Nothing selected: an empty field.
    list->clearSelection();
    child<QPushButton>(window.get(), "Image3")->click();
    QCOMPARE(child<QLineEdit>(window->volumeWindow(), "label2")->text(), QString());
}

QTEST_MAIN(tst_NotifyWindows)
void tst_NotifyWindows::hungMixerNeverFreezesTheWindow()
{
    // The sound server answers only after 3 s; opening the window must not wait for it.
    m_mixer->hanging = true;
    std::thread server([state = m_mixer] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        state->hanging = false;
    });
    {
        Form1 form(std::make_unique<FakeMixer>(m_mixer), &m_sound, {});
        form.show();
        QSignalSpy loaded(&form, &Form1::loaded);
        form.load();
        child<QLineEdit>(&form, "Text1")->setText(QStringLiteral("500"));
        child<QPushButton>(&form, "Command1")->click(); // nothing found yet: nothing to set
        QCoreApplication::processEvents();
        QVERIFY(m_mixer->hanging.load()); // all of the above while the server still hangs
        QCOMPARE(loaded.count(), 0);
        QVERIFY(loaded.wait(10'000));
        QCOMPARE(child<QLabel>(&form, "Label1")->text(), QStringLiteral("0 to 65536"));
    }
    server.join();
    QTRY_COMPARE(m_mixer->closes.load(), 1);
    QCOMPARE(m_mixer->setCount(), 0);
}

#include "tst_NotifyWindows.moc"
