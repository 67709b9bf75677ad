#include "history/frmHistory.h"

#include "dialogs/MessageBox.h"
#include "history/HistoryReader.h"
#include "history/HistoryTableModel.h"

#include <QAreaSeries>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <optional>

namespace {
std::optional<QString> g_nextFileName;
using Preset = HistoryRange::Preset;
constexpr Preset Presets[]
    = { Preset::Today, Preset::Yesterday, Preset::Last7Days, Preset::Last30Days, Preset::Everything, Preset::Dates };
constexpr int MaxBarBuckets = 31;

QLabel *buddyLabel(const QString &text, QWidget *buddy, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setBuddy(buddy);
    buddy->setAccessibleName(QString(text).remove(u'&').remove(u':'));
    return label;
}

QTreeWidget *topList(const char *name, const QString &title, QWidget *parent)
{
    auto *list = new QTreeWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setAccessibleName(title);
    list->setColumnCount(2);
    list->setHeaderLabels({ title, QStringLiteral("Visits") });
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    return list;
}
} // namespace

frmHistory::frmHistory(const QString &fileName, const Clock &clock, QWidget *parent)
    : QWidget(parent)
    , m_clock(clock)
    , m_reader(new HistoryReader(fileName, this))
    , m_model(new HistoryTableModel(*m_reader, this))
    , m_filterTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("History"));
    buildWindow();
    m_filterTimer->setSingleShot(true);
    m_filterTimer->setInterval(FilterDelayMs);
    connect(m_filterTimer, &QTimer::timeout, this, &frmHistory::refresh);
    connect(m_model, &HistoryTableModel::scanProgress, this, &frmHistory::showStatus);
    connect(m_model, &HistoryTableModel::scanFinished, this, &frmHistory::onScanFinished);
    connect(m_model, &HistoryTableModel::scanFailed, this, &frmHistory::onScanFailed);
    connect(m_reader, &HistoryReader::exportFinished, this, [this](const QString &file, const QString &error) {
        m_exporting = false;
        cmdExport->setEnabled(!m_model->scanRunning());
        lblStatus->setText(error.isEmpty() ? QStringLiteral("Exported to ") + QFileInfo(file).fileName()
                                           : QStringLiteral("Export failed: ") + error);
        emit exportFinished(file, error);
    });
    // The last seven days to begin with: today's visitors and the week's pattern at a glance.
    cboRange->setCurrentIndex(int(Preset::Last7Days));
    presetChosen();
}

frmHistory::~frmHistory() = default;

