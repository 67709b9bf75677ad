#include "VeilixControl/VeilixButton.h"

#include "Cursors.h"
#include "ScaleModel.h"
#include "VeilixAccessible.h"
#include "VeilixControl/DrawSurface.h"
#include "VeilixControl/OleColor.h"
#include "VeilixControl/PropertyBag.h"
#include "VeilixControl/modUniversal.h"

#include <QAccessible>
#include <QApplication>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {

QFont ambientFont(const QWidget *w)
{
    return w->parentWidget() ? w->parentWidget()->font() : QApplication::font();
}

qint16 bounded16(int v)
{
    return qint16(std::clamp(v, -32768, 32767));
}

QVariant pic(const VeilixPicture &p)
{
    return QVariant::fromValue(p);
}

// Enter and Space show the pressed face; the button keeps them.
bool isButtonKey(qint16 code)
{
    return code == 13 || code == 32;
}

// Tab and Shift+Tab (without Ctrl or Alt) move the keyboard focus.
bool isFocusKey(const QKeyEvent *e)
{
    return (e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab)
        && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

} // namespace

VeilixButton::VeilixButton(QWidget *parent)
    : QWidget(parent)
    , m_picBut(new DrawSurface(this))
    , m_scale(std::make_unique<ScaleModel>(3))
    , m_caption(defaultCaption())
{
    VeilixInternal::installAccessibleFactory();
    m_picBut->setObjectName(QStringLiteral("picBut"));
    m_picBut->setFocusPolicy(Qt::StrongFocus);
    m_picBut->setMouseTracking(true);
    m_picBut->setClearColor(palette().color(QPalette::Button));
    m_picBut->installEventFilter(this);
    setFocusProxy(m_picBut);
    setFocusPolicy(Qt::StrongFocus);
    resize(sizeHint());
    m_picBut->setGeometry(rect());
    refresh();
}

VeilixButton::~VeilixButton()
{
    if (QWidget::mouseGrabber() == m_picBut)
        m_picBut->releaseMouse();
}

void VeilixButton::changed(const QString &name)
{
    emit propertyChanged(name);
}

// ---- painting ---------------------------------------------------------------------------------

bool VeilixButton::UpdateState()
{
    if (m_busy)
        return false;
    m_busy = true;
    if (!isEnabled()) {
        m_state = Disabled;
    } else if (!m_mouseOver) {
        m_pressed = false;
        m_state = Normal;
    } else {
        m_state = m_pressed ? Down : Over;
    }
    m_busy = false;
    return PaintButton();
}

bool VeilixButton::PaintButton()
{
    if (m_picBut->geometry() != rect()) // a hidden control is resized without an event
        m_picBut->setGeometry(rect());
    m_currentPicture = VeilixPicture::none();
    int offset = 0;
    const VeilixPicture *picture = &m_pictureNormal;
    switch (m_state) {
    case Normal:
        m_picBut->setForeColor(m_foreColor);
        picture = &m_pictureNormal;
        break;
    case Over:
        m_picBut->setForeColor(m_foreColorOver);
        offset = m_textOffsetOver;
        picture = &m_pictureOver;
        break;
    case Down:
        m_picBut->setForeColor(m_foreColorDown);
        offset = m_textOffsetDown;
        picture = &m_pictureDown;
        break;
    case Disabled:
        m_picBut->setForeColor(m_foreColorDisabled);
        picture = &m_pictureDisabled;
        break;
    }
    if (!picture->isNone())
        m_currentPicture = *picture;
    if (m_currentPicture.isNone()) {
        m_picBut->Cls();
    } else {
        const qint16 before = m_borderWidth;
        if (modUniversal::PaintSkin(m_picBut, m_currentPicture, m_borderWidth))
            modUniversal::Yield();
        if (m_borderWidth != before)
            changed(QStringLiteral("BorderWidth"));
    }
    const qint16 before = m_borderWidth;
    if (modUniversal::PaintCaption(
            m_picBut, m_caption, m_hasFocus, m_showFocusRect, offset, m_alignment, m_borderWidth))
        modUniversal::Yield();
    if (m_borderWidth != before)
        changed(QStringLiteral("BorderWidth"));
    return true;
}

void VeilixButton::refresh()
{
    if (UpdateState())
        modUniversal::Yield();
}

void VeilixButton::repaintIfState(State state)
{
    if (m_state == state)
        refresh();
}

void VeilixButton::Redraw()
{
    m_mouseOver = false;
    m_pressed = false;
    releaseCapture();
    refresh();
}

