#pragma once

#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <QRegion>
#include <QWidget>

// Helpers of the control-library tests.
namespace SkinTest {

// Sends a mouse event straight to a widget, as the window system would deliver it.
inline void mouse(QWidget *w, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::NoButton,
    Qt::MouseButtons buttons = Qt::NoButton, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, mods);
    QCoreApplication::sendEvent(w, &e);
}

inline void press(QWidget *w, QPoint pos, Qt::MouseButton button = Qt::LeftButton)
{
    mouse(w, QEvent::MouseButtonPress, pos, button, button);
}

inline void release(QWidget *w, QPoint pos, Qt::MouseButton button = Qt::LeftButton)
{
    mouse(w, QEvent::MouseButtonRelease, pos, button, Qt::NoButton);
}

inline void move(QWidget *w, QPoint pos, Qt::MouseButtons buttons = Qt::NoButton)
{
    mouse(w, QEvent::MouseMove, pos, Qt::NoButton, buttons);
}

inline QImage solid(int w, int h, QRgb color, QImage::Format format = QImage::Format_RGB32)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(color);
    return img.convertToFormat(format);
}

// The rectangles of a region, as a list (in the region's own order).
inline QList<QRect> rects(const QRegion &r)
{
    return QList<QRect>(r.begin(), r.end());
}

inline bool sameArea(const QRegion &a, const QRegion &b)
{
    return (a ^ b).isEmpty();
}

// The smallest rectangle holding every pixel of the image that differs from background.
inline QRect inkBox(const QImage &img, QRgb background)
{
    QRect box;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if ((img.pixel(x, y) & 0xFFFFFF) != (background & 0xFFFFFF))
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

} // namespace SkinTest
