#pragma once

#include "alerts/PopupMotion.h"
#include "core/Clock.h"

#include <QWidget>

class QLabel;
class QTimer;

// The visit popup: a small always-on-top window that slides up at the bottom right of the whole
// screen, rests there for 3 s and slides down again. It never takes the focus and reacts to no
// clicks. Both lines are plain text.
//
// Use: set the two labels (or pass the texts), call ShowTrayNotification(); it returns at once,
// finished() follows when the window has slid out and closed. A call while an appearance runs
// shows the new texts at once and keeps the window up 3 s from then; that appearance then ends
// with a single finished(). With --headless each call also writes "Popup: caption | subcaption"
// to standard output.
class frmTrayNotification final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int FaceWidth = 243;
    static constexpr int FaceHeight = 122;
    // Longer texts are cut (a visited page comes from the network).
    static constexpr int MaxTextLength = 1000;

    explicit frmTrayNotification(const Clock &clock = Clock::system(), QWidget *parent = nullptr);
    ~frmTrayNotification() override;

    // The title line (design text "Message Caption") and the text line ("Message Text").
    QLabel *const lblCaption;
    QLabel *const lblSubcaption;

    // Starts (or renews) an appearance with the texts the labels hold.
    void ShowTrayNotification();
    // Whether the popup can be put in its corner: not on a Wayland session's own platform, where
    // the compositor places windows.
    static bool canBePlaced();
    void ShowTrayNotification(const QString &caption, const QString &subcaption);

    bool isAppearing() const { return m_motion.isRunning(); }
    const PopupMotion &motion() const { return m_motion; }
    // Moves the window on when its step is due; the window's own timer calls this, tests may too.
    void step();

signals:
    // The appearance has ended and the window is closed.
    void finished();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void applyPosition();
    void scheduleStep();

    PopupMotion m_motion;
    QTimer *m_timer;
};