void VeilixButton::Refresh()
{
    m_picBut->update();
}

QImage VeilixButton::Image() const
{
    return m_picBut->image();
}

// ---- mouse capture ----------------------------------------------------------------------------

void VeilixButton::capture()
{
    m_captured = true;
    // Platforms without a pointer (offscreen, minimal) cannot grab; the flag alone then counts.
    static const bool canGrab = QGuiApplication::platformName() != QLatin1String("offscreen")
        && QGuiApplication::platformName() != QLatin1String("minimal");
    if (canGrab && m_picBut->isVisible())
        m_picBut->grabMouse();
}

void VeilixButton::releaseCapture()
{
    m_captured = false;
    if (QWidget::mouseGrabber() == m_picBut)
        m_picBut->releaseMouse();
}

// ---- properties -------------------------------------------------------------------------------

void VeilixButton::setEnabledProperty(bool enabled)
{
    const bool differs = enabled != isEnabled();
    setEnabled(enabled);
    if (!differs)
        refresh(); // a change repaints through changeEvent
    changed(QStringLiteral("Enabled"));
}

void VeilixButton::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        refresh();
    else if (event->type() == QEvent::PaletteChange)
        m_picBut->setClearColor(palette().color(QPalette::Button));
}

void VeilixButton::setCaption(const QString &caption)
{
    m_caption = caption;
    refresh();
    if (QAccessible::isActive() && accessibleName().isEmpty()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
    changed(QStringLiteral("Caption"));
}

void VeilixButton::accessiblePress()
{
    m_lastButton = 1;
    emit Click();
}

void VeilixButton::setPictureNormal(const VeilixPicture &picture)
{
    m_pictureNormal = picture;
    repaintIfState(Normal);
    changed(QStringLiteral("PictureNormal"));
}

void VeilixButton::setPictureOver(const VeilixPicture &picture)
{
    m_pictureOver = picture;
    repaintIfState(Over);
    changed(QStringLiteral("PictureOver"));
}

void VeilixButton::setPictureDown(const VeilixPicture &picture)
{
    m_pictureDown = picture;
    repaintIfState(Down);
    changed(QStringLiteral("PictureDown"));
}

void VeilixButton::setPictureDisabled(const VeilixPicture &picture)
{
    m_pictureDisabled = picture;
    repaintIfState(Disabled);
    changed(QStringLiteral("PictureDisabled"));
}

void VeilixButton::setBorderWidth(int pixels)
{
    m_borderWidth = qint16(std::clamp(pixels, 0, 32767));
    refresh();
    changed(QStringLiteral("BorderWidth"));
}

void VeilixButton::applyCursor()
{
    QCursor cursor;
    if (VeilixInternal::cursorFor(m_mousePointer, m_mouseIcon, &cursor))
        m_picBut->setCursor(cursor);
    else
        m_picBut->unsetCursor();
}

void VeilixButton::setMousePointer(int pointer)
{
    m_mousePointer = bounded16(pointer);
    applyCursor();
    changed(QStringLiteral("MousePointer"));
}

double VeilixButton::ScaleWidth() const
{
    return m_scale->width(width());
}

void VeilixButton::setScaleWidth(double width)
{
    m_scale->setWidth(width, this->width());
    refresh();
    changed(QStringLiteral("ScaleWidth"));
}

double VeilixButton::ScaleHeight() const
{
    return m_scale->height(height());
}

void VeilixButton::setScaleHeight(double height)
{
    m_scale->setHeight(height, this->height());
    refresh();
    changed(QStringLiteral("ScaleHeight"));
}

void VeilixButton::setMouseIcon(const VeilixPicture &icon)
{
    m_mouseIcon = icon;
    applyCursor();
    changed(QStringLiteral("MouseIcon"));
}

QFont VeilixButton::Font() const
{
    return font(); // picBut takes the control's font
}

void VeilixButton::setFontProperty(const QFont &font)
{
    setFont(font); // the surface repaints when its font changes
    changed(QStringLiteral("Font"));
}

void VeilixButton::setForeColor(qint32 ole)
{
    m_foreColor = ole;
    repaintIfState(Normal);
    changed(QStringLiteral("ForeColor"));
}

void VeilixButton::setForeColorOver(qint32 ole)
{
    m_foreColorOver = ole;
    repaintIfState(Over);
    changed(QStringLiteral("ForeColorOver"));
}

void VeilixButton::setForeColorDown(qint32 ole)
{
    m_foreColorDown = ole;
    repaintIfState(Down);
    changed(QStringLiteral("ForeColorDown"));
}

void VeilixButton::setForeColorDisabled(qint32 ole)
{
    m_foreColorDisabled = ole;
    repaintIfState(Disabled);
    changed(QStringLiteral("ForeColorDisabled"));
}

void VeilixButton::setLeftMouseButtonOnly(bool only)
{
    m_leftMouseButtonOnly = only;
    changed(QStringLiteral("LeftMouseButtonOnly"));
}

void VeilixButton::setTextOffsetOver(int pixels)
{
    m_textOffsetOver = bounded16(pixels);
    changed(QStringLiteral("TextOffsetOver"));
}

void VeilixButton::setTextOffsetDown(int pixels)
{
    m_textOffsetDown = bounded16(pixels);
    changed(QStringLiteral("TextOffsetDown"));
}

void VeilixButton::setShowFocusRect(bool show)
{
    m_showFocusRect = show;
    changed(QStringLiteral("ShowFocusRect"));
}

void VeilixButton::setAlignment(int alignment)
{
    m_alignment = alignment;
    refresh();
    changed(QStringLiteral("Alignment"));
}

double VeilixButton::ScaleX(double width, std::optional<int> fromScale, std::optional<int> toScale) const
{
    const double from = m_scale->modeFactorX(fromScale.value_or(8));
    const double to = m_scale->modeFactorX(toScale.value_or(m_scale->mode()));
    return from != 0 ? width / from * to : 0;
}

double VeilixButton::ScaleY(double height, std::optional<int> fromScale, std::optional<int> toScale) const
{
    const double from = m_scale->modeFactorY(fromScale.value_or(8));
    const double to = m_scale->modeFactorY(toScale.value_or(m_scale->mode()));
    return from != 0 ? height / from * to : 0;
}

int VeilixButton::TextWidth(const QString &text) const
{
    return m_picBut->TextWidth(text);
}

int VeilixButton::TextHeight(const QString &text) const
{
    return m_picBut->TextHeight(text);
}

// ---- input ------------------------------------------------------------------------------------

void VeilixButton::surfaceMouseDown(qint16 button, qint16 shift, float x, float y)
{
    m_lastButton = button;
    if (button == 2 && m_leftMouseButtonOnly)
        refresh();
    if (button != 1 && m_leftMouseButtonOnly)
        return;
    m_pressed = true;
    refresh();
    modUniversal::Yield();
    emit MouseDown(button, shift, x, y);
}

void VeilixButton::surfaceMouseMove(qint16 button, qint16 shift, float x, float y)
{
    m_pressed = button == 1 || (button == 2 && !m_leftMouseButtonOnly);
    const bool outside = x < 0 || x > m_picBut->ScaleWidth() || y < 0 || y > m_picBut->ScaleHeight();
    if (outside) {
        if (m_captured) {
            releaseCapture();
            m_mouseOver = false;
            m_pressed = false;
            refresh();
            emit MouseOut();
        }
    } else if (!m_captured) {
        capture();
        m_mouseOver = true;
        refresh();
        emit MouseIn();
    }
    modUniversal::Yield();
    emit MouseMove(button, shift, x, y);
}

void VeilixButton::surfaceMouseUp(qint16 button, qint16 shift, float x, float y)
{
    m_lastButton = button;
    releaseCapture();
    m_mouseOver = false;
    m_pressed = false;
    refresh();
    modUniversal::Yield();
    if (button != 1 && m_leftMouseButtonOnly)
        return;
    modUniversal::Yield();
    emit MouseUp(button, shift, x, y);
    modUniversal::Yield();
}

void VeilixButton::surfaceClick()
{
    m_captured = false;
    refresh();
    modUniversal::Yield();
    if (m_leftMouseButtonOnly && m_lastButton != 1)
        return;
    emit Click();
}

void VeilixButton::surfaceDblClick()
{
    m_captured = false;
    if (m_leftMouseButtonOnly && m_lastButton != 1)
        return;
    emit DblClick();
}

void VeilixButton::surfaceKeyDown(qint16 keyCode, qint16 shift)
{
    if (keyCode == 13 || keyCode == 32) {
        m_pressed = true;
        m_mouseOver = true;
        m_state = Down;
        refresh();
    }
    emit KeyDown(keyCode, shift);
}

void VeilixButton::surfaceKeyUp(qint16 keyCode, qint16 shift)
{
    if (keyCode == 13 || keyCode == 32) {
        m_pressed = false;
        m_mouseOver = false;
        m_state = Normal;
        refresh();
        m_lastButton = 1;
    }
    emit KeyUp(keyCode, shift);
}

bool VeilixButton::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_picBut)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *e = static_cast<QMouseEvent *>(event);
        m_pressInside = e->button() == Qt::LeftButton || e->button() == Qt::RightButton;
        m_afterDoubleClick = false;
        surfaceMouseDown(VeilixInternal::buttonCode(e->button()), VeilixInternal::shiftCode(e->modifiers()),
            float(e->position().x()), float(e->position().y()));
        return true;
    }
    case QEvent::MouseMove: {
        auto *e = static_cast<QMouseEvent *>(event);
        surfaceMouseMove(VeilixInternal::buttonsCode(e->buttons()), VeilixInternal::shiftCode(e->modifiers()),
            float(e->position().x()), float(e->position().y()));
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto *e = static_cast<QMouseEvent *>(event);
        const bool click = m_pressInside && !m_afterDoubleClick && m_picBut->rect().contains(e->position().toPoint());
        m_pressInside = false;
        m_afterDoubleClick = false;
        surfaceMouseUp(VeilixInternal::buttonCode(e->button()), VeilixInternal::shiftCode(e->modifiers()),
            float(e->position().x()), float(e->position().y()));
        if (click)
            surfaceClick();
        return true;
    }
    case QEvent::MouseButtonDblClick:
        m_pressInside = false;
        m_afterDoubleClick = true;
        surfaceDblClick();
        return true;
    case QEvent::KeyPress: {
        auto *e = static_cast<QKeyEvent *>(event);
        // Tab and Shift+Tab move the focus on, as from any other control.
        if (isFocusKey(e))
            return false;
        const qint16 code = VeilixInternal::keyCode(e);
        surfaceKeyDown(code, VeilixInternal::shiftCode(e->modifiers()));
        const QString text = e->text();
        if (!text.isEmpty() && text.at(0).unicode() < 0x8000) {
            qint16 ascii = qint16(text.at(0).unicode());
            emit KeyPress(ascii);
        }
        // Enter and Space are the button's own; every other key (Escape, shortcuts) goes on to
        // the parent as usual, once the host has seen it.
        if (isButtonKey(code))
            return true;
        e->ignore();
        return false;
    }
    case QEvent::KeyRelease: {
        auto *e = static_cast<QKeyEvent *>(event);
        if (isFocusKey(e))
            return false;
        const qint16 code = VeilixInternal::keyCode(e);
        if (!e->isAutoRepeat())
            surfaceKeyUp(code, VeilixInternal::shiftCode(e->modifiers()));
        if (isButtonKey(code))
            return true;
        e->ignore();
        return false;
    }
    case QEvent::FocusIn:
        m_hasFocus = true;
        refresh();
        break;
    case QEvent::FocusOut:
        m_hasFocus = false;
        refresh();
        break;
    case QEvent::Leave:
        // Should the window system not deliver moves outside during the capture, the leave
        // still ends the pointer's stay.
        if (m_captured) {
            releaseCapture();
            m_mouseOver = false;
            m_pressed = false;
            refresh();
            emit MouseOut();
        }
        break;
    case QEvent::Resize:
        emit Resize();
        break;
    case QEvent::FontChange:
        refresh();
        break;
    case QEvent::Paint:
        emit Paint();
        break;
    case QEvent::Hide:
        releaseCapture();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void VeilixButton::resizeEvent(QResizeEvent *)
{
    m_picBut->setGeometry(rect());
    m_picBut->resize(size()); // the surface follows at once, even while hidden
    refresh();
}

