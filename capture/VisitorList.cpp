#include "capture/VisitorList.h"

#include "core/PlainText.h"
#include "dialogs/MessageBox.h"
#include "nettools/Class1.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFutureWatcher>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

std::optional<QString> g_nextFileName;

const QString &programTitle()
{
    static const QString title = QStringLiteral("Vistelle");
    return title;
}

QToolButton *makeIcon(QWidget *parent, const QString &name, const QString &toolTip, const QString &themeIcon)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip); // an icon button is named by its tool tip
    button->setIcon(QIcon::fromTheme(themeIcon));
    button->setAutoRaise(true);
    return button;
}

QLabel *makeLabel(QWidget *parent, const QString &name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

VisitorListWidgets VisitorListWidgets::create(QWidget *parent)
{
    VisitorListWidgets w;
    w.iGrid1 = new QTableView(parent);
    w.iGrid1->setObjectName(QStringLiteral("iGrid1"));
    w.panel1 = makeLabel(parent, QStringLiteral("StatusBar1Panel1"));
    w.panel2 = makeLabel(parent, QStringLiteral("StatusBar1Panel2"));
    w.panel3 = makeLabel(parent, QStringLiteral("StatusBar1Panel3"));
    w.panel4 = makeLabel(parent, QStringLiteral("StatusBar1Panel4"));
    w.panel4->hide();
    w.Label6 = makeLabel(parent, QStringLiteral("Label6"));
    w.Image3 = makeIcon(parent, QStringLiteral("Image3"), QStringLiteral("Save List"), QStringLiteral("document-save"));
    w.Image7 = makeIcon(parent, QStringLiteral("Image7"), QStringLiteral("Clear List"), QStringLiteral("edit-clear"));
    w.Image8 = makeIcon(parent, QStringLiteral("Image8"), QStringLiteral("Load List"), QStringLiteral("document-open"));
    return w;
}

namespace {
class SystemResolver final : public IHostNameResolver
{
public:
    QString AddressToName(const QString &address) override { return Class1().AddressToName(address); }
};
} // namespace

VisitorList::VisitorList(const Widgets &widgets, Services services, VisitorListModel *model, QObject *parent)
    : QObject(parent)
    , m_widgets(widgets)
    , m_connection(services.connection ? services.connection : std::make_shared<RouteConnectionState>())
    , m_resolver(services.resolver ? services.resolver : std::make_shared<SystemResolver>())
    , m_limits(services.limits)
    , m_model(model ? model : new VisitorListModel(this))
{
    for (QLabel *label : { m_widgets.panel1, m_widgets.panel2, m_widgets.panel3, m_widgets.panel4, m_widgets.Label6 }) {
        if (label)
            label->setTextFormat(Qt::PlainText);
    }
    setPanels(QStringLiteral("Page requests:"), QStringLiteral("Unique IP's:"), QStringLiteral("Unique pages:"));

    if (QTableView *view = m_widgets.iGrid1) {
        view->setModel(m_model);
        view->setSelectionBehavior(QAbstractItemView::SelectItems);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setWordWrap(false);
        view->setTextElideMode(Qt::ElideRight);
        view->setSortingEnabled(false);
        view->setCornerButtonEnabled(false);
        // Uniform, fixed row heights: the view never measures rows, so 100,000 rows scroll and
        // grow as smoothly as ten.
        QHeaderView *rows = view->verticalHeader();
        rows->setSectionResizeMode(QHeaderView::Fixed);
        rows->setDefaultSectionSize(view->fontMetrics().height() + 6);
        rows->hide();
        rows->setHighlightSections(false); // nothing to highlight in a hidden header
        QHeaderView *columns = view->horizontalHeader();
        columns->setSectionResizeMode(QHeaderView::Interactive);
        columns->setStretchLastSection(true);
        columns->setHighlightSections(false);
        columns->resizeSection(VisitorListModel::TimeColumn, 130);
        columns->resizeSection(VisitorListModel::IpColumn, 90);
        columns->resizeSection(VisitorListModel::UrlColumn, 490);
        connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this, &VisitorList::onCurrentChanged);
        connect(m_model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { fitAddressColumn(first, last); });
        connect(
            m_model, &QAbstractItemModel::modelReset, this, [this] { fitAddressColumn(0, m_model->rowCount() - 1); });
        // The country is added to a row after it was listed.
        connect(m_model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                if (topLeft.column() <= VisitorListModel::IpColumn
                    && bottomRight.column() >= VisitorListModel::IpColumn)
                    fitAddressColumn(topLeft.row(), bottomRight.row());
            });
    }
    if (m_widgets.Image3)
        connect(m_widgets.Image3, &QToolButton::clicked, this, &VisitorList::saveList);
    if (m_widgets.Image7)
        connect(m_widgets.Image7, &QToolButton::clicked, this, &VisitorList::clearList);
    if (m_widgets.Image8)
        connect(m_widgets.Image8, &QToolButton::clicked, this, &VisitorList::loadList);
}

