#include "alerts/frmSetNotifies.h"

#include "alerts/AlertIcons.h"
#include "alerts/AlsaMixer.h"
#include "alerts/Form1.h"
#include "alerts/Form2.h"
#include "alerts/PreviewPlay.h"
#include "alerts/SoundFileDialog.h"
#include "alerts/StartupEntry.h"
#include "alerts/frmTrayNotification.h"
#include "core/AddressRanges.h"
#include "core/SettingsStore.h"
#include "dialogs/MessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
const QString Title = QStringLiteral("Vistelle");

QLabel *heading(const QString &text, QWidget *parent, qreal scale = 1.0)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * scale);
    label->setFont(font);
    return label;
}

QPushButton *listButton(QWidget *parent, const char *name, const QString &text, const char *icon)
{
    auto *button = new QPushButton(AlertIcons::buttonIcon(icon), text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(text);
    return button;
}

// A label for a control, which also gives the control its accessible name (the label's words,
// or the fuller name given when the label alone would not say what the control is).
QLabel *labelFor(QWidget *control, const QString &text, const QString &accessibleName, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setBuddy(control);
    control->setAccessibleName(accessibleName);
    return label;
}

// A row of widgets, left-aligned.
QHBoxLayout *row(std::initializer_list<QWidget *> widgets)
{
    auto *layout = new QHBoxLayout;
    for (QWidget *widget : widgets)
        layout->addWidget(widget);
    layout->addStretch();
    return layout;
}

QFrame *separator(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}
} // namespace

frmSetNotifies::frmSetNotifies(Services services, QWidget *parent)
    : QWidget(parent)
    , m_services(std::move(services))
    , m_settings(m_services.settings ? m_services.settings : &SettingsStore::instance())
{
    if (!m_services.mixer)
        m_services.mixer = [] { return std::make_unique<AlsaMixer>(); };
    if (m_services.programPath.isNull())
        m_services.programPath = QCoreApplication::applicationFilePath();
    setObjectName(QStringLiteral("frmSetNotifies"));
    setWindowTitle(Title);
    setWindowFlag(Qt::Window);
    m_preview = new PreviewPlay(m_services.sound, this);
    connect(m_preview, &PreviewPlay::busyChanged, this, [this](bool busy) {
        if (busy)
            setCursor(Qt::BusyCursor);
        else
            unsetCursor();
    });
    buildWindow();
    LoadSoundRules();
}

frmSetNotifies::~frmSetNotifies() = default;

Form2 *frmSetNotifies::ruleWindow() const
{
    return m_form2;
}

Form1 *frmSetNotifies::volumeWindow() const
{
    return m_form1;
}

