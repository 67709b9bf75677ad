#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class QFrame;
class QLabel;
class VeilixButton;
class VeilixDragBar;

// The program's own skinned message box: a borderless modal window with the title bar tdTitleBar,
// the prompt lblPrompt beside the picture Image1 inside the frame Shape2, and the two answer
// buttons cmd(0) (left) and cmd(1) (right). A press hides the window (it is not unloaded) and
// keeps the pressed index for the next call. The answer comes through a callback: nothing waits.
class frmMsgBox final : public QWidget
{
    Q_OBJECT
public:
    // Receives 1 for the left button, 2 for the right one.
    using ResultFn = std::function<void(qint16 result)>;

    static const QString DefaultButton1; // "OK"
    static const QString DefaultButton2; // "Cancel"
    static const QString DefaultTitle; // "Vistelle"
    // Prompts longer than this are cut (they may carry text from outside).
    static constexpr qsizetype MaxPromptLength = 2000;

    explicit frmMsgBox(QWidget *parent = nullptr);
    ~frmMsgBox() override;

    // The program's one message box, loaded on first use; the host manager loads it in advance.
    static frmMsgBox *instance();
    // The loaded box, or null.
    static frmMsgBox *loaded();
    // Unloads it (with the program).
    static void unload();

    // Shows Prompt with the captions Button1 and Button2 and the title Title; an empty caption or
    // title takes its default ("OK", "Cancel", "Vistelle"), which also replaces the caller's
    // empty variable. Beeps first unless NoBeep. The box is modal; onResult receives the pressed
    // index plus 1 once a button closed it. Closing it without a button (Escape, the window
    // manager) answers as the right button does. A call while the box is shown waits its turn.
    // Headless, the prompt goes to standard error and the left button answers at once.
    void cMsgBox(
        const QString &Prompt, QString &Button1, QString &Button2, QString &Title, bool NoBeep, ResultFn onResult = {});

    // The index of the last button pressed (0 before any press).
    qint16 lastIndex() const { return m_index; }
    // Whether a box is on the screen (or waiting for its turn).
    bool isAsking() const { return m_current.has_value(); }

    // The warning beep; tests count it instead.
    static void setBeepFn(std::function<void()> beep);

    // Controls, named as the tests know them.
    VeilixDragBar *tdTitleBar = nullptr;
    QLabel *lblPrompt = nullptr;
    std::array<VeilixButton *, 2> cmd {};
    QLabel *Image1 = nullptr;
    QFrame *Shape2 = nullptr;

signals:
    // The box was closed with this result.
    void answered(qint16 result);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Request
    {
        QString prompt;
        QString button1;
        QString button2;
        QString title;
        bool noBeep = false;
        ResultFn onResult;
    };

    void showRequest();
    void cmd_Click(int index);
    void finish(qint16 result);

    qint16 m_index = 0;
    std::array<qint16, 2> m_keyHeld {}; // Enter (13) or Space (32) pressed on cmd(i)
    std::optional<Request> m_current;
    QList<Request> m_waiting;
};
