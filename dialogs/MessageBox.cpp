#include "dialogs/MessageBox.h"

#include "core/Console.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>

#include <optional>

namespace MessageBox {
namespace {
std::optional<QMessageBox::StandardButton> g_nextAnswer;
QString g_lastText;

// Shows the box above and centred on its window. A window that is still being filled (a box
// asked for by its loading) is waited for: a box shown first would end up behind it.
class ShowOverWindow final : public QObject
{
public:
    ShowOverWindow(QMessageBox *box, QWidget *window)
        : QObject(box)
        , m_box(box)
        , m_window(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Show) {
            m_window->removeEventFilter(this);
            // After the window's own showing has run, so the box is mapped above it.
            QTimer::singleShot(0, m_box, [box = m_box] { showCentred(box); });
            deleteLater();
        }
        return false;
    }

public:
    static void showCentred(QMessageBox *box)
    {
        box->show();
        if (const QWidget *window = box->parentWidget() ? box->parentWidget()->window() : nullptr) {
            if (window->isVisible())
                box->move(window->frameGeometry().center() - box->rect().center());
        }
        box->raise();
        box->activateWindow();
    }

private:
    QMessageBox *m_box;
    QPointer<QWidget> m_window;
};
} // namespace

void show(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton, AnswerFn onAnswer)
{
    g_lastText = text;
    if (g_nextAnswer || Console::isHeadless()) {
        QMessageBox::StandardButton answer = defaultButton;
        if (g_nextAnswer) {
            answer = *g_nextAnswer;
            g_nextAnswer.reset();
        } else {
            Console::writeError(title + QStringLiteral(": ") + text);
        }
        if (onAnswer)
            onAnswer(answer);
        return;
    }
    auto *box = new QMessageBox(icon, title, text, buttons, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setDefaultButton(defaultButton);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, box, [box, onAnswer = std::move(onAnswer)](int) {
        QAbstractButton *clicked = box->clickedButton();
        const auto answer = clicked ? box->standardButton(clicked) : QMessageBox::NoButton;
        if (onAnswer)
            onAnswer(answer);
    });
    QWidget *window = parent ? parent->window() : nullptr;
    if (window && !window->isVisible() && !window->testAttribute(Qt::WA_WState_ExplicitShowHide))
        new ShowOverWindow(box, window);
    else
        ShowOverWindow::showCentred(box);
}

void setNextAnswer(QMessageBox::StandardButton answer)
{
    g_nextAnswer = answer;
}

QString lastText()
{
    return g_lastText;
}

} // namespace MessageBox
