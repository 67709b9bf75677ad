#include "Cursors.h"

namespace VeilixInternal {

bool cursorFor(int pointer, const VeilixPicture &icon, QCursor *cursor)
{
    Qt::CursorShape shape = Qt::ArrowCursor;
    switch (pointer) {
    case 1:
        shape = Qt::ArrowCursor;
        break;
    case 2:
        shape = Qt::CrossCursor;
        break;
    case 3:
        shape = Qt::IBeamCursor;
        break;
    case 4:
        shape = Qt::ArrowCursor;
        break;
    case 5:
        shape = Qt::SizeAllCursor;
        break;
    case 6:
        shape = Qt::SizeBDiagCursor;
        break;
    case 7:
        shape = Qt::SizeVerCursor;
        break;
    case 8:
        shape = Qt::SizeFDiagCursor;
        break;
    case 9:
        shape = Qt::SizeHorCursor;
        break;
    case 10:
        shape = Qt::UpArrowCursor;
        break;
    case 11:
        shape = Qt::WaitCursor;
        break;
    case 12:
        shape = Qt::ForbiddenCursor;
        break;
    case 13:
        shape = Qt::BusyCursor;
        break;
    case 14:
        shape = Qt::WhatsThisCursor;
        break;
    case 15:
        shape = Qt::SizeAllCursor;
        break;
    case 99:
        if (!icon.hasImage())
            return false;
        *cursor = QCursor(icon.pixmap());
        return true;
    default:
        return false;
    }
    *cursor = QCursor(shape);
    return true;
}

qint16 buttonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

qint16 buttonsCode(Qt::MouseButtons buttons)
{
    qint16 code = 0;
    if (buttons & Qt::LeftButton)
        code |= 1;
    if (buttons & Qt::RightButton)
        code |= 2;
    if (buttons & Qt::MiddleButton)
        code |= 4;
    return code;
}

qint16 shiftCode(Qt::KeyboardModifiers modifiers)
{
    qint16 code = 0;
    if (modifiers & Qt::ShiftModifier)
        code |= 1;
    if (modifiers & Qt::ControlModifier)
        code |= 2;
    if (modifiers & Qt::AltModifier)
        code |= 4;
    return code;
}

qint16 keyCode(const QKeyEvent *event)
{
    const int key = event->key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return qint16(key); // same codes as the upper-case letters
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return qint16(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return qint16(112 + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    case Qt::Key_Pause:
        return 19;
    case Qt::Key_CapsLock:
        return 20;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    default:
        return 0;
    }
}

} // namespace VeilixInternal
