// The main window's build: it fits its contents at the user's font, and every control has an
// accessible name.
#include "capture/frmMain.h"
#include "core/SettingsStore.h"
#include "engine/VisitMonitor.h"
#include "tests/mock/FakeConnectionState.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

class tst_frmMain : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fitsItsContents_data();
    void fitsItsContents();
    void controlsHaveAccessibleNames();

private:
    std::unique_ptr<frmMain> makeWindow();
    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<VisitMonitor> m_engine;
    QFont m_font;
};

void tst_frmMain::init()
{
    m_font = QApplication::font();
    m_settings = std::make_unique<SettingsStore>(m_dir.filePath(QStringLiteral("s.conf")));
}

void tst_frmMain::cleanup()
{
    QApplication::setFont(m_font);
}

std::unique_ptr<frmMain> tst_frmMain::makeWindow()
{
    VisitMonitorServices services;
    services.settings = m_settings.get();
    services.connection = std::make_shared<FakeConnectionState>();
    services.history = false;
    m_engine = std::make_unique<VisitMonitor>(services);
    return std::make_unique<frmMain>(*m_engine);
}

void tst_frmMain::fitsItsContents_data()
{
    QTest::addColumn<qreal>("fontScale");
    QTest::newRow("default font") << 1.0;
    QTest::newRow("larger font") << 1.5;
    QTest::newRow("large font") << 3.0;
}

void tst_frmMain::fitsItsContents()
{
    QFETCH(qreal, fontScale);
    QFont font = m_font;
    font.setPointSizeF(m_font.pointSizeF() * fontScale);
    QApplication::setFont(font);
    const auto window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // Fixed: neither resized nor maximised, and never smaller than designed.
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QVERIFY(window->width() >= 780 && window->height() >= 600);
    // Every visible widget lies inside the window and gets at least the height it needs; the
    // status bar with its three counters is the last one at the bottom.
    const QRect inside = window->rect();
    for (QWidget *child : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisible() || child->isWindow())
            continue;
        const QString what = QString::fromLatin1(child->metaObject()->className()) + u' ' + child->objectName();
        const QRect area(child->mapTo(window.get(), QPoint(0, 0)), child->size());
        QVERIFY2(inside.contains(area), qPrintable(what + u" lies outside"_qs));
        QVERIFY2(child->height() >= child->minimumSizeHint().height(),
            qPrintable(
                what + QStringLiteral(" is cut: %1 < %2").arg(child->height()).arg(child->minimumSizeHint().height())));
    }
    auto *status = window->findChild<QStatusBar *>(QStringLiteral("StatusBar1"));
    QVERIFY(status->height() >= status->sizeHint().height());
    for (const char *panel : { "StatusBar1Panel1", "StatusBar1Panel2", "StatusBar1Panel3" }) {
        auto *label = window->findChild<QLabel *>(QString::fromLatin1(panel));
        QVERIFY(label->isVisible());
        QVERIFY2(label->height() >= label->sizeHint().height(), panel);
    }
}

void tst_frmMain::controlsHaveAccessibleNames()
{
    const auto window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    int controls = 0;
    // The buttons and boxes of the window (not the parts inside a list or a log).
    const auto insideScrollArea = [&](QWidget *widget) {
        for (QWidget *up = widget->parentWidget(); up && up != window.get(); up = up->parentWidget()) {
            if (qobject_cast<QAbstractScrollArea *>(up))
                return true;
        }
        return false;
    };
    for (QWidget *child : window->findChildren<QWidget *>()) {
        const bool control = qobject_cast<QAbstractButton *>(child) || qobject_cast<QAbstractScrollArea *>(child);
        if (!control || insideScrollArea(child))
            continue;
        ++controls;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(child);
        QVERIFY(accessible);
        const QString name = accessible->text(QAccessible::Name);
        QVERIFY2(!name.isEmpty(), qPrintable(child->objectName() + u" has no accessible name"_qs));
        // An icon button is named by its tool tip.
        auto *button = qobject_cast<QAbstractButton *>(child);
        if (button && button->text().isEmpty() && !button->icon().isNull())
            QCOMPARE(name, button->toolTip());
    }
    QVERIFY(controls >= 9);
    const auto nameOf = [&](const char *objectName) {
        return QAccessible::queryAccessibleInterface(window->findChild<QWidget *>(QString::fromLatin1(objectName)))
            ->text(QAccessible::Name);
    };
    // Text boxes are named by the label before them.
    QCOMPARE(nameOf("txtLog"), QStringLiteral("Latest Events"));
    QCOMPARE(nameOf("iGrid1"), QStringLiteral("Visitors"));
    QCOMPARE(nameOf("Image5"), QStringLiteral("Listen on port"));
    QCOMPARE(nameOf("Image3"), QStringLiteral("Save List"));
    QCOMPARE(nameOf("Send_Query_Button1"), QStringLiteral("Exit"));
}

QTEST_MAIN(tst_frmMain)
#include "tst_frmMain.moc"