VisitorList::~VisitorList()
{
    if (m_lookupRunning) {
        if (QWidget *w = window())
            w->unsetCursor();
    }
}

void VisitorList::fitAddressColumn(int firstRow, int lastRow)
{
    QTableView *view = m_widgets.iGrid1;
    if (!view)
        return;
    QHeaderView *columns = view->horizontalHeader();
    const int current = columns->sectionSize(VisitorListModel::IpColumn);
    const int most = std::max(current, view->viewport()->width() / 2);
    const QFontMetrics metrics(view->font());
    // An IPv4 address and a country name fit already: only longer texts are measured.
    const qsizetype fitsAlready = current / std::max(1, metrics.maxWidth());
    int needed = current;
    for (int row = std::max(0, firstRow); row <= lastRow && needed < most; ++row) {
        const QString text = m_model->index(row, VisitorListModel::IpColumn).data().toString();
        if (text.size() > fitsAlready)
            needed = std::max(needed, metrics.horizontalAdvance(text) + 16);
    }
    if (needed > current)
        columns->resizeSection(VisitorListModel::IpColumn, std::min(needed, most));
}

QWidget *VisitorList::window() const
{
    return m_widgets.iGrid1 ? m_widgets.iGrid1->window() : nullptr;
}

void VisitorList::setNextFileName(const QString &fileName)
{
    g_nextFileName = fileName;
}

void VisitorList::setPanels(const QString &one, const QString &two, const QString &three)
{
    if (m_widgets.panel1 && !one.isNull())
        m_widgets.panel1->setText(one);
    if (m_widgets.panel2 && !two.isNull())
        m_widgets.panel2->setText(two);
    if (m_widgets.panel3 && !three.isNull())
        m_widgets.panel3->setText(three);
}

void VisitorList::showCounted(const VisitorListModel::Counted &counted, bool visit)
{
    setPanels(QStringLiteral("Page requests: ") + QString::number(m_model->requestCount()),
        counted.newAddress ? QStringLiteral("Unique IP's: ") + QString::number(m_model->uniqueAddressCount())
                           : QString(),
        counted.newPage ? (visit ? QStringLiteral("Unique pages:  ") : QStringLiteral("Unique pages: "))
                + QString::number(m_model->uniquePageCount())
                        : QString());
    if (m_widgets.panel4 && m_model->ownVisitCount() > 0) {
        m_widgets.panel4->setText(QStringLiteral("Own visits: ") + QString::number(m_model->ownVisitCount()));
        m_widgets.panel4->show();
    }
}

int VisitorList::addVisit(const QDateTime &when, const QString &VisitorIP, const QString &VisitPage, VisitKind kind)
{
    const VisitorListModel::Counted counted = m_model->addVisit(when, VisitorIP, VisitPage, kind);
    showVisit(counted.newAddress, counted.newPage);
    return m_model->rowCount() - 1;
}

void VisitorList::showVisit(bool newAddress, bool newPage)
{
    showCounted({ newAddress, newPage }, true);
    makeNewestRowCurrent();
}

void VisitorList::appendCountry(int row, const QString &country)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    m_model->setAddressText(row, m_model->row(row).ip + u' ' + country);
}

void VisitorList::makeNewestRowCurrent()
{
    // Once per turn of the event loop, not once per visit: making a row current right after a row
    // was added makes the view reposition every row (a pass over up to 100,000), and a burst of
    // visits must not move the viewport thousands of times either.
    if (m_currentPending || !m_widgets.iGrid1)
        return;
    m_currentPending = true;
    QTimer::singleShot(0, this, [this] {
        m_currentPending = false;
        QTableView *view = m_widgets.iGrid1;
        if (!view || m_model->rowCount() == 0)
            return;
        const QModelIndex current = view->currentIndex();
        const int column = current.isValid() ? current.column() : 0;
        m_settingCurrent = true;
        const bool autoScroll = view->hasAutoScroll();
        view->setAutoScroll(false);
        view->setCurrentIndex(m_model->index(m_model->rowCount() - 1, column));
        view->setAutoScroll(autoScroll);
        m_settingCurrent = false;
        view->scrollTo(view->currentIndex());
    });
}

void VisitorList::refreshcounters(const QString &VisitorIP, const QString &Page)
{
    showCounted(m_model->count(VisitorIP, Page), false);
}

void VisitorList::clearList()
{
    m_model->clear();
    setPanels(QStringLiteral("Page requests:"), QStringLiteral("Unique IP's:"), QStringLiteral("Unique pages:"));
    if (m_widgets.panel4)
        m_widgets.panel4->hide();
}

void VisitorList::askFileName(DialogKind kind, std::function<void(const QString &)> onName)
{
    if (g_nextFileName) {
        const QString name = *g_nextFileName;
        g_nextFileName.reset();
        onName(name);
        return;
    }
    auto *dialog = new QFileDialog(window(), m_dialogTitle);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setNameFilters({ QStringLiteral("Visitor lists (*.csv *.txt)"), QStringLiteral("All files (*)") });
    if (kind == DialogKind::Save) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        // The replace question is the program's own.
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    connect(
        dialog, &QFileDialog::fileSelected, this, [onName = std::move(onName)](const QString &file) { onName(file); });
    dialog->open();
}