// ---- property bag -----------------------------------------------------------------------------

void VeilixButton::writeProperties(PropertyBag &bag) const
{
    const QVariant none = pic(VeilixPicture());
    bag.WriteProperty(QStringLiteral("Enabled"), isEnabled(), true);
    bag.WriteProperty(QStringLiteral("MouseIcon"), pic(m_mouseIcon), none);
    bag.WriteProperty(QStringLiteral("Caption"), m_caption, defaultCaption());
    bag.WriteProperty(QStringLiteral("PictureNormal"), pic(m_pictureNormal), none);
    bag.WriteProperty(QStringLiteral("PictureOver"), pic(m_pictureOver), none);
    bag.WriteProperty(QStringLiteral("PictureDown"), pic(m_pictureDown), none);
    bag.WriteProperty(QStringLiteral("BorderWidth"), int(m_borderWidth), 10);
    bag.WriteProperty(QStringLiteral("PictureDisabled"), pic(m_pictureDisabled), none);
    bag.WriteProperty(QStringLiteral("MousePointer"), m_mousePointer, 0);
    bag.WriteProperty(QStringLiteral("ScaleWidth"), ScaleWidth(), 117.0);
    bag.WriteProperty(QStringLiteral("ScaleHeight"), ScaleHeight(), 45.0);
    bag.WriteProperty(QStringLiteral("MouseIcon"), pic(m_mouseIcon), none);
    bag.WriteProperty(QStringLiteral("Font"), Font(), ambientFont(this));
    bag.WriteProperty(QStringLiteral("ForeColor"), m_foreColor, qint32(OleColor::ButtonText));
    bag.WriteProperty(QStringLiteral("ForeColorOver"), m_foreColorOver, qint32(OleColor::Light3D));
    bag.WriteProperty(QStringLiteral("ForeColorDown"), m_foreColorDown, qint32(OleColor::ButtonShadow));
    bag.WriteProperty(QStringLiteral("ForeColorDisabled"), m_foreColorDisabled, qint32(OleColor::GrayText));
    bag.WriteProperty(QStringLiteral("LeftMouseButtonOnly"), m_leftMouseButtonOnly, true);
    bag.WriteProperty(QStringLiteral("TextOffsetOver"), int(m_textOffsetOver), 0);
    bag.WriteProperty(QStringLiteral("TextOffsetDown"), int(m_textOffsetDown), 1);
    bag.WriteProperty(QStringLiteral("ShowFocusRect"), m_showFocusRect, true);
    bag.WriteProperty(QStringLiteral("Alignment"), m_alignment, 2);
}