void frmSetNotifies::buildWindow()
{
    Check1 = new QCheckBox(QStringLiteral("Run on Startup"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    chkSound = new QCheckBox(QStringLiteral("Play sound on website visit"), this);
    chkSound->setObjectName(QStringLiteral("chkSound"));
    chkPopup = new QCheckBox(QStringLiteral("Display popup window on new site visits"), this);
    chkPopup->setObjectName(QStringLiteral("chkPopup"));

    auto *defaultLabel = new QLabel(QStringLiteral("Default Sound:"), this);
    txtDefaultSound = new QLineEdit(this);
    txtDefaultSound->setObjectName(QStringLiteral("txtDefaultSound"));
    defaultLabel->setBuddy(txtDefaultSound);
    txtDefaultSound->setAccessibleName(QStringLiteral("Default Sound"));
    Command1 = new QPushButton(QStringLiteral("..."), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setToolTip(QStringLiteral("Choose Default Sound"));
    Command1->setAccessibleName(QStringLiteral("Choose Default Sound"));
    Command1->setFixedWidth(Command1->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 24);

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("URL Specific Sounds"));
    ListView1->setColumnCount(2);
    ListView1->setHeaderLabels({ QStringLiteral("If URL Contains..."), QStringLiteral("Play Sound File...") });
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->header()->setStretchLastSection(true);
    ListView1->setColumnWidth(0, 200);

    Image4 = listButton(this, "Image4", QStringLiteral("Add New"), "list-add");
    Image5 = listButton(this, "Image5", QStringLiteral("Delete Current"), "list-remove");
    Image2 = listButton(this, "Image2", QStringLiteral("Play Current"), "media-playback-start");
    Image3 = listButton(this, "Image3", QStringLiteral("Master Volume"), "audio-volume-high");
    cmdNext = new QPushButton(QStringLiteral("OK"), this);
    cmdNext->setObjectName(QStringLiteral("cmdNext"));
    cmdNext->setDefault(true);

    // Toggled, not clicked: a screen reader's toggle action changes the box without a click.
    connect(Check1, &QCheckBox::toggled, this, &frmSetNotifies::Check1_Click);
    connect(Command1, &QPushButton::clicked, this, &frmSetNotifies::Command1_Click);
    connect(Image4, &QPushButton::clicked, this, &frmSetNotifies::Image4_Click);
    connect(Image5, &QPushButton::clicked, this, &frmSetNotifies::Image5_Click);
    connect(Image2, &QPushButton::clicked, this, &frmSetNotifies::Image2_Click);
    connect(Image3, &QPushButton::clicked, this, &frmSetNotifies::Image3_Click);
    connect(cmdNext, &QPushButton::clicked, this, &frmSetNotifies::SaveSoundRules);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading(QStringLiteral("Notification Settings"), this, 1.4));
    layout->addWidget(separator(this));

    layout->addWidget(heading(QStringLiteral("Audible Notification"), this));
    layout->addWidget(chkSound);
    auto *defaultRow = new QHBoxLayout;
    defaultRow->addWidget(defaultLabel);
    defaultRow->addWidget(txtDefaultSound, 1);
    defaultRow->addWidget(Command1);
    layout->addLayout(defaultRow);
    layout->addSpacing(6);

    layout->addWidget(heading(QStringLiteral("Tray Notification"), this));
    layout->addWidget(chkPopup);
    cboPopupStyle = new QComboBox(this);
    cboPopupStyle->setObjectName(QStringLiteral("cboPopupStyle"));
    cboPopupStyle->addItem(QStringLiteral("Vistelle popup"));
    cboPopupStyle->addItem(QStringLiteral("Desktop notification"));
    layout->addLayout(
        row({ labelFor(cboPopupStyle, QStringLiteral("Show &visits as:"), QStringLiteral("Show visits as"), this),
            cboPopupStyle }));
    // Where the desktop offers neither an X11 tray nor StatusNotifierItem, the user should know
    // why the program keeps an ordinary window.
    lblNoTray = new QLabel(QStringLiteral("This desktop has no tray: Vistelle shows its main window instead."), this);
    lblNoTray->setObjectName(QStringLiteral("lblNoTray"));
    lblNoTray->setWordWrap(true);
    lblNoTray->setVisible(!QSystemTrayIcon::isSystemTrayAvailable());
    layout->addWidget(lblNoTray);
    layout->addSpacing(6);

    layout->addWidget(heading(QStringLiteral("Busy Sites and Quiet Hours"), this));
    spinAlertBurst = new QSpinBox(this);
    spinAlertBurst->setObjectName(QStringLiteral("spinAlertBurst"));
    spinAlertBurst->setRange(1, 1000);
    spinAlertWindow = new QSpinBox(this);
    spinAlertWindow->setObjectName(QStringLiteral("spinAlertWindow"));
    spinAlertWindow->setRange(1, 3600);
    spinAlertWindow->setSuffix(QStringLiteral(" s"));
    layout->addLayout(row({ labelFor(spinAlertBurst, QStringLiteral("Summarise more than"),
                                QStringLiteral("Summarise more than visits"), this),
        spinAlertBurst,
        labelFor(spinAlertWindow, QStringLiteral("visits within"), QStringLiteral("Visits within seconds"), this),
        spinAlertWindow }));
    chkQuiet = new QCheckBox(QStringLiteral("Quiet hours from"), this);
    chkQuiet->setObjectName(QStringLiteral("chkQuiet"));
    timeQuietFrom = new QTimeEdit(this);
    timeQuietFrom->setObjectName(QStringLiteral("timeQuietFrom"));
    timeQuietFrom->setDisplayFormat(QStringLiteral("HH:mm"));
    timeQuietFrom->setAccessibleName(QStringLiteral("Quiet hours from"));
    timeQuietTo = new QTimeEdit(this);
    timeQuietTo->setObjectName(QStringLiteral("timeQuietTo"));
    timeQuietTo->setDisplayFormat(QStringLiteral("HH:mm"));
    QLabel *toLabel = labelFor(timeQuietTo, QStringLiteral("to"), QStringLiteral("Quiet hours to"), this);
    chkQuietPopups = new QCheckBox(QStringLiteral("Popups too"), this);
    chkQuietPopups->setObjectName(QStringLiteral("chkQuietPopups"));
    const auto quietEnabled = [this](bool on) {
        for (QWidget *w : std::initializer_list<QWidget *> { timeQuietFrom, timeQuietTo, chkQuietPopups })
            w->setEnabled(on);
    };
    connect(chkQuiet, &QCheckBox::toggled, this, quietEnabled);
    quietEnabled(false);
    layout->addLayout(row({ chkQuiet, timeQuietFrom, toLabel, timeQuietTo, chkQuietPopups }));
    layout->addSpacing(6);

    layout->addWidget(heading(QStringLiteral("Own Visits and Crawlers"), this));
    txtIgnoreAddresses = new QLineEdit(this);
    txtIgnoreAddresses->setObjectName(QStringLiteral("txtIgnoreAddresses"));
    txtIgnoreAddresses->setMaxLength(4096);
    txtIgnoreAddresses->setPlaceholderText(QStringLiteral("e.g. 203.0.113.7, 2001:db8:1::/64"));
    txtIgnoreAddresses->setToolTip(QStringLiteral(
        "Visits from this PC's public address and from these addresses and ranges are your own: no popup, no sound"));
    auto *ignoreRow = new QHBoxLayout;
    ignoreRow->addWidget(
        labelFor(txtIgnoreAddresses, QStringLiteral("&Also my addresses:"), QStringLiteral("Also my addresses"), this));
    ignoreRow->addWidget(txtIgnoreAddresses, 1);
    layout->addLayout(ignoreRow);
    chkHideOwnVisits = new QCheckBox(QStringLiteral("Leave my own visits out of the list"), this);
    chkHideOwnVisits->setObjectName(QStringLiteral("chkHideOwnVisits"));
    chkCrawlerAlerts = new QCheckBox(QStringLiteral("Announce crawlers like visitors"), this);
    chkCrawlerAlerts->setObjectName(QStringLiteral("chkCrawlerAlerts"));
    layout->addLayout(row({ chkHideOwnVisits, chkCrawlerAlerts }));
    layout->addSpacing(6);

    layout->addWidget(heading(QStringLiteral("URL Specific Sounds"), this));
    layout->addWidget(ListView1, 1);
    auto *listButtons = new QHBoxLayout;
    listButtons->addWidget(Image4);
    listButtons->addWidget(Image5);
    listButtons->addWidget(Image2);
    listButtons->addStretch();
    listButtons->addWidget(Image3);
    layout->addLayout(listButtons);
    layout->addWidget(separator(this));

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(Check1);
    bottom->addStretch();
    bottom->addWidget(cmdNext);
    layout->addLayout(bottom);
    resize(560, 600);
}

void frmSetNotifies::LoadSoundRules()
{
    ListView1->clear();
    if (!StartupEntry::read().isEmpty()) {
        // Ticking the box here counts as a click: the entry is written again with the current path.
        {
            const QSignalBlocker blocker(Check1);
            Check1->setChecked(true);
        }
        Check1_Click();
    } else {
        const QSignalBlocker blocker(Check1);
        Check1->setChecked(false);
    }
    move(0, 0);

    const NotifySettings settings = SoundRules::LoadSoundRules(*m_settings, frmTrayNotification::canBePlaced());
    chkPopup->setChecked(settings.popupAlert);
    chkSound->setChecked(settings.soundAlert);
    txtDefaultSound->setText(settings.defaultSound);
    spinAlertBurst->setValue(settings.alertBurst);
    spinAlertWindow->setValue(settings.alertWindowSeconds);
    const QTime from = QTime::fromString(settings.quietFrom, QStringLiteral("H:mm"));
    const QTime to = QTime::fromString(settings.quietTo, QStringLiteral("H:mm"));
    chkQuiet->setChecked(from.isValid() && to.isValid());
    timeQuietFrom->setTime(from.isValid() ? from : QTime(22, 0));
    timeQuietTo->setTime(to.isValid() ? to : QTime(7, 0));
    chkQuietPopups->setChecked(settings.quietPopups);
    txtIgnoreAddresses->setText(settings.ignoreAddresses);
    chkHideOwnVisits->setChecked(settings.hideOwnVisits);
    chkCrawlerAlerts->setChecked(settings.crawlerAlerts);
    cboPopupStyle->setCurrentIndex(settings.popupStyle == PopupStyle::Notification ? 1 : 0);
    for (const UrlSoundRule &r : settings.rules)
        appendRule(r);
    refreshListButtons();
}

void frmSetNotifies::SaveSoundRules()
{
    QStringList rejected;
    AddressRanges::parse(txtIgnoreAddresses->text(), &rejected);
    if (!rejected.isEmpty()) {
        QPointer<QLineEdit> box = txtIgnoreAddresses;
        MessageBox::information(this, Title,
            QStringLiteral("Not an address or a range (like 192.0.2.0/24): ") + rejected.first(), [box](auto) {
                if (box)
                    box->setFocus();
            });
        return;
    }
    SoundRules::SaveSoundRules(*m_settings, workingCopy());
    emit mainWindowRequested();
    close();
}

NotifySettings frmSetNotifies::workingCopy() const
{
    NotifySettings settings;
    settings.soundAlert = chkSound->isChecked();
    settings.popupAlert = chkPopup->isChecked();
    settings.defaultSound = txtDefaultSound->text();
    settings.alertBurst = spinAlertBurst->value();
    settings.alertWindowSeconds = spinAlertWindow->value();
    if (chkQuiet->isChecked()) {
        settings.quietFrom = timeQuietFrom->time().toString(QStringLiteral("HH:mm"));
        settings.quietTo = timeQuietTo->time().toString(QStringLiteral("HH:mm"));
    }
    settings.quietPopups = chkQuietPopups->isChecked();
    settings.ignoreAddresses = txtIgnoreAddresses->text().trimmed();
    settings.hideOwnVisits = chkHideOwnVisits->isChecked();
    settings.crawlerAlerts = chkCrawlerAlerts->isChecked();
    settings.popupStyle = cboPopupStyle->currentIndex() == 1 ? PopupStyle::Notification : PopupStyle::Popup;
    for (int row = 0; row < ruleCount(); ++row)
        settings.rules.append(rule(row));
    return settings;
}

int frmSetNotifies::ruleCount() const
{
    return ListView1->topLevelItemCount();
}

std::optional<int> frmSetNotifies::selectedRow() const
{
    const QList<QTreeWidgetItem *> selected = ListView1->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return ListView1->indexOfTopLevelItem(selected.first());
}

UrlSoundRule frmSetNotifies::rule(int row) const
{
    const QTreeWidgetItem *item = ListView1->topLevelItem(row);
    if (!item)
        return {};
    return { item->data(0, Qt::UserRole).toString(), item->data(1, Qt::UserRole).toString() };
}

void frmSetNotifies::setRule(int row, const UrlSoundRule &r)
{
    QTreeWidgetItem *item = ListView1->topLevelItem(row);
    if (!item)
        return;
    // The exact texts are kept beside the shown ones: a Contains text's blanks matter.
    item->setData(0, Qt::UserRole, r.contains);
    item->setData(1, Qt::UserRole, r.soundFile);
    item->setText(0, r.contains);
    item->setText(1, r.soundFile);
    item->setToolTip(0, r.contains);
    item->setToolTip(1, r.soundFile);
}

void frmSetNotifies::appendRule(const UrlSoundRule &r)
{
    auto *item = new QTreeWidgetItem(ListView1);
    setRule(ListView1->indexOfTopLevelItem(item), r);
    // As in a list view, a list with rules has a selected rule until the user clears it.
    if (ListView1->selectedItems().isEmpty()) {
        ListView1->setCurrentItem(item);
        item->setSelected(true);
    }
}

QString frmSetNotifies::selectedSoundFile() const
{
    const std::optional<int> row = selectedRow();
    return row ? rule(*row).soundFile : QString();
}

void frmSetNotifies::setListButtonsEnabled(bool enabled)
{
    Image2->setEnabled(enabled);
    Image3->setEnabled(enabled);
    Image5->setEnabled(enabled);
}

void frmSetNotifies::refreshListButtons()
{
    setListButtonsEnabled(ruleCount() > 0);
}

void frmSetNotifies::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        refreshListButtons();
    QWidget::changeEvent(event);
}