void frmHistory::buildWindow()
{
    cboRange = new QComboBox(this);
    cboRange->setObjectName(QStringLiteral("cboRange"));
    for (Preset preset : Presets)
        cboRange->addItem(HistoryRange::presetName(preset));
    dtpFrom = new QDateEdit(this);
    dtpFrom->setObjectName(QStringLiteral("dtpFrom"));
    dtpTo = new QDateEdit(this);
    dtpTo->setObjectName(QStringLiteral("dtpTo"));
    for (QDateEdit *edit : { dtpFrom, dtpTo }) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    }
    // "Everything" puts From at its earliest date, which then reads as what it means.
    dtpFrom->setSpecialValueText(FirstVisitText);
    txtFilter = new QLineEdit(this);
    txtFilter->setObjectName(QStringLiteral("txtFilter"));
    txtFilter->setPlaceholderText(QStringLiteral("page, address, country"));
    txtFilter->setClearButtonEnabled(true);
    txtFilter->setMaxLength(256);
    // Which visits: every kind, or one (the item's data is the VisitKind; none for every kind).
    cboKind = new QComboBox(this);
    cboKind->setObjectName(QStringLiteral("cboKind"));
    cboKind->addItem(QStringLiteral("All visits"));
    cboKind->addItem(QStringLiteral("Visitors"), int(VisitKind::Visit));
    cboKind->addItem(QStringLiteral("Crawlers"), int(VisitKind::Crawler));
    cboKind->addItem(QStringLiteral("Own visits"), int(VisitKind::Own));
    cboKind->addItem(QStringLiteral("Relayed visits"), int(VisitKind::Relayed));
    cmdRefresh = new QPushButton(QStringLiteral("Refresh"), this);
    cmdRefresh->setObjectName(QStringLiteral("cmdRefresh"));
    cmdRefresh->setToolTip(QStringLiteral("Read the history again"));
    cmdExport = new QPushButton(QStringLiteral("Export..."), this);
    cmdExport->setObjectName(QStringLiteral("cmdExport"));
    cmdExport->setToolTip(QStringLiteral("Save the shown visits as a CSV file"));

    auto *bar = new QHBoxLayout;
    bar->addWidget(buddyLabel(QStringLiteral("&Range:"), cboRange, this));
    bar->addWidget(cboRange);
    bar->addWidget(buddyLabel(QStringLiteral("F&rom:"), dtpFrom, this));
    bar->addWidget(dtpFrom);
    bar->addWidget(buddyLabel(QStringLiteral("&To:"), dtpTo, this));
    bar->addWidget(dtpTo);
    bar->addSpacing(12);
    bar->addWidget(buddyLabel(QStringLiteral("&Filter:"), txtFilter, this));
    bar->addWidget(txtFilter, 1);
    bar->addWidget(buddyLabel(QStringLiteral("S&how:"), cboKind, this));
    bar->addWidget(cboKind);
    bar->addWidget(cmdRefresh);
    bar->addWidget(cmdExport);

    tblVisits = new QTableView(this);
    tblVisits->setObjectName(QStringLiteral("tblVisits"));
    tblVisits->setAccessibleName(QStringLiteral("Visits"));
    tblVisits->setModel(m_model);
    tblVisits->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblVisits->setWordWrap(false);
    tblVisits->setTextElideMode(Qt::ElideRight);
    tblVisits->verticalHeader()->hide();
    // Fixed row heights: a million rows cost nothing to lay out.
    tblVisits->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tblVisits->verticalHeader()->setDefaultSectionSize(tblVisits->fontMetrics().height() + 6);
    tblVisits->horizontalHeader()->setStretchLastSection(false);
    const QFontMetrics metrics(tblVisits->font());
    tblVisits->setColumnWidth(HistoryTableModel::TimeColumn,
        metrics.horizontalAdvance(HistoryTableModel::timeText(QDateTime(QDate(2026, 12, 28), QTime(23, 59, 59)))) + 24);
    tblVisits->setColumnWidth(
        HistoryTableModel::IpColumn, metrics.horizontalAdvance(QStringLiteral("255.255.255.255")) + 24);
    tblVisits->setColumnWidth(
        HistoryTableModel::CountryColumn, metrics.horizontalAdvance(QStringLiteral("United Kingdom")) + 16);
    tblVisits->setColumnWidth(HistoryTableModel::TlsColumn, metrics.horizontalAdvance(QStringLiteral("TLS")) + 24);
    tblVisits->setColumnWidth(
        HistoryTableModel::KindColumn, metrics.horizontalAdvance(QStringLiteral("own visit")) + 24);
    tblVisits->setColumnWidth(HistoryTableModel::AgentColumn, metrics.horizontalAdvance(QStringLiteral("M")) * 16);
    tblVisits->horizontalHeader()->setSectionResizeMode(HistoryTableModel::PageColumn, QHeaderView::Stretch);

    chartVisits = new QChartView(this);
    chartVisits->setObjectName(QStringLiteral("chartVisits"));
    chartVisits->setAccessibleName(QStringLiteral("Visits chart"));
    chartVisits->setRenderHint(QPainter::Antialiasing);
    chartVisits->setMinimumSize(360, 220);
    lstTopPages = topList("lstTopPages", QStringLiteral("Top pages"), this);
    lstTopCountries = topList("lstTopCountries", QStringLiteral("Top countries"), this);

    auto *lower = new QWidget(this);
    auto *lowerLayout = new QHBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addWidget(chartVisits, 5);
    lowerLayout->addWidget(lstTopPages, 4);
    lowerLayout->addWidget(lstTopCountries, 2);

    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("splitter"));
    splitter->addWidget(tblVisits);
    splitter->addWidget(lower);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setChildrenCollapsible(false);

    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setTextFormat(Qt::PlainText);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(splitter, 1);
    layout->addWidget(lblStatus);
    // Roomy, but never larger than the screen's free area.
    QSize size(1040, 720);
    if (const QScreen *where = screen())
        size = size.boundedTo(where->availableGeometry().size() * 0.9);
    resize(size);

    connect(cboRange, &QComboBox::activated, this, &frmHistory::presetChosen);
    connect(dtpFrom, &QDateEdit::dateChanged, this, &frmHistory::datesEdited);
    connect(dtpTo, &QDateEdit::dateChanged, this, &frmHistory::datesEdited);
    connect(txtFilter, &QLineEdit::textChanged, m_filterTimer, qOverload<>(&QTimer::start));
    connect(cboKind, &QComboBox::activated, this, &frmHistory::refresh);
    connect(txtFilter, &QLineEdit::returnPressed, this, &frmHistory::refresh);
    connect(cmdRefresh, &QPushButton::clicked, this, &frmHistory::refresh);
    connect(cmdExport, &QPushButton::clicked, this, &frmHistory::exportClicked);
}

