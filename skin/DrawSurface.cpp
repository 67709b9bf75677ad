#include "VeilixControl/DrawSurface.h"

#include "VeilixControl/OleColor.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

DrawSurface::DrawSurface(QWidget *parent)
    : QWidget(parent)
{
    m_image = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    m_image.fill(m_clearColor);
}

QColor DrawSurface::foreQColor() const
{
    return OleColor::toQColor(m_foreColor, palette());
}

void DrawSurface::Cls()
{
    m_image = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    m_image.fill(m_clearColor);
    update();
}

void DrawSurface::PaintPicture(const QImage &image, const QRectF &dest, const QRectF &source, int compositionMode)
{
    if (image.isNull() || dest.isEmpty() || source.isEmpty())
        return;
    if (m_image.size() != size().expandedTo(QSize(1, 1)))
        resizeEvent(nullptr);
    QPainter p(&m_image);
    if (compositionMode >= 0)
        p.setCompositionMode(QPainter::CompositionMode(compositionMode));
    p.drawImage(dest, image, source);
    p.end();
    update();
}

void DrawSurface::Print(int x, int y, const QString &text)
{
    if (m_image.size() != size().expandedTo(QSize(1, 1)))
        resizeEvent(nullptr);
    QPainter p(&m_image);
    p.setFont(font());
    p.setPen(foreQColor());
    const QFontMetrics fm(font());
    p.drawText(QPoint(x, y + fm.ascent()), text);
    p.end();
    update();
}

void DrawSurface::DrawBox(int x1, int y1, int x2, int y2)
{
    if (m_image.size() != size().expandedTo(QSize(1, 1)))
        resizeEvent(nullptr);
    QPainter p(&m_image);
    p.setPen(QPen(foreQColor(), 0));
    p.drawRect(QRect(QPoint(qMin(x1, x2), qMin(y1, y2)), QPoint(qMax(x1, x2), qMax(y1, y2))).adjusted(0, 0, -1, -1));
    p.end();
    update();
}

void DrawSurface::DrawLine(int x1, int y1, int x2, int y2)
{
    if (m_image.size() != size().expandedTo(QSize(1, 1)))
        resizeEvent(nullptr);
    QPainter p(&m_image);
    p.setPen(QPen(foreQColor(), 0));
    p.drawLine(x1, y1, x2, y2);
    p.end();
    update();
}

int DrawSurface::TextWidth(const QString &text) const
{
    return QFontMetrics(font()).horizontalAdvance(text);
}

int DrawSurface::TextHeight(const QString &) const
{
    return QFontMetrics(font()).height();
}

void DrawSurface::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.drawImage(event->rect(), m_image, event->rect());
}

void DrawSurface::resizeEvent(QResizeEvent *)
{
    const QSize wanted = size().expandedTo(QSize(1, 1));
    if (m_image.size() == wanted)
        return;
    QImage grown(wanted, QImage::Format_ARGB32_Premultiplied);
    grown.fill(m_clearColor);
    QPainter p(&grown);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, m_image);
    p.end();
    m_image = grown;
}
