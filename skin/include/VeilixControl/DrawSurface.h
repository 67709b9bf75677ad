#pragma once

#include "VeilixControl/VeilixControlExport.h"

#include <QColor>
#include <QImage>
#include <QWidget>

class QPainter;

// A drawing surface that keeps what is drawn on it (like a picture box with automatic redraw):
// every drawing call goes into a backing image, and painting the widget shows that image.
// Coordinates are pixels of the widget (device-independent); the backing image has the screen's
// device pixel ratio. Clearing fills the surface with its clear colour (transparent unless set).
class VEILIXCONTROL_EXPORT DrawSurface : public QWidget
{
    Q_OBJECT
public:
    explicit DrawSurface(QWidget *parent = nullptr);

    // The drawing so far: the size of the widget times its device pixel ratio.
    QImage image() const { return m_image; }

    void setClearColor(const QColor &color) { m_clearColor = color; }
    QColor clearColor() const { return m_clearColor; }

    // Foreground colour for text and lines, as an OLE colour.
    void setForeColor(qint32 ole) { m_foreColor = ole; }
    qint32 foreColor() const { return m_foreColor; }
    QColor foreQColor() const;

    int ScaleWidth() const { return width(); }
    int ScaleHeight() const { return height(); }

    void Cls();
    // Draws the part source of image into dest, stretching as needed (nearest neighbour, as a
    // bit-block transfer does). source is in the image's own units (its pixels divided by its
    // device pixel ratio). mode is the painter's composition mode.
    void PaintPicture(const QImage &image, const QRectF &dest, const QRectF &source, int compositionMode = -1);
    // Prints one line of text with its top-left corner at (x, y).
    void Print(int x, int y, const QString &text);
    // A one-pixel outline through (x1, y1) and (x2, y2), both corners included.
    void DrawBox(int x1, int y1, int x2, int y2);
    void DrawLine(int x1, int y1, int x2, int y2);
    int TextWidth(const QString &text) const;
    int TextHeight(const QString &text) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QImage blankImage() const;
    bool backingFits() const;

    QImage m_image;
    QColor m_clearColor = Qt::transparent;
    qint32 m_foreColor = qint32(0x80000012);
};
