#include "capture/VisitorList.h"
#include "dialogs/MessageBox.h"
#include "tests/mock/FakeConnectionState.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMutex>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <atomic>
#include <ctime>

namespace {

// Resolver stand-in: records the addresses it was asked for and the thread it ran on; can be
// held until the test releases it.
struct FakeResolver final : IHostNameResolver
{
    QMutex mutex;
    QStringList asked;
    std::atomic<bool> ranOnUiThread = false;
    std::atomic<bool> hold = false;
    QSemaphore release;

    QString AddressToName(const QString &address) override
    {
        {
            QMutexLocker lock(&mutex);
            asked << address;
        }
        if (QThread::currentThread() == qApp->thread())
            ranOnUiThread = true;
        if (hold)
            release.acquire();
        if (address == u"10.0.0.1")
            return QStringLiteral("host.example");
        return {};
    }
    QStringList addresses()
    {
        QMutexLocker lock(&mutex);
        return asked;
    }
};

} // namespace

class tst_VisitorList : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void widgetsAndInitialPanels();
    void visitCountersAndPanels();
    void newestRowBecomesCurrent();
    void refreshcountersPanels();
    void saveEmptyShowsNothingToSave();
    void saveThreeRowsWritesFourLines();
    void saveCancelledWritesNothing();
    void saveOverExistingAsks_data();
    void saveOverExistingAsks();
    void loadAppendsAndCounts();
    void loadHeaderOnly();
    void loadStopsAtMalformedLine();
    void loadMissingFile();
    void loadThroughIcon();
    void clearList();
    void hostNameOfSelectedAddress_data();
    void hostNameOfSelectedAddress();
    void hostNameOffline();
    void hostNameOtherColumn();
    void busyPointerWhileResolving();
    void latestSelectionWins();
    void programmaticCurrentDoesNotResolve();
    void hundredThousandRows();
    void loadingLeavesTheWindowResponsive();

private:
    void makeList(VisitorListLimits limits = {});
    QString write(const QByteArray &content);
    static QByteArray readAll(const QString &path);
    void selectCell(int row, int column);

    QTemporaryDir m_dir;
    std::unique_ptr<QWidget> m_window;
    VisitorListWidgets m_w;
    std::shared_ptr<FakeConnectionState> m_connection;
    std::shared_ptr<FakeResolver> m_resolver;
    std::unique_ptr<VisitorList> m_list;
    int m_files = 0;
};

void tst_VisitorList::init()
{
    QVERIFY(m_dir.isValid());
    makeList();
}

void tst_VisitorList::cleanup()
{
    m_list.reset();
    m_window.reset();
}

void tst_VisitorList::makeList(VisitorListLimits limits)
{
    m_list.reset();
    m_window = std::make_unique<QWidget>();
    m_w = VisitorListWidgets::create(m_window.get());
    auto *layout = new QVBoxLayout(m_window.get());
    layout->addWidget(m_w.iGrid1);
    for (QWidget *w : std::initializer_list<QWidget *> {
             m_w.panel1, m_w.panel2, m_w.panel3, m_w.Label6, m_w.Image3, m_w.Image7, m_w.Image8 })
        layout->addWidget(w);
    m_connection = std::make_shared<FakeConnectionState>();
    m_resolver = std::make_shared<FakeResolver>();
    VisitorListServices services;
    services.connection = m_connection;
    services.resolver = m_resolver;
    services.limits = limits;
    m_list = std::make_unique<VisitorList>(m_w, services);
    m_window->resize(800, 500);
    m_window->show();
}

