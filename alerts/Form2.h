#pragma once

#include <QDialog>

class PreviewPlay;
class QLineEdit;
class QPushButton;
class QToolButton;
class frmSetNotifies;

// The rule window: adds a page rule to the settings window's list or changes the selected one.
// It works on that list directly; nothing is stored until OK there. Opened modal for its settings
// window, which keeps it (and its texts) until the settings window closes.
class Form2 final : public QDialog
{
    Q_OBJECT
public:
    explicit Form2(frmSetNotifies &settingsWindow);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Command1_Click();
    void Command5_Click();
    void Command3_Click();
    void Command2_Click();

    frmSetNotifies &m_settingsWindow;
    PreviewPlay *m_preview;

    QLineEdit *Text1 = nullptr; // "If URL contains:"
    QLineEdit *Text2 = nullptr; // "Play Sound:"
    QPushButton *Command1 = nullptr; // "..", the file dialog
    QToolButton *Command5 = nullptr; // "Play Current Sound"
    QPushButton *Command3 = nullptr; // "Add"
    QPushButton *Command2 = nullptr; // "Modify"
    QPushButton *Command4 = nullptr; // "Cancel"
};
