#pragma once

#include "alerts/Mixer.h"
#include "alerts/SoundRules.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class Form1;
class Form2;
class PreviewPlay;
class QCheckBox;
class QLabel;
class QSpinBox;
class QTimeEdit;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class SettingsStore;
class SoundOutput;

// What the notification windows work with. Tests replace the store, the sound and the mixer.
struct NotifyWindowServices
{
    SettingsStore *settings = nullptr; // null: the program's store
    SoundOutput *sound = nullptr; // null: previews play nothing
    MixerFactory mixer; // null: ALSA's simple mixer
    QString programPath; // what the start-up entry starts; null: the running program
};

// The notification settings window: sound and popup switches, the default sound, the page rules
// and the start-at-login option. The rule list is a working copy: Form2 edits it, OK stores it
// with the switches, any other way of closing drops it (the start-up entry aside, which the box
// applies at once). Made afresh, and so loaded from the store, for each opening.
class frmSetNotifies final : public QWidget
{
    Q_OBJECT
public:
    using Services = NotifyWindowServices;

    explicit frmSetNotifies(Services services = {}, QWidget *parent = nullptr);
    ~frmSetNotifies() override;

    // The window's loading: the start-up entry, the place, the switches, the default sound and
    // the rules from the store.
    void LoadSoundRules();
    // OK: stores the working copy and the switches, asks for the main window, closes.
    void SaveSoundRules();

    // The working copy, as Form2 and Form1 use it.
    int ruleCount() const;
    std::optional<int> selectedRow() const;
    UrlSoundRule rule(int row) const;
    void appendRule(const UrlSoundRule &rule);
    void setRule(int row, const UrlSoundRule &rule);
    // The sound file of the selected rule; empty when none is selected.
    QString selectedSoundFile() const;
    NotifySettings workingCopy() const;
    // Image2, Image3 and Image5 (Play, Master Volume, Delete).
    void setListButtonsEnabled(bool enabled);

    SoundOutput *sound() const { return m_services.sound; }
    // The rule window and the volume window while they exist.
    Form2 *ruleWindow() const;
    Form1 *volumeWindow() const;

signals:
    // OK: the main window should be shown again.
    void mainWindowRequested();

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // Esc closes the window as its close button does: the working copy is dropped.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildWindow();
    void refreshListButtons();
    void Check1_Click();
    void Command1_Click();
    void Image4_Click();
    void Image5_Click();
    void Image2_Click();
    void Image3_Click();

    Services m_services;
    SettingsStore *m_settings;
    PreviewPlay *m_preview = nullptr;
    QPointer<Form2> m_form2;
    QPointer<Form1> m_form1;

    QCheckBox *Check1 = nullptr; // "Run on Startup"
    QCheckBox *chkSound = nullptr;
    QCheckBox *chkPopup = nullptr;
    QLabel *lblNoTray = nullptr; // shown where the desktop has no tray
    QSpinBox *spinAlertBurst = nullptr; // "Summarise more than"
    QSpinBox *spinAlertWindow = nullptr; // "visits within ... seconds"
    QCheckBox *chkQuiet = nullptr; // "Quiet hours from"
    QComboBox *cboPopupStyle = nullptr; // "PopupStyle"
    QLineEdit *txtIgnoreAddresses = nullptr; // "IgnoreAddresses"
    QCheckBox *chkHideOwnVisits = nullptr; // "HideOwnVisits"
    QCheckBox *chkCrawlerAlerts = nullptr; // "CrawlerAlerts"
    QTimeEdit *timeQuietFrom = nullptr;
    QTimeEdit *timeQuietTo = nullptr;
    QCheckBox *chkQuietPopups = nullptr; // "Hold back popups too"
    QLineEdit *txtDefaultSound = nullptr;
    QPushButton *Command1 = nullptr; // "..."
    QTreeWidget *ListView1 = nullptr;
    QPushButton *Image4 = nullptr; // "Add New"
    QPushButton *Image5 = nullptr; // "Delete Current"
    QPushButton *Image2 = nullptr; // "Play Current"
    QPushButton *Image3 = nullptr; // "Master Volume"
    QPushButton *cmdNext = nullptr; // "OK"
};
