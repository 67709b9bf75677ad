#include "core/SettingsStore.h"
#include "history/HistoryStore.h"
#include "history/HistoryTableModel.h"
#include "history/frmHistory.h"
#include "tests/mock/ManualClock.h"

#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <numeric>

class tst_frmHistory : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void earlierRunsShowAfterARestart();
    void filterNarrowsTheVisits();
    void datesChooseTheirRange();
    void exportQuotesCommasAndQuotes();
    void millionRowsLoadLazily();
    void everyControlHasAName();

private:
    void storeVisits(int count, qint64 spacingMs);
    static bool waitScan(frmHistory &window);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_file;
    ManualClock m_clock { QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)) };
};

void tst_frmHistory::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_file = m_dir->filePath(QStringLiteral("history.sqlite3"));
}

void tst_frmHistory::storeVisits(int count, qint64 spacingMs)
{
    SettingsStore settings(m_dir->filePath(QStringLiteral("settings.conf")));
    HistoryStore store(m_file, settings, m_clock);
    const QDateTime now = m_clock.currentDateTime();
    for (int i = count - 1; i >= 0; --i) {
        store.recordVisit({ now.addMSecs(-i * spacingMs), QStringLiteral("203.0.113.%1").arg(i % 7),
            i % 3 == 0 ? QStringLiteral("Germany") : QStringLiteral("France"),
            QStringLiteral("http://site.example/page%1,\"x\"").arg(i % 5), false,
            i % 10 == 3       ? VisitKind::Crawler
                : i % 10 == 4 ? VisitKind::Own
                              : VisitKind::Visit });
    }
    QVERIFY(store.flush());
}

bool tst_frmHistory::waitScan(frmHistory &window)
{
    return QTest::qWaitFor([&] { return !window.scanRunning(); }, 10000);
}

void tst_frmHistory::earlierRunsShowAfterARestart()
{
    // One run of the program stores visits and ends ...
    storeVisits(30, 3600 * 1000);
    // ... the next one opens the history window on the same file.
    frmHistory window(m_file, m_clock);
    window.show();
    QVERIFY(waitScan(window));
    HistoryTableModel &model = window.model();
    QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("cboRange"))->currentText(), u"Last 7 days");
    QCOMPARE(model.rowCount(), 30);
    QTRY_VERIFY(model.loadedRow(0));
    QCOMPARE(model.data(model.index(0, HistoryTableModel::IpColumn)).toString(), u"203.0.113.0");
    QCOMPARE(model.data(model.index(0, HistoryTableModel::TimeColumn)).toString(),
        HistoryTableModel::timeText(m_clock.currentDateTime()));
    QTRY_COMPARE(
        model.data(model.index(29, HistoryTableModel::PageColumn)).toString(), u"http://site.example/page4,\"x\"");

    // The chart counts per day, the top lists name the pages and countries.
    QCOMPARE(window.summary().buckets.startsMs.size(), 7);
    QCOMPARE(std::accumulate(window.summary().perBucket.cbegin(), window.summary().perBucket.cend(), qint64(0)), 30);
    auto *pages = window.findChild<QTreeWidget *>(QStringLiteral("lstTopPages"));
    QCOMPARE(pages->topLevelItemCount(), 5);
    QCOMPARE(pages->topLevelItem(0)->text(1), u"6");
    auto *countries = window.findChild<QTreeWidget *>(QStringLiteral("lstTopCountries"));
    QCOMPARE(countries->topLevelItem(0)->text(0), u"France");
    QCOMPARE(countries->topLevelItem(0)->text(1), u"20");
    QVERIFY(window.findChild<QChartView *>(QStringLiteral("chartVisits"))->chart()->series().size() == 1);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblStatus"))->text(), u"30 visits");

    // Today only: 13 visits (12:00 back to 00:00), per hour.
    auto *range = window.findChild<QComboBox *>(QStringLiteral("cboRange"));
    range->setCurrentIndex(int(HistoryRange::Preset::Today));
    emit range->activated(range->currentIndex());
    QVERIFY(waitScan(window));
    QCOMPARE(model.rowCount(), 13);
    QVERIFY(window.summary().buckets.hourly);
}

void tst_frmHistory::filterNarrowsTheVisits()
{
    storeVisits(30, 60 * 1000);
    frmHistory window(m_file, m_clock);
    window.show();
    QVERIFY(waitScan(window));
    QCOMPARE(window.model().rowCount(), 30);
    QTest::keyClicks(window.findChild<QLineEdit *>(QStringLiteral("txtFilter")), QStringLiteral("PAGE3"));
    // The query waits for the typing to pause, then runs off the window's thread.
    QTRY_COMPARE_WITH_TIMEOUT(window.model().rowCount(), 6, 5000);
    QVERIFY(waitScan(window));
    QCOMPARE(window.summary().topPages.size(), 1);

    // Crawlers, own visits or the visitors alone.
    window.findChild<QLineEdit *>(QStringLiteral("txtFilter"))->clear();
    auto *kind = window.findChild<QComboBox *>(QStringLiteral("cboKind"));
    for (const auto &[text, rows] : { std::pair { "Crawlers", 3 }, { "Own visits", 3 }, { "Visitors", 24 } }) {
        kind->setCurrentText(QString::fromLatin1(text));
        emit kind->activated(kind->currentIndex());
        QVERIFY(waitScan(window));
        QCOMPARE(window.model().rowCount(), rows);
    }
    QTRY_COMPARE(window.model().data(window.model().index(0, HistoryTableModel::KindColumn)).toString(), QString());
    kind->setCurrentText(QStringLiteral("Crawlers"));
    emit kind->activated(kind->currentIndex());
    QVERIFY(waitScan(window));
    QTRY_COMPARE(window.model().data(window.model().index(0, HistoryTableModel::KindColumn)).toString(), u"crawler");
}

