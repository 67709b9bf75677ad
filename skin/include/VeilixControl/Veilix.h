#pragma once

#include "VeilixControl/VeilixControlExport.h"
#include "VeilixControl/VeilixPicture.h"

#include <QWidget>

#include <functional>

class PropertyBag;

// Turns its host form (the window it is placed on) into a skinned, shaped window: it paints the
// background picture on the form, sizes the form to it and makes the form's controls blend with it
// (PaintBackground), cuts the window to the shape of a mask picture (ApplyTransparency) and gives
// it its rectangle back (RemoveTransparency). The control itself is a fixed 32 × 32 pixel box that
// shows nothing at run time.
class VEILIXCONTROL_EXPORT Veilix final : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(VeilixPicture Picture READ Picture WRITE setPicture)
    Q_PROPERTY(VeilixPicture MaskPicture READ MaskPicture WRITE setMaskPicture)
    Q_PROPERTY(bool ControlPainting READ ControlPainting WRITE setControlPainting)
    Q_PROPERTY(bool IsMasked READ IsMasked)
    Q_PROPERTY(qint32 ControlBackColor READ ControlBackColor WRITE setControlBackColor)
    Q_PROPERTY(qint32 ControlForeColor READ ControlForeColor WRITE setControlForeColor)
    Q_PROPERTY(qint32 MaskColor READ MaskColor WRITE setMaskColor)

public:
    // Shows a warning to the user; replaceable for tests. The default opens a non-blocking
    // message box.
    using MessageFn = std::function<void(QWidget *parent, const QString &text)>;

    static QString depthMessage()
    {
        return QStringLiteral("Sorry, transparacy only works for  24-bit or 32-bit color.");
    }

    explicit Veilix(QWidget *parent = nullptr);
    ~Veilix() override;

    bool PaintBackground();
    bool ApplyTransparency();
    bool RemoveTransparency();

    VeilixPicture Picture() const { return m_picture; }
    void setPicture(const VeilixPicture &picture);
    VeilixPicture MaskPicture() const { return m_maskPicture; }
    void setMaskPicture(const VeilixPicture &picture);
    bool ControlPainting() const { return m_controlPainting; }
    void setControlPainting(bool painting);
    bool IsMasked() const { return m_isMasked; }
    qint32 ControlBackColor() const { return m_controlBackColor; }
    void setControlBackColor(qint32 ole);
    qint32 ControlForeColor() const { return m_controlForeColor; }
    void setControlForeColor(qint32 ole);
    qint32 MaskColor() const { return m_maskColor; }
    void setMaskColor(qint32 ole);

    void readProperties(const PropertyBag &bag);
    void writeProperties(PropertyBag &bag) const;

    // The form the control works on: its top-level window (in design mode its parent widget).
    QWidget *hostForm() const;
    // In design mode the control works on its parent only and never changes window flags or shape.
    void setDesignMode(bool design) { m_designMode = design; }
    bool designMode() const { return m_designMode; }

    static void setMessageFn(MessageFn fn);

    QSize sizeHint() const override { return { 32, 32 }; }

signals:
    // A property was changed (the host's design needs saving).
    void propertyChanged(const QString &name);

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void makeBorderless(QWidget *form);
    void changed(const QString &name);

    VeilixPicture m_picture = VeilixPicture::empty();
    VeilixPicture m_maskPicture = VeilixPicture::empty();
    bool m_controlPainting = false;
    bool m_isMasked = false;
    qint32 m_controlBackColor = qint32(0x8000000F);
    qint32 m_controlForeColor = qint32(0x80000012);
    qint32 m_maskColor = 0x00FF00FF;
    bool m_designMode = false;
    bool m_inShow = false;
};
