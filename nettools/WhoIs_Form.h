#pragma once

#include "core/Clock.h"
#include "nettools/WhoisClient.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class SettingsStore;

// The whois window: asks a whois server who owns a domain, by default the domain of the visitor
// selected in the main window. The answer is shown as plain text as it arrives.
//
// The window is modal (for its parent window, or for the application without one) but never
// waits: openFor() shows it and returns. "Cancel", Escape and the window's close button hide it
// and end the exchange; it stays loaded, with its server list and selection, for the next
// opening.
class WhoIs_Form final : public QDialog
{
    Q_OBJECT
public:
    // settings: null means the program's store.
    explicit WhoIs_Form(SettingsStore *settings = nullptr, const Clock &clock = Clock::system(),
        WhoisLimits limits = {}, QWidget *parent = nullptr);
    ~WhoIs_Form() override;

    // The opening: empties the answer, takes the main window's host-name caption reduced to its
    // registered domain, shows the window and queries at once unless the caption holds "Can't"
    // or is empty.
    void openFor(const QString &hostCaption);

    WhoisClient &client() { return *m_client; }

    static const QString NoDomainText; // " No domain name was entered."

public slots:
    // "Cancel": hides the window and ends the exchange.
    void reject() override;

private:
    void buildWindow();
    void fillServerList();
    bool mayQuery() const;
    void Send_Query_Button1_Click();
    void WhoIs_Server_Click();
    void appendAnswer(const QString &text);
    void showNoDomain();

    SettingsStore *m_settings;
    WhoisClient *m_client;

    // Controls, named as the tests know them.
    QLineEdit *Domain_Name = nullptr;
    QComboBox *WhoIs_Server = nullptr;
    QPushButton *Send_Query_Button1 = nullptr; // "Query"
    QPushButton *Command1 = nullptr; // "Cancel"
    QPlainTextEdit *WhoIs_Response = nullptr;
};