void frmSetNotifies::showEvent(QShowEvent *event)
{
    refreshListButtons();
    QWidget::showEvent(event);
}

void frmSetNotifies::Check1_Click()
{
    // Applied at once. The box shows whether there is an entry: one that could not be written
    // (or removed) puts the box back.
    const QSignalBlocker blocker(Check1);
    if (Check1->isChecked()) {
        if (!StartupEntry::write(m_services.programPath))
            Check1->setChecked(false);
    } else if (!StartupEntry::remove()) {
        Check1->setChecked(true);
    }
}

void frmSetNotifies::Command1_Click()
{
    QPointer<frmSetNotifies> self(this);
    SoundFileDialog::open(this, QStringLiteral("Choose Default Sound"), [self](const QString &fileName) {
        if (self && !fileName.isEmpty())
            self->txtDefaultSound->setText(fileName);
    });
}

void frmSetNotifies::Image4_Click()
{
    if (!m_form2)
        m_form2 = new Form2(*this);
    m_form2->open();
}

void frmSetNotifies::Image5_Click()
{
    if (ruleCount() == 0) {
        MessageBox::information(this, Title, QStringLiteral("No items"));
        return;
    }
    if (const std::optional<int> row = selectedRow())
        delete ListView1->takeTopLevelItem(*row);
    if (ruleCount() == 0)
        setListButtonsEnabled(false);
}

void frmSetNotifies::Image2_Click()
{
    const std::optional<int> row = selectedRow();
    if (!row) {
        MessageBox::information(this, Title, QStringLiteral("No items selected"));
        return;
    }
    if (ruleCount() == 0) {
        MessageBox::information(this, Title, QStringLiteral("No items in list"));
        return;
    }
    m_preview->start(rule(*row).soundFile);
}

void frmSetNotifies::Image3_Click()
{
    if (m_form1)
        return;
    m_form1 = new Form1(
        m_services.mixer(), m_services.sound, [this] { return selectedSoundFile(); }, this);
    m_form1->open();
    m_form1->load();
}

void frmSetNotifies::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
