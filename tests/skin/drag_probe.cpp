// A frameless window with a title bar and a skinned button for the X11 tests. It reports on
// standard output what happens: "READY x y" once shown, "POS x y" after every move of the window,
// "DOWN b", "MOVE_REQUESTED 0|1", "UP b" for a press on the title bar, "IN"/"OUT" for the button.
// It quits after 60 s or when standard input closes.
#include "VeilixControl/VeilixButton.h"
#include "VeilixControl/VeilixDragBar.h"

#include <QApplication>
#include <QMoveEvent>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class ProbeWindow final : public QWidget
{
public:
    ProbeWindow()
    {
        setWindowFlag(Qt::FramelessWindowHint);
        setFixedSize(300, 120);
        auto *bar = new VeilixDragBar(this);
        bar->setGeometry(0, 0, 300, 24);
        bar->setCaption(QStringLiteral("Probe"));
        auto *button = new VeilixButton(this);
        button->setGeometry(20, 50, 117, 45);
        button->setCaption(QStringLiteral("Hover"));
        connect(bar, &VeilixDragBar::MouseDown, this,
            [](qint16 &b, qint16 &, float &, float &) { say(QStringLiteral("DOWN %1").arg(b)); });
        connect(bar, &VeilixDragBar::MouseUp, this,
            [](qint16 &b, qint16 &, float &, float &) { say(QStringLiteral("UP %1").arg(b)); });
        connect(button, &VeilixButton::MouseIn, this, [] { say(QStringLiteral("IN")); });
        connect(button, &VeilixButton::MouseOut, this, [] { say(QStringLiteral("OUT")); });
        VeilixDragBar::setSystemMoveFn([](QWindow *w) {
            const bool ok = w->startSystemMove();
            say(QStringLiteral("MOVE_REQUESTED %1").arg(ok ? 1 : 0));
            return ok;
        });
    }

protected:
    void moveEvent(QMoveEvent *) override
    {
        if (m_ready)
            say(QStringLiteral("POS %1 %2").arg(frameGeometry().x()).arg(frameGeometry().y()));
    }

public:
    bool m_ready = false;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ProbeWindow w;
    w.move(100, 100);
    w.show();
    QTimer::singleShot(500, &w, [&w] {
        w.m_ready = true;
        say(QStringLiteral("READY %1 %2").arg(w.frameGeometry().x()).arg(w.frameGeometry().y()));
    });
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&input] {
        char buf[64];
        if (::read(STDIN_FILENO, buf, sizeof buf) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    return app.exec();
}
