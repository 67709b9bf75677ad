#pragma once

#include "capture/VisitProcessor.h"

#include "capture/VisitorListModel.h"
#include "core/ConnectionState.h"

#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QTableView;
class QToolButton;
class QWidget;

// The widgets of the main window that show the visitor list. The main window owns them and
// places them; create() makes a set with the right object names and tool tips.
struct VisitorListWidgets
{
    QTableView *iGrid1 = nullptr;
    QLabel *panel1 = nullptr; // StatusBar1 panel 1: page requests
    QLabel *panel2 = nullptr; // StatusBar1 panel 2: unique addresses
    QLabel *panel3 = nullptr; // StatusBar1 panel 3: unique pages
    QLabel *panel4 = nullptr; // StatusBar1 panel 4: the owner's own visits (hidden until one comes)
    QLabel *Label6 = nullptr; // host name of the selected visitor
    QToolButton *Image3 = nullptr; // "Save List"
    QToolButton *Image7 = nullptr; // "Clear List"
    QToolButton *Image8 = nullptr; // "Load List"

    static VisitorListWidgets create(QWidget *parent);
};

// Address to host name for Label6. Called on a worker thread.
class IHostNameResolver
{
public:
    virtual ~IHostNameResolver() = default;
    virtual QString AddressToName(const QString &address) = 0;
};

struct VisitorListServices
{
    std::shared_ptr<ConnectionState> connection; // null: the Linux route query
    std::shared_ptr<IHostNameResolver> resolver; // null: the system's resolver (Class1)
    VisitorListLimits limits;
};

// Runs the visitor list of the main window: the table view on its model, the three counters in
// the status panels, save, load and clear, and the host name of a selected address in Label6.
//
// Nothing here waits: file dialogs and message boxes answer through callbacks, a list file is
// read on a worker thread, and the reverse lookup for Label6 runs on a worker thread while the
// window shows the busy pointer. All methods are for the user-interface thread.
class VisitorList final : public QObject, public IVisitList
{
    Q_OBJECT
public:
    using Widgets = VisitorListWidgets;
    using Services = VisitorListServices;

    // model: the engine's list; null: a list of the view's own.
    explicit VisitorList(
        const Widgets &widgets, Services services = {}, VisitorListModel *model = nullptr, QObject *parent = nullptr);
    ~VisitorList() override;

    VisitorListModel &model() { return *m_model; }
    int rowCount() const { return m_model->rowCount(); }

    // A counted visit: appends its row at the bottom, sets panel 1 to "Page requests: " and the
    // row count, panel 2 to "Unique IP's: " and panel 3 to "Unique pages:  " (two blanks) and
    // their counts when the address or the page is new, and makes the new row current.
    // Returns the new row (0-based).
    int addVisit(const QDateTime &when, const QString &VisitorIP, const QString &VisitPage,
        VisitKind kind = VisitKind::Visit) override;
    // The address cell of a row becomes its old text, a blank and the country name.
    void appendCountry(int row, const QString &country) override;
    // The engine listed a visit (the newest row): the panels as for addVisit, and the new row
    // becomes current.
    void showVisit(bool newAddress, bool newPage);
    // Makes the newest row the current row (keeping the current column) and scrolls to it, when
    // the event loop next turns: once for all the visits of one turn.
    void makeNewestRowCurrent() override;

    // Counts one loaded row: panel 1 "Page requests: " and the row count; List1/List2 as for a
    // visit, with "Unique IP's: " and "Unique pages: " (one blank).
    void refreshcounters(const QString &VisitorIP, const QString &Page);

    // The three icons.
    void saveList();
    void loadList();
    void clearList();

    // The grid's cell event: the host name of the current address cell into Label6.
    void showSelectedHostName();

    bool lookupRunning() const { return m_lookupRunning; }
    bool loadRunning() const { return m_loadsRunning > 0; }
    QString lastDialogTitle() const { return m_dialogTitle; }

    // Test hook: the next file dialog takes this name at once without showing anything (the
    // empty text stands for a cancelled dialog).
    static void setNextFileName(const QString &fileName);

signals:
    void listSaved(const QString &fileName);
    // A load finished (also when it stopped early or the file could not be read).
    void listLoaded(int rowsAdded);
    // Label6 received a host name (or "IP: Can't Resolve").
    void hostNameShown(const QString &text);

private:
    enum class DialogKind { Save, Load };
    void askFileName(DialogKind kind, std::function<void(const QString &)> onName);
    void writeList(const QString &fileName);
    void readList(const QString &fileName);
    void feedRows();
    void showCounted(const VisitorListModel::Counted &counted, bool visit);
    void setPanels(const QString &one, const QString &two, const QString &three);
    void onCurrentChanged();
    // Widens the address column for rows whose address and country do not fit (long IPv6
    // addresses), up to half the list's width.
    void fitAddressColumn(int firstRow, int lastRow);
    void startLookup(const QString &address);
    void finishLookup(const QString &name);
    QWidget *window() const;

    Widgets m_widgets;
    std::shared_ptr<ConnectionState> m_connection;
    std::shared_ptr<IHostNameResolver> m_resolver;
    VisitorListLimits m_limits;
    VisitorListModel *m_model = nullptr;

    // Loaded rows reach the model in slices, one per turn of the event loop, each taking about
    // LoadSliceMs, so loading two million rows never freezes the window.
    static constexpr qint64 LoadSliceMs = 25;
    static constexpr qsizetype LoadSliceRows = 512; // rows between looks at the clock
    struct PendingLoad
    {
        VisitorListModel::ReadResult result;
        qsizetype next = 0; // first row not yet in the model
    };
    std::deque<PendingLoad> m_feed; // read, waiting for the model, in reading order

    QString m_dialogTitle;
    int m_loadsRunning = 0;
    bool m_settingCurrent = false;
    bool m_currentPending = false;
    bool m_lookupRunning = false;
    std::optional<QString> m_pendingAddress;
};
