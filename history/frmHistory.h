#pragma once

#include "core/Clock.h"
#include "history/HistoryQuery.h"

#include <QWidget>

class HistoryReader;
class HistoryTableModel;
class QChartView;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class QTreeWidget;

// The history window: the visits of a range of time (today, yesterday, the last 7 or 30 days,
// everything, or between two dates) that contain a filter text, in a table that loads lazily,
// newest first; a chart of the visits per hour (one day) or per day (longer ranges); the most
// visited pages and the most frequent countries of the range; "Export..." of the shown visits as
// CSV. Every query runs on the reader's threads, so the window stays responsive meanwhile.
class frmHistory final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int FilterDelayMs = 300;
    // What From shows while "Everything" is chosen.
    static inline const QString FirstVisitText = QStringLiteral("first visit");

    explicit frmHistory(const QString &fileName, const Clock &clock = Clock::system(), QWidget *parent = nullptr);
    ~frmHistory() override;

    // Runs the query of the current range and filter again.
    void refresh();
    // The history file was replaced by a new one: read that one from now on.
    void fileReplaced();

    HistoryTableModel &model() { return *m_model; }
    const HistorySummary &summary() const { return m_summary; }
    bool scanRunning() const;

    // Test hook: the next export takes this file name without showing a dialog (empty: cancelled).
    static void setNextFileName(const QString &fileName);

signals:
    void scanFinished();
    // A query found the file damaged; the store is to check it.
    void damageFound();
    // error: empty on success.
    void exportFinished(const QString &fileName, const QString &error);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildWindow();
    void presetChosen();
    void datesEdited();
    void onScanFinished(const HistorySummary &summary);
    void onScanFailed(const QString &reason, bool damaged);
    void showStatus();
    void showChart();
    void showTopLists();
    void exportClicked();
    void startExport(const QString &fileName);
    HistoryFilter currentFilter() const;

    const Clock &m_clock;
    HistoryReader *m_reader;
    HistoryTableModel *m_model;
    HistorySummary m_summary;
    QTimer *m_filterTimer;
    bool m_settingDates = false;
    bool m_exporting = false;
    QString m_failure;

    QComboBox *cboRange = nullptr;
    QDateEdit *dtpFrom = nullptr;
    QDateEdit *dtpTo = nullptr;
    QLineEdit *txtFilter = nullptr;
    QComboBox *cboKind = nullptr;
    QPushButton *cmdRefresh = nullptr;
    QPushButton *cmdExport = nullptr;
    QTableView *tblVisits = nullptr;
    QChartView *chartVisits = nullptr;
    QTreeWidget *lstTopPages = nullptr;
    QTreeWidget *lstTopCountries = nullptr;
    QLabel *lblStatus = nullptr;
};
