#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// The program's message boxes. A box is modal for its window but never waits inside a nested
// event loop: the answer arrives through a callback once the user has chosen. In headless mode
// the text goes to standard error and the default answer is taken at once. Tests set the next
// answer instead of clicking.
namespace MessageBox {

using AnswerFn = std::function<void(QMessageBox::StandardButton)>;

void show(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
    QMessageBox::StandardButtons buttons = QMessageBox::Ok, QMessageBox::StandardButton defaultButton = QMessageBox::Ok,
    AnswerFn onAnswer = {});

inline void information(QWidget *parent, const QString &title, const QString &text, AnswerFn onAnswer = {})
{
    show(parent, QMessageBox::Information, title, text, QMessageBox::Ok, QMessageBox::Ok, std::move(onAnswer));
}

// The next show() takes this answer at once without showing anything.
void setNextAnswer(QMessageBox::StandardButton answer);
// The text of the last message shown (or answered through setNextAnswer).
QString lastText();

} // namespace MessageBox