void frmHistory::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Shown again from the main window: the visits since then belong in it.
    if (!event->spontaneous() && !m_model->scanRunning())
        refresh();
}

HistoryFilter frmHistory::currentFilter() const
{
    const Preset preset = Presets[qBound(0, cboRange->currentIndex(), int(std::size(Presets)) - 1)];
    HistoryFilter filter;
    filter.range = HistoryRange::forPreset(preset, m_clock.currentDateTime(), dtpFrom->date(), dtpTo->date());
    filter.text = txtFilter->text().trimmed();
    if (const QVariant kind = cboKind->currentData(); kind.isValid())
        filter.kind = VisitKind(kind.toInt());
    return filter;
}

void frmHistory::presetChosen()
{
    const Preset preset = Presets[qBound(0, cboRange->currentIndex(), int(std::size(Presets)) - 1)];
    if (preset == Preset::Everything) {
        m_settingDates = true;
        dtpFrom->setDate(dtpFrom->minimumDate());
        dtpTo->setDate(m_clock.currentDateTime().date());
        m_settingDates = false;
    } else if (preset != Preset::Dates) {
        const HistoryRange range = HistoryRange::forPreset(preset, m_clock.currentDateTime());
        m_settingDates = true;
        dtpFrom->setDate(QDateTime::fromMSecsSinceEpoch(range.fromMs).date());
        dtpTo->setDate(QDateTime::fromMSecsSinceEpoch(range.toMs - 1).date());
        m_settingDates = false;
    }
    refresh();
}

void frmHistory::datesEdited()
{
    if (m_settingDates)
        return;
    cboRange->setCurrentIndex(int(Preset::Dates));
    m_filterTimer->start();
}

bool frmHistory::scanRunning() const
{
    return m_model->scanRunning();
}

void frmHistory::refresh()
{
    m_filterTimer->stop();
    m_failure.clear();
    m_model->startScan(currentFilter(), m_clock.currentDateTime());
    cmdExport->setEnabled(false);
    showStatus();
}

void frmHistory::fileReplaced()
{
    m_reader->reopen();
    refresh();
}

void frmHistory::showStatus()
{
    if (!m_failure.isEmpty()) {
        lblStatus->setText(QStringLiteral("History not available: ") + m_failure);
        return;
    }
    const QString count = QLocale().toString(qlonglong(m_model->rowCount()));
    if (m_model->scanRunning())
        lblStatus->setText(QStringLiteral("Reading the history\u2026 ") + count + QStringLiteral(" visits so far"));
    else
        lblStatus->setText(count + (m_model->rowCount() == 1 ? QStringLiteral(" visit") : QStringLiteral(" visits")));
}

void frmHistory::onScanFinished(const HistorySummary &summary)
{
    m_summary = summary;
    showStatus();
    showChart();
    showTopLists();
    cmdExport->setEnabled(!m_exporting);
    emit scanFinished();
}

void frmHistory::onScanFailed(const QString &reason, bool damaged)
{
    m_failure = reason;
    m_summary = HistorySummary();
    showStatus();
    showChart();
    showTopLists();
    if (damaged)
        emit damageFound();
    emit scanFinished();
}

