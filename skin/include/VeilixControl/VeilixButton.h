#pragma once

#include "VeilixControl/VeilixControlExport.h"
#include "VeilixControl/VeilixPicture.h"

#include <QFont>
#include <QImage>
#include <QWidget>

#include <memory>
#include <optional>

class DrawSurface;
class PropertyBag;
class ScaleModel;

// A push button whose face is a picture chosen by state (normal, over, down, disabled), drawn in
// nine pieces with an unscaled frame of BorderWidth pixels, with the caption on top in a colour
// chosen by state. The child surface picBut covers the whole control and receives all input; the
// button follows the pointer by capturing the mouse when it enters. Enter and Space show the pressed
// face; Tab and Shift+Tab move the focus on and every other key reaches the parent as well. To
// screen readers it is a push button named by its caption (or by its accessible name when set).
class VEILIXCONTROL_EXPORT VeilixButton final : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabledProperty)
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
    Q_PROPERTY(VeilixPicture PictureNormal READ PictureNormal WRITE setPictureNormal)
    Q_PROPERTY(VeilixPicture PictureOver READ PictureOver WRITE setPictureOver)
    Q_PROPERTY(VeilixPicture PictureDown READ PictureDown WRITE setPictureDown)
    Q_PROPERTY(int BorderWidth READ BorderWidth WRITE setBorderWidth)
    Q_PROPERTY(VeilixPicture PictureDisabled READ PictureDisabled WRITE setPictureDisabled)
    Q_PROPERTY(int MousePointer READ MousePointer WRITE setMousePointer)
    Q_PROPERTY(double ScaleWidth READ ScaleWidth WRITE setScaleWidth)
    Q_PROPERTY(double ScaleHeight READ ScaleHeight WRITE setScaleHeight)
    Q_PROPERTY(VeilixPicture MouseIcon READ MouseIcon WRITE setMouseIcon)
    Q_PROPERTY(QFont Font READ Font WRITE setFontProperty)
    Q_PROPERTY(qint32 ForeColor READ ForeColor WRITE setForeColor)
    Q_PROPERTY(qint32 ForeColorOver READ ForeColorOver WRITE setForeColorOver)
    Q_PROPERTY(qint32 ForeColorDown READ ForeColorDown WRITE setForeColorDown)
    Q_PROPERTY(qint32 ForeColorDisabled READ ForeColorDisabled WRITE setForeColorDisabled)
    Q_PROPERTY(bool LeftMouseButtonOnly READ LeftMouseButtonOnly WRITE setLeftMouseButtonOnly)
    Q_PROPERTY(int TextOffsetOver READ TextOffsetOver WRITE setTextOffsetOver)
    Q_PROPERTY(int TextOffsetDown READ TextOffsetDown WRITE setTextOffsetDown)
    Q_PROPERTY(bool ShowFocusRect READ ShowFocusRect WRITE setShowFocusRect)
    Q_PROPERTY(int Alignment READ Alignment WRITE setAlignment)