void VisitorList::saveList()
{
    m_dialogTitle = QStringLiteral("Save List");
    if (m_model->rowCount() == 0) {
        MessageBox::show(window(), QMessageBox::Information, programTitle(), QStringLiteral("Nothing to save"));
        return;
    }
    askFileName(DialogKind::Save, [this](const QString &fileName) {
        if (fileName.isEmpty())
            return;
        if (!QFileInfo::exists(fileName)) {
            writeList(fileName);
            return;
        }
        MessageBox::show(window(), QMessageBox::Question, QStringLiteral("File Exists"),
            QStringLiteral("File exists. Replace?"), QMessageBox::Yes | QMessageBox::No, QMessageBox::No,
            [this, fileName](QMessageBox::StandardButton answer) {
                if (answer == QMessageBox::Yes)
                    writeList(fileName);
            });
    });
}

void VisitorList::writeList(const QString &fileName)
{
    if (m_model->saveToFile(fileName))
        emit listSaved(fileName);
}

void VisitorList::loadList()
{
    m_dialogTitle = QStringLiteral("Load List");
    askFileName(DialogKind::Load, [this](const QString &fileName) {
        if (!fileName.isEmpty())
            readList(fileName);
    });
}

void VisitorList::readList(const QString &fileName)
{
    ++m_loadsRunning;
    auto *watcher = new QFutureWatcher<VisitorListModel::ReadResult>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        m_feed.push_back({ watcher->result(), 0 });
        watcher->deleteLater();
        if (m_feed.size() == 1)
            feedRows();
    });
    watcher->setFuture(QtConcurrent::run(&VisitorListModel::readFile, fileName, m_limits));
}

void VisitorList::feedRows()
{
    QElapsedTimer turn;
    turn.start();
    while (!m_feed.empty()) {
        PendingLoad &load = m_feed.front();
        const QList<VisitorListModel::Row> &rows = load.result.rows;
        VisitorListModel::Counted any;
        while (load.next < rows.size() && turn.elapsed() < LoadSliceMs) {
            const qsizetype count = qMin<qsizetype>(LoadSliceRows, rows.size() - load.next);
            const VisitorListModel::Counted counted = m_model->appendAndCount(rows, load.next, count);
            any.newAddress = any.newAddress || counted.newAddress;
            any.newPage = any.newPage || counted.newPage;
            load.next += count;
        }
        if (!rows.isEmpty())
            showCounted(any, false);
        if (load.next < rows.size()) {
            // The rest follows in later turns of the event loop, so the window stays responsive.
            QTimer::singleShot(0, this, &VisitorList::feedRows);
            return;
        }
        const bool complete = load.result.complete;
        const int added = int(rows.size());
        m_feed.pop_front();
        --m_loadsRunning;
        if (complete)
            setPanels(
                QStringLiteral(" Page requests: ") + QString::number(m_model->requestCount()), QString(), QString());
        emit listLoaded(added);
    }
}

void VisitorList::onCurrentChanged()
{
    if (!m_settingCurrent)
        showSelectedHostName();
}

void VisitorList::showSelectedHostName()
{
    if (!m_widgets.iGrid1 || !m_connection->query().online)
        return;
    const QModelIndex current = m_widgets.iGrid1->currentIndex();
    if (!current.isValid() || current.column() != VisitorListModel::IpColumn) {
        if (!m_lookupRunning && window())
            window()->unsetCursor();
        return;
    }
    QString address = m_model->cellText(current.row(), VisitorListModel::IpColumn);
    const qsizetype blank = address.indexOf(u' ');
    if (blank >= 0)
        address = address.left(blank).trimmed();
    if (QWidget *w = window())
        w->setCursor(Qt::BusyCursor);
    if (m_lookupRunning) {
        m_pendingAddress = address; // looked up when the running lookup ends
        return;
    }
    startLookup(address);
}

void VisitorList::startLookup(const QString &address)
{
    m_lookupRunning = true;
    auto *watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        const QString name = watcher->result();
        watcher->deleteLater();
        finishLookup(name);
    });
    watcher->setFuture(
        QtConcurrent::run([resolver = m_resolver, address] { return resolver->AddressToName(address); }));
}

void VisitorList::finishLookup(const QString &name)
{
    m_lookupRunning = false;
    if (m_pendingAddress) {
        // The user chose another address meanwhile: only its name is shown.
        const QString next = *m_pendingAddress;
        m_pendingAddress.reset();
        startLookup(next);
        return;
    }
    const QString text = name.isEmpty() ? QStringLiteral("IP: Can't Resolve") : PlainText::page(name);
    if (m_widgets.Label6)
        m_widgets.Label6->setText(text);
    if (QWidget *w = window())
        w->unsetCursor();
    emit hostNameShown(text);
}
