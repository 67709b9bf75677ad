#pragma once

#include "VeilixControl/VeilixControlExport.h"
#include "VeilixControl/VeilixPicture.h"

#include <QFont>
#include <QPoint>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class DrawSurface;
class PropertyBag;
class QLabel;
class QWindow;
class ScaleModel;

// A substitute title bar for borderless (possibly shaped) windows: it shows the caption in its
// child label lblCaption over whatever is painted into it (PaintPicture, Cls), and a press with
// any mouse button on it or on the label moves the whole top-level window: MouseDown, then the
// window system's interactive move and MouseUp for the left button; for any other button (or
// where the window system cannot move the window) the bar moves the window with the pointer
// until the button is released, and MouseUp comes with the release.
class VEILIXCONTROL_EXPORT VeilixDragBar final : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int MousePointer READ MousePointer WRITE setMousePointer)
    Q_PROPERTY(VeilixPicture MouseIcon READ MouseIcon WRITE setMouseIcon)
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabledProperty)
    Q_PROPERTY(int ScaleMode READ ScaleMode WRITE setScaleMode)
    Q_PROPERTY(QFont Font READ Font WRITE setFontProperty)
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
    Q_PROPERTY(int Alignment READ Alignment WRITE setAlignment)
    Q_PROPERTY(qint32 ForeColor READ ForeColor WRITE setForeColor)
    Q_PROPERTY(double ScaleWidth READ ScaleWidth WRITE setScaleWidth)
    Q_PROPERTY(double ScaleHeight READ ScaleHeight WRITE setScaleHeight)

public:
    // The move of the top-level window; returns false when the window system cannot move it
    // (the bar then moves the window itself while the button is held).
    using SystemMoveFn = std::function<bool(QWindow *)>;

    explicit VeilixDragBar(QWidget *parent = nullptr);
    ~VeilixDragBar() override;

    static QString defaultCaption() { return QStringLiteral("Caption"); }
    static QString newInstanceCaption() { return QStringLiteral("Transparent at runtime"); }

    int MousePointer() const { return m_mousePointer; }
    void setMousePointer(int pointer);
    VeilixPicture MouseIcon() const { return m_mouseIcon; }
    void setMouseIcon(const VeilixPicture &icon);
    bool Enabled() const { return isEnabled(); }
    void setEnabledProperty(bool enabled);
    int ScaleMode() const;
    void setScaleMode(int mode);
    // The caption font: the bar's own font (so QWidget::setFont works too), used by lblCaption.
    QFont Font() const;
    void setFontProperty(const QFont &font);
    QString Caption() const;
    void setCaption(const QString &caption);
    int Alignment() const { return m_alignment; }
    void setAlignment(int alignment);
    qint32 ForeColor() const { return m_foreColor; }
    void setForeColor(qint32 ole);
    double ScaleWidth() const;
    void setScaleWidth(double width);
    double ScaleHeight() const;
    void setScaleHeight(double height);

    // Draws the part (X2, Y2, Width2, Height2) of picture into (X1, Y1, Width1, Height1), all in
    // the bar's scale units; missing sizes take the picture's, a missing source corner is (0, 0).
    // Opcode is a raster operation code (0xCC0020 copy, 0x8800C6 and, 0xEE0086 or, 0x660046 xor,
    // 0x330008 inverted copy). Errors are ignored.
    void PaintPicture(const VeilixPicture &picture, double X1, double Y1, std::optional<double> Width1 = {},
        std::optional<double> Height1 = {}, std::optional<double> X2 = {}, std::optional<double> Y2 = {},
        std::optional<double> Width2 = {}, std::optional<double> Height2 = {}, std::optional<int> Opcode = {});
    void Cls();
    // Centres the caption vertically and places it by Alignment (4 units from the edge).
    void LayoutCaption();

    QLabel *lblCaption() const { return m_lblCaption; }
    QImage Image() const; // what has been painted into the bar

    void readProperties(const PropertyBag &bag);
    void writeProperties(PropertyBag &bag) const;

    // Replaces the window system's move (tests); an empty function restores it.
    static void setSystemMoveFn(SystemMoveFn fn);

    QSize sizeHint() const override { return { 145, 18 }; }

signals:
    void MouseDown(qint16 &Button, qint16 &Shift, float &x, float &y);
    void MouseMove(qint16 &Button, qint16 &Shift, float &x, float &y);
    void MouseUp(qint16 &Button, qint16 &Shift, float &x, float &y);
    void Click();
    void DblClick();
    // A property was changed (the host's design needs saving).
    void propertyChanged(const QString &name);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct DragArguments
    {
        qint16 button = 0;
        qint16 shift = 0;
        float x = 0;
        float y = 0;
    };

    void startDrag(QMouseEvent *event, QWidget *source);
    // The release of the button that started a manual drag ends it and raises MouseUp; returns
    // whether it did.
    bool endManualDrag(QMouseEvent *event);
    void dragMove(QMouseEvent *event);
    void applyCursor();
    void changed(const QString &name);

    DrawSurface *m_surface;
    QLabel *m_lblCaption;
    std::unique_ptr<ScaleModel> m_scale;
    int m_mousePointer = 0;
    VeilixPicture m_mouseIcon;
    int m_alignment = 0;
    qint32 m_foreColor = qint32(0x80000012);
    bool m_pressedOnBar = false;
    bool m_manualDrag = false;
    Qt::MouseButton m_dragButton = Qt::NoButton;
    DragArguments m_dragUp;
    QPoint m_dragOffset;
};