public:
    enum State : qint16 { Normal = 1, Over = 2, Down = 3, Disabled = 4 };

    explicit VeilixButton(QWidget *parent = nullptr);
    ~VeilixButton() override;

    // The caption of a new instance and of a bag without Caption.
    static QString defaultCaption() { return QStringLiteral("VeilixButton"); }

    // Clears the pointer state (not over, not pressed, no capture) and repaints.
    void Redraw();
    // Shows the surface's drawing again (nothing is redrawn).
    void Refresh();
    // The "press" action of assistive technologies (screen readers, on-screen keyboards): raises
    // Click as a left-button click does. Enter and Space only show the pressed face.
    void accessiblePress();
    QImage Image() const;

    bool Enabled() const { return isEnabled(); }
    void setEnabledProperty(bool enabled);
    QString Caption() const { return m_caption; }
    void setCaption(const QString &caption);
    VeilixPicture PictureNormal() const { return m_pictureNormal; }
    void setPictureNormal(const VeilixPicture &picture);
    VeilixPicture PictureOver() const { return m_pictureOver; }
    void setPictureOver(const VeilixPicture &picture);
    VeilixPicture PictureDown() const { return m_pictureDown; }
    void setPictureDown(const VeilixPicture &picture);
    VeilixPicture PictureDisabled() const { return m_pictureDisabled; }
    void setPictureDisabled(const VeilixPicture &picture);
    int BorderWidth() const { return m_borderWidth; }
    void setBorderWidth(int pixels); // bounded to 0..32767
    int MousePointer() const { return m_mousePointer; }
    void setMousePointer(int pointer);
    double ScaleWidth() const;
    void setScaleWidth(double width);
    double ScaleHeight() const;
    void setScaleHeight(double height);
    VeilixPicture MouseIcon() const { return m_mouseIcon; }
    void setMouseIcon(const VeilixPicture &icon);
    // The caption font: the control's own font (so QWidget::setFont works too), used by picBut.
    QFont Font() const;
    void setFontProperty(const QFont &font);
    qint32 ForeColor() const { return m_foreColor; }
    void setForeColor(qint32 ole);
    qint32 ForeColorOver() const { return m_foreColorOver; }
    void setForeColorOver(qint32 ole);
    qint32 ForeColorDown() const { return m_foreColorDown; }
    void setForeColorDown(qint32 ole);
    qint32 ForeColorDisabled() const { return m_foreColorDisabled; }
    void setForeColorDisabled(qint32 ole);
    bool LeftMouseButtonOnly() const { return m_leftMouseButtonOnly; }
    void setLeftMouseButtonOnly(bool only);
    int TextOffsetOver() const { return m_textOffsetOver; }
    void setTextOffsetOver(int pixels);
    int TextOffsetDown() const { return m_textOffsetDown; }
    void setTextOffsetDown(int pixels);
    bool ShowFocusRect() const { return m_showFocusRect; }
    void setShowFocusRect(bool show);
    int Alignment() const { return m_alignment; }
    void setAlignment(int alignment);

    // Unit conversions of the button's scale (modes as for a title bar; FromScale defaults to
    // HIMETRIC, ToScale to the button's own scale).
    double ScaleX(double width, std::optional<int> fromScale = {}, std::optional<int> toScale = {}) const;
    double ScaleY(double height, std::optional<int> fromScale = {}, std::optional<int> toScale = {}) const;
    int TextWidth(const QString &text) const;
    int TextHeight(const QString &text) const;

    void readProperties(const PropertyBag &bag);
    void writeProperties(PropertyBag &bag) const;

    // Run-time state, for the host and for tests.
    State state() const { return m_state; }
    bool hasFocusState() const { return m_hasFocus; }
    bool mouseOver() const { return m_mouseOver; }
    bool pressed() const { return m_pressed; }
    bool captured() const { return m_captured; }
    int lastButton() const { return m_lastButton; }
    VeilixPicture currentPicture() const { return m_currentPicture; }
    DrawSurface *picBut() const { return m_picBut; }

    QSize sizeHint() const override { return { 117, 45 }; }

signals:
    void Resize();
    void Click();
    void DblClick();
    void KeyDown(qint16 &KeyCode, qint16 &Shift);
    void KeyPress(qint16 &KeyAscii);
    void KeyUp(qint16 &KeyCode, qint16 &Shift);
    void MouseDown(qint16 &Button, qint16 &Shift, float &x, float &y);
    void MouseMove(qint16 &Button, qint16 &Shift, float &x, float &y);
    void MouseUp(qint16 &Button, qint16 &Shift, float &x, float &y);
    void Paint();
    void MouseIn();
    void MouseOut();
    // A property was changed (the host's design needs saving).
    void propertyChanged(const QString &name);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool UpdateState();
    bool PaintButton();
    void refresh();
    void capture();
    void releaseCapture();
    void applyCursor();
    void changed(const QString &name);
    void repaintIfState(State state);

    void surfaceMouseDown(qint16 button, qint16 shift, float x, float y);
    void surfaceMouseMove(qint16 button, qint16 shift, float x, float y);
    void surfaceMouseUp(qint16 button, qint16 shift, float x, float y);
    void surfaceClick();
    void surfaceDblClick();
    void surfaceKeyDown(qint16 keyCode, qint16 shift);
    void surfaceKeyUp(qint16 keyCode, qint16 shift);

    DrawSurface *m_picBut;
    std::unique_ptr<ScaleModel> m_scale;

    QString m_caption;
    VeilixPicture m_pictureNormal = VeilixPicture::empty();
    VeilixPicture m_pictureOver = VeilixPicture::empty();
    VeilixPicture m_pictureDown = VeilixPicture::empty();
    VeilixPicture m_pictureDisabled = VeilixPicture::empty();
    VeilixPicture m_mouseIcon;
    qint16 m_borderWidth = 10;
    int m_mousePointer = 0;
    qint32 m_foreColor = qint32(0x80000012);
    qint32 m_foreColorOver = qint32(0x80000016);
    qint32 m_foreColorDown = qint32(0x80000010);
    qint32 m_foreColorDisabled = qint32(0x80000011);
    bool m_leftMouseButtonOnly = true;
    qint16 m_textOffsetOver = 0;
    qint16 m_textOffsetDown = 1;
    bool m_showFocusRect = true;
    int m_alignment = 2;

    State m_state = Normal;
    bool m_hasFocus = false;
    bool m_mouseOver = false;
    bool m_pressed = false;
    bool m_captured = false;
    int m_lastButton = 0;
    VeilixPicture m_currentPicture;
    bool m_busy = false;
    bool m_pressInside = false; // a press on the surface that a release may turn into a click
    bool m_afterDoubleClick = false;
};