void frmHistory::showChart()
{
    auto *chart = new QChart;
    chart->legend()->hide();
    chart->setMargins(QMargins(4, 4, 4, 4));
    const HistoryBuckets &buckets = m_summary.buckets;
    const QList<qint64> &counts = m_summary.perBucket;
    chart->setTitle(buckets.hourly ? QStringLiteral("Visits per hour") : QStringLiteral("Visits per day"));
    qint64 most = 0;
    for (qint64 n : counts)
        most = qMax(most, n);
    auto *axisY = new QValueAxis;
    axisY->setLabelFormat(QStringLiteral("%d"));
    axisY->setRange(0, qMax<qint64>(most, 4));
    axisY->applyNiceNumbers();
    if (axisY->max() < 10)
        axisY->setTickCount(int(axisY->max()) + 1);

    if (buckets.startsMs.size() <= MaxBarBuckets) {
        auto *set = new QBarSet(QStringLiteral("Visits"));
        QStringList labels;
        for (qsizetype i = 0; i < buckets.startsMs.size(); ++i) {
            const QDateTime start = QDateTime::fromMSecsSinceEpoch(buckets.startsMs[i]);
            *set << qreal(i < counts.size() ? counts[i] : 0);
            QString label = buckets.hourly ? start.toString(QStringLiteral("HH"))
                                           : QLocale().toString(start.date(), QStringLiteral("d MMM"));
            // Categories must differ: the hour that repeats when the clocks go back gets a mark.
            while (labels.contains(label))
                label += QChar(0x2032);
            labels << label;
        }
        auto *series = new QBarSeries;
        series->append(set);
        series->setBarWidth(0.8);
        chart->addSeries(series);
        auto *axisX = new QBarCategoryAxis;
        axisX->append(labels);
        // Many labels side by side would each be cut to "…": they stand upright, whole.
        if (labels.size() > 10) {
            axisX->setLabelsAngle(-90);
            axisX->setTruncateLabels(false);
        }
        chart->addAxis(axisX, Qt::AlignBottom);
        series->attachAxis(axisX);
        chart->addAxis(axisY, Qt::AlignLeft);
        series->attachAxis(axisY);
    } else {
        auto *upper = new QLineSeries;
        auto *lower = new QLineSeries;
        for (qsizetype i = 0; i < buckets.startsMs.size(); ++i) {
            const qreal x = qreal(buckets.startsMs[i]);
            upper->append(x, qreal(i < counts.size() ? counts[i] : 0));
            lower->append(x, 0);
        }
        auto *series = new QAreaSeries(upper, lower);
        chart->addSeries(series);
        auto *axisX = new QDateTimeAxis;
        axisX->setFormat(QStringLiteral("d MMM yy"));
        axisX->setTickCount(6);
        axisX->setRange(QDateTime::fromMSecsSinceEpoch(buckets.startsMs.front()),
            QDateTime::fromMSecsSinceEpoch(buckets.startsMs.back()));
        chart->addAxis(axisX, Qt::AlignBottom);
        series->attachAxis(axisX);
        chart->addAxis(axisY, Qt::AlignLeft);
        series->attachAxis(axisY);
    }
    QChart *old = chartVisits->chart();
    chartVisits->setChart(chart);
    delete old;
}

void frmHistory::showTopLists()
{
    const auto fill = [](QTreeWidget *list, const QList<HistoryCount> &counts) {
        list->clear();
        for (const HistoryCount &entry : counts) {
            QString text = entry.text.isEmpty() ? QStringLiteral("(unknown)") : entry.text;
            if (text.size() > HistoryTableModel::DisplayLimit)
                text.truncate(HistoryTableModel::DisplayLimit);
            auto *item = new QTreeWidgetItem(list, { text, QLocale().toString(entry.count) });
            item->setToolTip(0, text);
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        }
    };
    fill(lstTopPages, m_summary.topPages);
    fill(lstTopCountries, m_summary.topCountries);
}

void frmHistory::setNextFileName(const QString &fileName)
{
    g_nextFileName = fileName;
}

void frmHistory::exportClicked()
{
    if (m_model->scanRunning() || m_exporting)
        return;
    const auto chosen = [this](const QString &fileName) {
        if (fileName.isEmpty())
            return;
        if (!QFileInfo::exists(fileName)) {
            startExport(fileName);
            return;
        }
        MessageBox::show(this, QMessageBox::Question, QStringLiteral("File Exists"),
            QStringLiteral("File exists. Replace?"), QMessageBox::Yes | QMessageBox::No, QMessageBox::No,
            [this, fileName](QMessageBox::StandardButton answer) {
                if (answer == QMessageBox::Yes)
                    startExport(fileName);
            });
    };
    if (g_nextFileName) {
        const QString name = *g_nextFileName;
        g_nextFileName.reset();
        chosen(name);
        return;
    }
    auto *dialog = new QFileDialog(this, QStringLiteral("Export..."), QStringLiteral("visits.csv"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    dialog->setNameFilters({ QStringLiteral("CSV files (*.csv)"), QStringLiteral("All files (*)") });
    // The replace question is the program's own.
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    connect(dialog, &QFileDialog::fileSelected, this, chosen);
    dialog->open();
}

void frmHistory::startExport(const QString &fileName)
{
    m_exporting = true;
    cmdExport->setEnabled(false);
    lblStatus->setText(QStringLiteral("Exporting ") + QLocale().toString(qlonglong(m_model->rowCount()))
        + QStringLiteral(" visits\u2026"));
    m_reader->exportCsv(m_model->keys(), fileName);
}
