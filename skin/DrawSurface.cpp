#include "VeilixControl/DrawSurface.h"

#include "VeilixControl/OleColor.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QtMath>

DrawSurface::DrawSurface(QWidget *parent)
    : QWidget(parent)
{
    m_image = blankImage();
}

QImage DrawSurface::blankImage() const
{
    // The backing image has the screen's pixels: at a device pixel ratio of 2 a picture drawn
    // with a ratio of 2 keeps every one of its pixels.
    const qreal ratio = devicePixelRatioF();
    const QSize logical = size().expandedTo(QSize(1, 1));
    QImage image(
        QSize(qCeil(logical.width() * ratio), qCeil(logical.height() * ratio)), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(m_clearColor);
    return image;
}

bool DrawSurface::backingFits() const
{
    const qreal ratio = devicePixelRatioF();
    const QSize logical = size().expandedTo(QSize(1, 1));
    return m_image.devicePixelRatio() == ratio
        && m_image.size() == QSize(qCeil(logical.width() * ratio), qCeil(logical.height() * ratio));
}

QColor DrawSurface::foreQColor() const
{
    return OleColor::toQColor(m_foreColor, palette());
}

void DrawSurface::Cls()
{
    m_image = blankImage();
    update();
}

void DrawSurface::PaintPicture(const QImage &image, const QRectF &dest, const QRectF &source, int compositionMode)
{
    if (image.isNull() || dest.isEmpty() || source.isEmpty())
        return;
    if (!backingFits())
        resizeEvent(nullptr);
    // The source is in the picture's own units: its pixels divided by its device pixel ratio.
    const qreal ratio = image.devicePixelRatio();
    const QRectF sourcePixels(source.x() * ratio, source.y() * ratio, source.width() * ratio, source.height() * ratio);
    QPainter p(&m_image);
    if (compositionMode >= 0)
        p.setCompositionMode(QPainter::CompositionMode(compositionMode));
    p.drawImage(dest, image, sourcePixels);
    p.end();
    update();
}

void DrawSurface::Print(int x, int y, const QString &text)
{
    if (!backingFits())
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
    if (!backingFits())
        resizeEvent(nullptr);
    QPainter p(&m_image);
    p.setPen(QPen(foreQColor(), 0));
    p.drawRect(QRect(QPoint(qMin(x1, x2), qMin(y1, y2)), QPoint(qMax(x1, x2), qMax(y1, y2))).adjusted(0, 0, -1, -1));
    p.end();
    update();
}

void DrawSurface::DrawLine(int x1, int y1, int x2, int y2)
{
    if (!backingFits())
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
    const QRect area = event->rect();
    const qreal ratio = m_image.devicePixelRatio();
    p.drawImage(
        QRectF(area), m_image, QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio));
}

void DrawSurface::resizeEvent(QResizeEvent *)
{
    if (backingFits())
        return;
    QImage grown = blankImage();
    QPainter p(&grown);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, m_image);
    p.end();
    m_image = grown;
}