void VeilixButton::readProperties(const PropertyBag &bag)
{
    const QVariant none = pic(VeilixPicture());
    setEnabledProperty(bag.ReadProperty(QStringLiteral("Enabled"), true).toBool());
    setFontProperty(bag.ReadProperty(QStringLiteral("Font"), ambientFont(this)).value<QFont>());
    setMouseIcon(bag.ReadProperty(QStringLiteral("MouseIcon"), none).value<VeilixPicture>());
    setPictureNormal(bag.ReadProperty(QStringLiteral("PictureNormal"), none).value<VeilixPicture>());
    setPictureOver(bag.ReadProperty(QStringLiteral("PictureOver"), none).value<VeilixPicture>());
    setPictureDown(bag.ReadProperty(QStringLiteral("PictureDown"), none).value<VeilixPicture>());
    setMouseIcon(bag.ReadProperty(QStringLiteral("MouseIcon"), none).value<VeilixPicture>());
    setPictureDisabled(bag.ReadProperty(QStringLiteral("PictureDisabled"), none).value<VeilixPicture>());
    setScaleWidth(bag.ReadProperty(QStringLiteral("ScaleWidth"), 117.0).toDouble());
    setScaleHeight(bag.ReadProperty(QStringLiteral("ScaleHeight"), 45.0).toDouble());
    setMousePointer(bag.ReadProperty(QStringLiteral("MousePointer"), 0).toInt());
    setCaption(bag.ReadProperty(QStringLiteral("Caption"), defaultCaption()).toString());
    setBorderWidth(bag.ReadProperty(QStringLiteral("BorderWidth"), 10).toInt());
    setForeColor(bag.ReadProperty(QStringLiteral("ForeColor"), qint32(OleColor::ButtonText)).toInt());
    setForeColorOver(bag.ReadProperty(QStringLiteral("ForeColorOver"), qint32(OleColor::Light3D)).toInt());
    setForeColorDown(bag.ReadProperty(QStringLiteral("ForeColorDown"), qint32(OleColor::ButtonShadow)).toInt());
    setForeColorDisabled(bag.ReadProperty(QStringLiteral("ForeColorDisabled"), qint32(OleColor::GrayText)).toInt());
    setLeftMouseButtonOnly(bag.ReadProperty(QStringLiteral("LeftMouseButtonOnly"), true).toBool());

    // A loaded button starts in its normal state; the remaining properties show at the next paint.
    m_state = Normal;
    m_picBut->setGeometry(rect());
    modUniversal::Yield();
    refresh();

    m_textOffsetOver = bounded16(bag.ReadProperty(QStringLiteral("TextOffsetOver"), 0).toInt());
    m_textOffsetDown = bounded16(bag.ReadProperty(QStringLiteral("TextOffsetDown"), 1).toInt());
    m_showFocusRect = bag.ReadProperty(QStringLiteral("ShowFocusRect"), true).toBool();
    m_alignment = bag.ReadProperty(QStringLiteral("Alignment"), 2).toInt();
}