QString tst_VisitorList::write(const QByteArray &content)
{
    const QString path = m_dir.filePath(QStringLiteral("in%1.csv").arg(++m_files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(content);
    return path;
}

QByteArray tst_VisitorList::readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_VisitorList::selectCell(int row, int column)
{
    // As the user does it: a click on the cell.
    QTableView *view = m_w.iGrid1;
    const QModelIndex index = view->model()->index(row, column);
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
}

void tst_VisitorList::widgetsAndInitialPanels()
{
    QCOMPARE(m_w.iGrid1->objectName(), u"iGrid1"_qs);
    QCOMPARE(m_w.Label6->objectName(), u"Label6"_qs);
    QCOMPARE(m_w.Label6->textFormat(), Qt::PlainText);
    QCOMPARE(m_w.Image3->objectName(), u"Image3"_qs);
    QCOMPARE(m_w.Image3->toolTip(), u"Save List"_qs);
    QCOMPARE(m_w.Image7->toolTip(), u"Clear List"_qs);
    QCOMPARE(m_w.Image8->toolTip(), u"Load List"_qs);
    QCOMPARE(m_w.panel1->text(), u"Page requests:"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's:"_qs);
    QCOMPARE(m_w.panel3->text(), u"Unique pages:"_qs);
    QCOMPARE(m_w.iGrid1->model()->columnCount(), 3);
    QCOMPARE(m_w.iGrid1->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    QCOMPARE(m_w.iGrid1->horizontalHeader()->sectionSize(0), 130);
    QCOMPARE(m_w.iGrid1->horizontalHeader()->sectionSize(1), 90);
}

void tst_VisitorList::visitCountersAndPanels()
{
    const QDateTime when(QDate(2026, 12, 7), QTime(11, 0));
    QCOMPARE(m_list->addVisit(when, u"10.0.0.1"_qs, u"http://a/"_qs), 0);
    QCOMPARE(m_w.panel1->text(), u"Page requests: 1"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's: 1"_qs);
    QCOMPARE(m_w.panel3->text(), u"Unique pages:  1"_qs);

    // A known address and page change only panel 1: a panel text set by the counting of a loaded
    // row ("Unique pages: " with one blank) stays.
    m_list->refreshcounters(u"10.0.0.2"_qs, u"http://b/"_qs);
    QCOMPARE(m_w.panel3->text(), u"Unique pages: 2"_qs);
    QCOMPARE(m_list->addVisit(when, u"10.0.0.1"_qs, u"http://b/"_qs), 1);
    QCOMPARE(m_w.panel1->text(), u"Page requests: 2"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's: 2"_qs);
    QCOMPARE(m_w.panel3->text(), u"Unique pages: 2"_qs);

    m_list->addVisit(when, u"10.0.0.3"_qs, u"http://c/"_qs);
    QCOMPARE(m_w.panel1->text(), u"Page requests: 3"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's: 3"_qs);
    QCOMPARE(m_w.panel3->text(), u"Unique pages:  3"_qs);

    m_list->appendCountry(2, u"Germany"_qs);
    QCOMPARE(m_list->model().cellText(2, 1), u"10.0.0.3 Germany"_qs);
    m_list->appendCountry(0, QString());
    QCOMPARE(m_list->model().cellText(0, 1), u"10.0.0.1 "_qs);

    // A long IPv6 address and its country are not cut off: the column grows to hold them.
    m_list->addVisit(when, u"2001:db8:1234:5678:9abc:def0:1234:5678"_qs, u"http://d/"_qs);
    m_list->appendCountry(3, u"United Kingdom"_qs);
    const QString longest = m_list->model().cellText(3, 1);
    QVERIFY(m_w.iGrid1->horizontalHeader()->sectionSize(1) >= m_w.iGrid1->fontMetrics().horizontalAdvance(longest));
}

void tst_VisitorList::newestRowBecomesCurrent()
{
    const QDateTime when = QDateTime::currentDateTime();
    m_list->addVisit(when, u"1.1.1.1"_qs, u"a"_qs);
    QTRY_COMPARE(m_w.iGrid1->currentIndex().row(), 0);
    // Visits of one turn of the event loop: the newest becomes current once the loop turns.
    m_list->addVisit(when, u"1.1.1.2"_qs, u"b"_qs);
    m_list->addVisit(when, u"1.1.1.3"_qs, u"c"_qs);
    QCOMPARE(m_w.iGrid1->currentIndex().row(), 0);
    QTRY_COMPARE(m_w.iGrid1->currentIndex().row(), 2);
    // The current column stays.
    m_w.iGrid1->setCurrentIndex(m_list->model().index(0, 2));
    m_list->addVisit(when, u"1.1.1.4"_qs, u"d"_qs);
    QTRY_COMPARE(m_w.iGrid1->currentIndex(), m_list->model().index(3, 2));
}

void tst_VisitorList::refreshcountersPanels()
{
    m_list->model().appendRows({ VisitorListModel::Row { QDateTime(), u"t"_qs, u"1.1.1.1"_qs, u"p"_qs } });
    m_list->refreshcounters(u"1.1.1.1"_qs, u"p"_qs);
    QCOMPARE(m_w.panel1->text(), u"Page requests: 1"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's: 1"_qs);
    QCOMPARE(m_w.panel3->text(), u"Unique pages: 1"_qs);
    m_list->refreshcounters(u"1.1.1.1"_qs, u"q"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's: 1"_qs);
    QCOMPARE(m_w.panel3->text(), u"Unique pages: 2"_qs);
}

void tst_VisitorList::saveEmptyShowsNothingToSave()
{
    const QString path = m_dir.filePath(u"never.csv"_qs);
    VisitorList::setNextFileName(path);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    m_list->saveList();
    QCOMPARE(MessageBox::lastText(), u"Nothing to save"_qs);
    QCOMPARE(m_list->lastDialogTitle(), u"Save List"_qs);
    QVERIFY(!QFile::exists(path));
    // No dialog was shown: the prepared file name is still waiting for the next one.
    m_list->addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"a"_qs);
    QSignalSpy saved(m_list.get(), &VisitorList::listSaved);
    m_list->saveList();
    QCOMPARE(saved.count(), 1);
    QVERIFY(QFile::exists(path));
}

void tst_VisitorList::saveThreeRowsWritesFourLines()
{
    const QDateTime when(QDate(2026, 12, 7), QTime(8, 0));
    m_list->addVisit(when, u"1.1.1.1"_qs, u"http://a/"_qs);
    m_list->addVisit(when.addSecs(1), u"1.1.1.2"_qs, u"http://b/"_qs);
    m_list->addVisit(when.addSecs(2), u"1.1.1.3"_qs, u"Local Page"_qs);
    const QString path = m_dir.filePath(u"three.csv"_qs);
    VisitorList::setNextFileName(path);
    QSignalSpy saved(m_list.get(), &VisitorList::listSaved);
    QTest::mouseClick(m_w.Image3, Qt::LeftButton);
    QCOMPARE(saved.count(), 1);
    const QList<QByteArray> lines = readAll(path).split('\n');
    QCOMPARE(lines.size(), 5); // four lines and the empty rest after the last line end
    QCOMPARE(lines[0], QByteArray("\"Date\",\"IP\",\"Page\"\r"));
    QCOMPARE(lines[3], VisitorListModel::timeText(when.addSecs(2)).toUtf8() + ",1.1.1.3,Local Page\r");
}

void tst_VisitorList::saveCancelledWritesNothing()
{
    m_list->addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"a"_qs);
    QSignalSpy saved(m_list.get(), &VisitorList::listSaved);
    VisitorList::setNextFileName(QString());
    m_list->saveList();
    QCOMPARE(saved.count(), 0);
}

void tst_VisitorList::saveOverExistingAsks_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("yes") << int(QMessageBox::Yes) << true;
    QTest::newRow("no") << int(QMessageBox::No) << false;
    QTest::newRow("closed") << int(QMessageBox::NoButton) << false;
}

void tst_VisitorList::saveOverExistingAsks()
{
    QFETCH(int, answer);
    QFETCH(bool, replaced);
    const QString path = write("old content");
    m_list->addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"a"_qs);
    VisitorList::setNextFileName(path);
    MessageBox::setNextAnswer(QMessageBox::StandardButton(answer));
    m_list->saveList();
    QCOMPARE(MessageBox::lastText(), u"File exists. Replace?"_qs);
    QCOMPARE(readAll(path) != QByteArray("old content"), replaced);
}

void tst_VisitorList::loadAppendsAndCounts()
{
    m_list->addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"http://a/"_qs);
    const QString path = write("\"Date\",\"IP\",\"Page\"\r\n"
                               "t1,1.1.1.1,http://a/\r\n"
                               "t2,1.1.1.1 Germany,http://b/\r\n"
                               "t3,2.2.2.2,http://a/\r\n");
    VisitorList::setNextFileName(path);
    QSignalSpy loaded(m_list.get(), &VisitorList::listLoaded);
    m_list->loadList();
    QCOMPARE(m_list->lastDialogTitle(), u"Load List"_qs);
    QVERIFY(loaded.wait(5000));
    QCOMPARE(loaded.at(0).at(0).toInt(), 3);
    QCOMPARE(m_list->rowCount(), 4);
    QCOMPARE(m_list->model().cellText(1, 0), u"t1"_qs);
    QCOMPARE(m_list->model().cellText(3, 2), u"http://a/"_qs);
    QCOMPARE(m_w.panel1->text(), u" Page requests: 4"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's: 3"_qs);
    QCOMPARE(m_w.panel3->text(), u"Unique pages: 2"_qs);
    for (const QString &ip : { u"1.1.1.1"_qs, u"1.1.1.1 Germany"_qs, u"2.2.2.2"_qs })
        QVERIFY(m_list->model().hasAddress(ip));
}

void tst_VisitorList::loadHeaderOnly()
{
    m_list->addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"http://a/"_qs);
    VisitorList::setNextFileName(write("\"Date\",\"IP\",\"Page\"\r\n"));
    QSignalSpy loaded(m_list.get(), &VisitorList::listLoaded);
    m_list->loadList();
    QVERIFY(loaded.wait(5000));
    QCOMPARE(m_list->rowCount(), 1);
    QCOMPARE(m_w.panel1->text(), u" Page requests: 1"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's: 1"_qs);
    QCOMPARE(m_w.panel3->text(), u"Unique pages:  1"_qs);
}

void tst_VisitorList::loadStopsAtMalformedLine()
{
    VisitorList::setNextFileName(write("h\nt1,1.1.1.1,a\nt2,2.2.2.2,b\nno commas here\nt3,3.3.3.3,c\n"));
    QSignalSpy loaded(m_list.get(), &VisitorList::listLoaded);
    m_list->loadList();
    QVERIFY(loaded.wait(5000));
    QCOMPARE(m_list->rowCount(), 2);
    // The load stopped before its last step: panel 1 keeps the counting text.
    QCOMPARE(m_w.panel1->text(), u"Page requests: 2"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's: 2"_qs);
}

void tst_VisitorList::loadMissingFile()
{
    VisitorList::setNextFileName(m_dir.filePath(u"absent.csv"_qs));
    QSignalSpy loaded(m_list.get(), &VisitorList::listLoaded);
    m_list->loadList();
    QVERIFY(loaded.wait(5000));
    QCOMPARE(m_list->rowCount(), 0);
    QCOMPARE(m_w.panel1->text(), u"Page requests:"_qs);
}

void tst_VisitorList::loadThroughIcon()
{
    VisitorList::setNextFileName(write("h\nt,1.1.1.1,a\n"));
    QSignalSpy loaded(m_list.get(), &VisitorList::listLoaded);
    QTest::mouseClick(m_w.Image8, Qt::LeftButton);
    QVERIFY(loaded.wait(5000));
    QCOMPARE(m_list->rowCount(), 1);
}

void tst_VisitorList::clearList()
{
    m_list->addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"a"_qs);
    m_list->addVisit(QDateTime::currentDateTime(), u"1.1.1.2"_qs, u"b"_qs);
    QTest::mouseClick(m_w.Image7, Qt::LeftButton);
    QCOMPARE(m_list->rowCount(), 0);
    QCOMPARE(m_w.iGrid1->model()->columnCount(), 3);
    QCOMPARE(m_w.panel1->text(), u"Page requests:"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's:"_qs);
    QCOMPARE(m_w.panel3->text(), u"Unique pages:"_qs);
    QCOMPARE(m_list->model().uniqueAddressCount(), 0);
    QCOMPARE(m_list->model().uniquePageCount(), 0);
    m_list->addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"a"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's: 1"_qs);
}

void tst_VisitorList::hostNameOfSelectedAddress_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("label");
    QTest::newRow("bare address") << u"10.0.0.1"_qs << u"10.0.0.1"_qs << u"host.example"_qs;
    QTest::newRow("address with country") << u"10.0.0.1 Korea, Republic of"_qs << u"10.0.0.1"_qs << u"host.example"_qs;
    QTest::newRow("no reverse name") << u"10.0.0.9"_qs << u"10.0.0.9"_qs << u"IP: Can't Resolve"_qs;
    QTest::newRow("html stays text") << u"<b>x</b>"_qs << u"<b>x</b>"_qs << u"IP: Can't Resolve"_qs;
}

void tst_VisitorList::hostNameOfSelectedAddress()
{
    QFETCH(QString, cell);
    QFETCH(QString, asked);
    QFETCH(QString, label);
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.7"_qs, u"a"_qs);
    m_list->addVisit(QDateTime::currentDateTime(), cell, u"b"_qs);
    QSignalSpy shown(m_list.get(), &VisitorList::hostNameShown);
    selectCell(1, 1);
    QVERIFY(shown.wait(5000));
    QCOMPARE(m_resolver->addresses(), QStringList { asked });
    QCOMPARE(m_w.Label6->text(), label);
    QVERIFY(!m_resolver->ranOnUiThread);
}

void tst_VisitorList::hostNameOffline()
{
    m_connection->online = false;
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.7"_qs, u"a"_qs);
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.1"_qs, u"a"_qs);
    m_w.Label6->setText(u"before"_qs);
    selectCell(0, 1);
    QTest::qWait(50);
    QVERIFY(!m_list->lookupRunning());
    QVERIFY(m_resolver->addresses().isEmpty());
    QCOMPARE(m_w.Label6->text(), u"before"_qs);
}

void tst_VisitorList::hostNameOtherColumn()
{
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.7"_qs, u"a"_qs);
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.1"_qs, u"a"_qs);
    selectCell(0, 2);
    selectCell(1, 0);
    QTest::qWait(50);
    QVERIFY(!m_list->lookupRunning());
    QVERIFY(m_resolver->addresses().isEmpty());
}

void tst_VisitorList::busyPointerWhileResolving()
{
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.7"_qs, u"a"_qs);
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.1"_qs, u"a"_qs);
    m_resolver->hold = true;
    QSignalSpy shown(m_list.get(), &VisitorList::hostNameShown);
    selectCell(1, 1);
    QVERIFY(m_list->lookupRunning());
    QCOMPARE(m_window->cursor().shape(), Qt::BusyCursor);
    // The window keeps working meanwhile.
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.8"_qs, u"c"_qs);
    QCOMPARE(m_list->rowCount(), 3);
    QTest::qWait(20);
    QCOMPARE(shown.count(), 0);
    m_resolver->release.release();
    QVERIFY(shown.wait(5000));
    QCOMPARE(m_w.Label6->text(), u"host.example"_qs);
    QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
}

void tst_VisitorList::latestSelectionWins()
{
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.9"_qs, u"a"_qs);
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.5"_qs, u"a"_qs);
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.1"_qs, u"a"_qs);
    m_resolver->hold = true;
    QSignalSpy shown(m_list.get(), &VisitorList::hostNameShown);
    selectCell(0, 1);
    selectCell(1, 1);
    selectCell(2, 1);
    m_resolver->release.release(3);
    QVERIFY(shown.wait(5000));
    QTest::qWait(50);
    QCOMPARE(shown.count(), 1);
    QCOMPARE(m_w.Label6->text(), u"host.example"_qs);
    // One lookup at a time: the one running and the last one asked for.
    QCOMPARE(m_resolver->addresses(), (QStringList { u"10.0.0.9"_qs, u"10.0.0.1"_qs }));
    QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
}

void tst_VisitorList::programmaticCurrentDoesNotResolve()
{
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.1"_qs, u"a"_qs);
    m_w.iGrid1->setCurrentIndex(m_list->model().index(0, 1)); // the user's current cell: column 2
    QSignalSpy shown(m_list.get(), &VisitorList::hostNameShown);
    QVERIFY(shown.wait(5000));
    m_list->addVisit(QDateTime::currentDateTime(), u"10.0.0.1"_qs, u"b"_qs);
    m_list->makeNewestRowCurrent();
    QTRY_COMPARE(m_w.iGrid1->currentIndex(), m_list->model().index(1, 1));
    QTest::qWait(50);
    QCOMPARE(m_resolver->addresses().size(), 1);
}

void tst_VisitorList::hundredThousandRows()
{
    const QDateTime when(QDate(2026, 12, 7), QTime(0, 0));
    for (int i = 0; i < 100000; ++i)
        m_list->addVisit(when.addSecs(i), QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255),
            QStringLiteral("http://site/%1").arg(i % 1000));
    QCOMPARE(m_list->rowCount(), 100000);
    QCOMPARE(m_w.panel1->text(), u"Page requests: 100000"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's: 100000"_qs);
    QCOMPARE(m_w.panel3->text(), u"Unique pages:  1000"_qs);
    QHeaderView *rows = m_w.iGrid1->verticalHeader();
    QCOMPARE(rows->sectionSize(99999), rows->sectionSize(0));
    QTRY_COMPARE(m_w.iGrid1->currentIndex().row(), 99999);
    // The view follows the newest row once the event loop turns.
    QTRY_VERIFY(m_w.iGrid1->rowAt(m_w.iGrid1->viewport()->height() - 2) > 99900);
}

void tst_VisitorList::loadingLeavesTheWindowResponsive()
{
    constexpr int Rows = 400'000;
    QByteArray content = "\"Date\",\"IP\",\"Page\"\r\n";
    content.reserve(Rows * 48);
    for (int i = 0; i < Rows; ++i)
        content += "07/12/2026 10:00,10.0." + QByteArray::number(i % 200) + ".1,http://site/"
            + QByteArray::number(i % 5000) + ".htm\r\n";
    VisitorList::setNextFileName(write(content));
    QSignalSpy loaded(m_list.get(), &VisitorList::listLoaded);
    // A timer that fires at every turn of the event loop measures the longest turn, in processor
    // time of this thread (other programs on a busy machine do not count).
    const auto cpuMs = [] {
        timespec now {};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
    };
    qint64 last = cpuMs();
    qint64 longest = 0;
    int turns = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
        const qint64 now = cpuMs();
        if (m_list->rowCount() > 0 && m_list->loadRunning()) {
            longest = qMax(longest, now - last);
            ++turns;
        }
        last = now;
    });
    probe.start(0);
    m_list->loadList();
    QVERIFY(loaded.wait(60000));
    probe.stop();
    // The list keeps the newest rows; the counters count them all.
    QCOMPARE(m_list->rowCount(), VisitorListModel::MaxRows);
    QCOMPARE(m_w.panel1->text(), u" Page requests: 400000"_qs);
    QCOMPARE(m_w.panel2->text(), u"Unique IP's: 200"_qs);
    QCOMPARE(m_w.panel3->text(), u"Unique pages: 5000"_qs);
    QVERIFY2(turns > 3, qPrintable(QString::number(turns)));
    QVERIFY2(longest < 100, qPrintable(QStringLiteral("longest turn %1 ms").arg(longest)));
}

QTEST_MAIN(tst_VisitorList)
#include "tst_VisitorList.moc"