void tst_frmHistory::datesChooseTheirRange()
{
    storeVisits(30, 3600 * 1000);
    frmHistory window(m_file, m_clock);
    window.show();
    QVERIFY(waitScan(window));
    auto *from = window.findChild<QDateEdit *>(QStringLiteral("dtpFrom"));
    auto *to = window.findChild<QDateEdit *>(QStringLiteral("dtpTo"));
    from->setDate(QDate(2026, 12, 6));
    to->setDate(QDate(2026, 12, 6));
    QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("cboRange"))->currentText(), u"Between dates");
    // 6 December: the visits from 00:00 to 23:00, i.e. 30 hours back minus today's 13.
    QTRY_COMPARE_WITH_TIMEOUT(window.model().rowCount(), 17, 5000);
    QVERIFY(waitScan(window));
    QVERIFY(window.summary().buckets.hourly);

    // "Everything": the boxes say so instead of keeping the last range.
    auto *range = window.findChild<QComboBox *>(QStringLiteral("cboRange"));
    const int everything = range->findText(QStringLiteral("Everything"));
    range->setCurrentIndex(everything);
    emit range->activated(everything); // as a choice in the list does
    QCOMPARE(from->text(), frmHistory::FirstVisitText);
    QCOMPARE(to->date(), m_clock.currentDateTime().date());
    QTRY_COMPARE_WITH_TIMEOUT(window.model().rowCount(), 30, 5000);
}

void tst_frmHistory::exportQuotesCommasAndQuotes()
{
    storeVisits(3, 1000);
    frmHistory window(m_file, m_clock);
    window.show();
    QVERIFY(waitScan(window));
    QSignalSpy exported(&window, &frmHistory::exportFinished);
    const QString out = m_dir->filePath(QStringLiteral("visits.csv"));
    frmHistory::setNextFileName(out);
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cmdExport")), Qt::LeftButton);
    QVERIFY(exported.wait(10000));
    QCOMPARE(exported.first().at(1).toString(), QString());
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 5); // header, three visits, the empty rest after the last line end
    QCOMPARE(lines[1],
        QStringLiteral("2026-12-07 12:00:00,203.0.113.0,Germany,\"http://site.example/page0,\"\"x\"\"\",no,visit,"));
}

void tst_frmHistory::millionRowsLoadLazily()
{
    // Not a million here (that is the benchmark's job), but more rows than the model keeps.
    const int count = HistoryTableModel::BlockRows * (HistoryTableModel::MaxBlocks + 8);
    storeVisits(count, 10);
    frmHistory window(m_file, m_clock);
    window.show();
    QVERIFY(waitScan(window));
    HistoryTableModel &model = window.model();
    QCOMPARE(model.rowCount(), count);
    auto *table = window.findChild<QTableView *>(QStringLiteral("tblVisits"));
    for (int row : { count - 1, count / 2, 0 }) {
        table->scrollTo(model.index(row, 0));
        QTRY_VERIFY(model.loadedRow(row));
        QCOMPARE(model.loadedRow(row)->time, m_clock.currentDateTime().addMSecs(-qint64(row) * 10));
    }
    for (int block = 0; block < HistoryTableModel::MaxBlocks + 4; ++block)
        QTRY_VERIFY(model.loadedRow(block * HistoryTableModel::BlockRows));
    // Only the newest blocks stayed in memory; the oldest came back on demand.
    QVERIFY(!model.loadedRow(count - 1));
    QTRY_VERIFY(model.loadedRow(count - 1));
}

void tst_frmHistory::everyControlHasAName()
{
    frmHistory window(m_file, m_clock);
    window.show();
    QVERIFY(waitScan(window));
    for (const char *name : { "cboRange", "dtpFrom", "dtpTo", "txtFilter", "cboKind", "tblVisits", "chartVisits",
             "lstTopPages", "lstTopCountries" })
        QVERIFY2(!window.findChild<QWidget *>(QString::fromLatin1(name))->accessibleName().isEmpty(), name);
    QCOMPARE(window.findChild<QWidget *>(QStringLiteral("txtFilter"))->accessibleName(), u"Filter");
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("cmdExport"))->text(), u"Export...");
    // No file yet: an empty history, not a failure.
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblStatus"))->text(), u"0 visits");
}

QTEST_MAIN(tst_frmHistory)
#include "tst_frmHistory.moc"
