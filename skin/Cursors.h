#pragma once

#include "VeilixControl/VeilixPicture.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>

// Small translations shared by the controls (not part of the public interface).
namespace VeilixInternal {

// The cursor for a mouse pointer code (0 default, 1 arrow, 2 cross, 3 I-beam, 5 and 15 size all,
// 6 to 9 the size arrows, 10 up arrow, 11 busy, 12 forbidden, 13 arrow with busy, 14 help,
// 99 the mouse icon). Returns false for the default (the widget's cursor is unset).
bool cursorFor(int pointer, const VeilixPicture &icon, QCursor *cursor);

// Mouse button code of one button (1 left, 2 right, 4 middle) and of the buttons held.
qint16 buttonCode(Qt::MouseButton button);
qint16 buttonsCode(Qt::MouseButtons buttons);
// Shift code: 1 Shift, 2 Ctrl, 4 Alt.
qint16 shiftCode(Qt::KeyboardModifiers modifiers);
// The key code of a key event (13 Enter, 32 Space, letters and digits as their upper-case
// character codes, ...), 0 when the key has none.
qint16 keyCode(const QKeyEvent *event);

} // namespace VeilixInternal
