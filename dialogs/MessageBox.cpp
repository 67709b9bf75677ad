#include "dialogs/MessageBox.h"

#include "core/Console.h"

#include <optional>

namespace MessageBox {
namespace {
std::optional<QMessageBox::StandardButton> g_nextAnswer;
QString g_lastText;
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
    box->show();
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
