#include "VeilixControl/VeilixDragBar.h"

#include "Cursors.h"
#include "ScaleModel.h"
#include "VeilixControl/DrawSurface.h"
#include "VeilixControl/OleColor.h"
#include "VeilixControl/PropertyBag.h"
#include "VeilixControl/modUniversal.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <cmath>

namespace {

VeilixDragBar::SystemMoveFn &systemMoveFn()
{
    static VeilixDragBar::SystemMoveFn fn;
    return fn;
}

int compositionFor(int opcode)
{
    switch (opcode) {
    case 0x8800C6:
        return QPainter::RasterOp_SourceAndDestination;
    case 0xEE0086:
        return QPainter::RasterOp_SourceOrDestination;
    case 0x660046:
        return QPainter::RasterOp_SourceXorDestination;
    case 0x330008:
        return QPainter::RasterOp_NotSource;
    default:
        return QPainter::CompositionMode_SourceOver;
    }
}

QFont ambientFont(const QWidget *w)
{
    return w->parentWidget() ? w->parentWidget()->font() : QApplication::font();
}

} // namespace

VeilixDragBar::VeilixDragBar(QWidget *parent)
    : QWidget(parent)
    , m_surface(new DrawSurface(this))
    , m_lblCaption(new QLabel(this))
    , m_scale(std::make_unique<ScaleModel>(1))
{
    setMouseTracking(true); // every move over the bar raises MouseMove
    m_surface->setObjectName(QStringLiteral("surface"));
    m_surface->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_lblCaption->setObjectName(QStringLiteral("lblCaption"));
    m_lblCaption->setTextFormat(Qt::PlainText);
    m_lblCaption->setAttribute(Qt::WA_TranslucentBackground);
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(8.25);
    setFont(font); // the label takes the bar's font
    m_lblCaption->installEventFilter(this);
    resize(sizeHint());
    m_surface->setGeometry(rect());
    setForeColor(m_foreColor);
    setCaption(newInstanceCaption());
}

VeilixDragBar::~VeilixDragBar() = default;

void VeilixDragBar::setSystemMoveFn(SystemMoveFn fn)
{
    systemMoveFn() = std::move(fn);
}

void VeilixDragBar::changed(const QString &name)
{
    emit propertyChanged(name);
}

void VeilixDragBar::applyCursor()
{
    QCursor cursor;
    if (VeilixInternal::cursorFor(m_mousePointer, m_mouseIcon, &cursor))
        setCursor(cursor);
    else
        unsetCursor();
}

void VeilixDragBar::setMousePointer(int pointer)
{
    m_mousePointer = qint16(pointer);
    applyCursor();
    changed(QStringLiteral("MousePointer"));
}

void VeilixDragBar::setMouseIcon(const VeilixPicture &icon)
{
    m_mouseIcon = icon;
    applyCursor();
    changed(QStringLiteral("MouseIcon"));
}

void VeilixDragBar::setEnabledProperty(bool enabled)
{
    setEnabled(enabled);
    changed(QStringLiteral("Enabled"));
}

int VeilixDragBar::ScaleMode() const
{
    return m_scale->mode();
}

void VeilixDragBar::setScaleMode(int mode)
{
    m_scale->setMode(mode);
    changed(QStringLiteral("ScaleMode"));
}

QFont VeilixDragBar::Font() const
{
    return font();
}

void VeilixDragBar::setFontProperty(const QFont &font)
{
    setFont(font); // the label resizes itself but keeps its place: no new layout for a font
    changed(QStringLiteral("Font"));
}

QString VeilixDragBar::Caption() const
{
    return m_lblCaption->text();
}

void VeilixDragBar::setCaption(const QString &caption)
{
    const bool differs = m_lblCaption->text() != caption;
    m_lblCaption->setText(caption);
    m_lblCaption->adjustSize();
    if (differs)
        LayoutCaption();
    changed(QStringLiteral("Caption"));
}

void VeilixDragBar::setAlignment(int alignment)
{
    m_alignment = alignment;
    m_lblCaption->setAlignment(alignment == 1 ? Qt::AlignRight : alignment == 2 ? Qt::AlignHCenter : Qt::AlignLeft);
    LayoutCaption();
    changed(QStringLiteral("Alignment"));
}

void VeilixDragBar::setForeColor(qint32 ole)
{
    m_foreColor = ole;
    QPalette pal = m_lblCaption->palette();
    pal.setColor(QPalette::WindowText, OleColor::toQColor(ole, palette()));
    m_lblCaption->setPalette(pal);
    changed(QStringLiteral("ForeColor"));
}

double VeilixDragBar::ScaleWidth() const
{
    return m_scale->width(width());
}

void VeilixDragBar::setScaleWidth(double width)
{
    m_scale->setWidth(width, this->width());
    changed(QStringLiteral("ScaleWidth"));
}

double VeilixDragBar::ScaleHeight() const
{
    return m_scale->height(height());
}

void VeilixDragBar::setScaleHeight(double height)
{
    m_scale->setHeight(height, this->height());
    changed(QStringLiteral("ScaleHeight"));
}

void VeilixDragBar::PaintPicture(const VeilixPicture &picture, double X1, double Y1, std::optional<double> Width1,
    std::optional<double> Height1, std::optional<double> X2, std::optional<double> Y2, std::optional<double> Width2,
    std::optional<double> Height2, std::optional<int> Opcode)
{
    if (!picture.hasImage())
        return; // nothing to draw; errors are ignored
    const double pw = picture.width();
    const double ph = picture.height();
    const ScaleModel &s = *m_scale;
    const QRectF dest(
        s.toPixelsX(X1), s.toPixelsY(Y1), Width1 ? s.toPixelsX(*Width1) : pw, Height1 ? s.toPixelsY(*Height1) : ph);
    const QRectF source(X2 ? s.toPixelsX(*X2) : 0, Y2 ? s.toPixelsY(*Y2) : 0, Width2 ? s.toPixelsX(*Width2) : pw,
        Height2 ? s.toPixelsY(*Height2) : ph);
    m_surface->PaintPicture(picture.image(), dest, source, compositionFor(Opcode.value_or(0xCC0020)));
    modUniversal::Yield();
}

void VeilixDragBar::Cls()
{
    m_surface->Cls();
}

QImage VeilixDragBar::Image() const
{
    return m_surface->image();
}

void VeilixDragBar::LayoutCaption()
{
    const ScaleModel &s = *m_scale;
    const double scaleWidth = s.width(width());
    const double scaleHeight = s.height(height());
    const double labelWidth = s.width(m_lblCaption->width());
    const double labelHeight = s.height(m_lblCaption->height());
    const double top = scaleHeight / 2 - labelHeight / 2;
    double left = s.width(m_lblCaption->x());
    switch (m_alignment) {
    case 0:
        left = 4;
        break;
    case 1:
        left = scaleWidth - (labelWidth + 4);
        break;
    case 2:
        left = scaleWidth / 2 - labelWidth / 2;
        break;
    default:
        break;
    }
    m_lblCaption->move(int(std::lround(s.toPixelsX(left))), int(std::lround(s.toPixelsY(top))));
}

void VeilixDragBar::resizeEvent(QResizeEvent *)
{
    m_surface->setGeometry(rect());
    LayoutCaption();
}

void VeilixDragBar::startDrag(QMouseEvent *event, QWidget *source)
{
    const QPointF at = source->mapTo(this, event->position().toPoint());
    qint16 button = VeilixInternal::buttonCode(event->button());
    qint16 shift = VeilixInternal::shiftCode(event->modifiers());
    float x = float(at.x() * m_scale->unitsPerPixelX());
    float y = float(at.y() * m_scale->unitsPerPixelY());
    emit MouseDown(button, shift, x, y);
    QWidget *top = window();
    QWindow *handle = top ? top->windowHandle() : nullptr;
    bool moving = false;
    // The window system's move follows the left button only: an X11 window manager ends it at
    // once when another button is held. Other buttons move the window here.
    if (handle && event->button() == Qt::LeftButton) {
        if (systemMoveFn())
            moving = systemMoveFn()(handle);
        else
            moving = handle->startSystemMove();
    }
    if (!moving && top) {
        // Follow the pointer until the button is released; MouseUp comes then.
        m_manualDrag = true;
        m_dragButton = event->button();
        m_dragOffset = event->globalPosition().toPoint() - top->frameGeometry().topLeft();
        m_dragUp = { button, shift, x, y };
        return;
    }
    emit MouseUp(button, shift, x, y);
}

bool VeilixDragBar::endManualDrag(QMouseEvent *event)
{
    if (!m_manualDrag || event->button() != m_dragButton)
        return false;
    m_manualDrag = false;
    DragArguments up = m_dragUp;
    emit MouseUp(up.button, up.shift, up.x, up.y);
    return true;
}

void VeilixDragBar::dragMove(QMouseEvent *event)
{
    if (QWidget *top = window())
        top->move(event->globalPosition().toPoint() - m_dragOffset);
}

void VeilixDragBar::mousePressEvent(QMouseEvent *event)
{
    if (m_manualDrag)
        return; // another button during a drag
    m_pressedOnBar = true;
    startDrag(event, this);
}

void VeilixDragBar::mouseMoveEvent(QMouseEvent *event)
{
    if (m_manualDrag && (event->buttons() != Qt::NoButton)) {
        dragMove(event);
        return;
    }
    qint16 button = VeilixInternal::buttonsCode(event->buttons());
    qint16 shift = VeilixInternal::shiftCode(event->modifiers());
    float x = float(event->position().x() * m_scale->unitsPerPixelX());
    float y = float(event->position().y() * m_scale->unitsPerPixelY());
    emit MouseMove(button, shift, x, y);
}

void VeilixDragBar::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_manualDrag && !endManualDrag(event))
        return; // another button during a drag
    const bool click = m_pressedOnBar && rect().contains(event->position().toPoint());
    m_pressedOnBar = false;
    if (click)
        emit Click();
}

void VeilixDragBar::mouseDoubleClickEvent(QMouseEvent *)
{
    m_pressedOnBar = false;
    emit DblClick();
}

bool VeilixDragBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_lblCaption) {
        switch (event->type()) {
        case QEvent::FontChange:
            m_lblCaption->adjustSize();
            break;
        case QEvent::MouseButtonPress:
            if (!m_manualDrag)
                startDrag(static_cast<QMouseEvent *>(event), m_lblCaption);
            return true;
        case QEvent::MouseMove:
            if (m_manualDrag)
                dragMove(static_cast<QMouseEvent *>(event));
            return true;
        case QEvent::MouseButtonRelease:
            endManualDrag(static_cast<QMouseEvent *>(event));
            return true;
        case QEvent::MouseButtonDblClick:
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void VeilixDragBar::writeProperties(PropertyBag &bag) const
{
    bag.WriteProperty(QStringLiteral("MousePointer"), m_mousePointer, 0);
    bag.WriteProperty(
        QStringLiteral("MouseIcon"), QVariant::fromValue(m_mouseIcon), QVariant::fromValue(VeilixPicture()));
    bag.WriteProperty(QStringLiteral("Enabled"), isEnabled(), true);
    bag.WriteProperty(QStringLiteral("ScaleMode"), ScaleMode(), 1);
    bag.WriteProperty(QStringLiteral("Font"), Font(), ambientFont(this));
    bag.WriteProperty(QStringLiteral("Caption"), Caption(), defaultCaption());
    bag.WriteProperty(QStringLiteral("Alignment"), m_alignment, 0);
    bag.WriteProperty(QStringLiteral("ForeColor"), m_foreColor, qint32(OleColor::ButtonText));
    bag.WriteProperty(QStringLiteral("ScaleWidth"), ScaleWidth(), 2175.0);
    bag.WriteProperty(QStringLiteral("ScaleHeight"), ScaleHeight(), 270.0);
}

void VeilixDragBar::readProperties(const PropertyBag &bag)
{
    setMousePointer(bag.ReadProperty(QStringLiteral("MousePointer"), 0).toInt());
    setMouseIcon(
        bag.ReadProperty(QStringLiteral("MouseIcon"), QVariant::fromValue(VeilixPicture())).value<VeilixPicture>());
    setEnabledProperty(bag.ReadProperty(QStringLiteral("Enabled"), true).toBool());
    setScaleMode(bag.ReadProperty(QStringLiteral("ScaleMode"), 1).toInt());
    setFontProperty(bag.ReadProperty(QStringLiteral("Font"), ambientFont(this)).value<QFont>());
    setCaption(bag.ReadProperty(QStringLiteral("Caption"), defaultCaption()).toString());
    setAlignment(bag.ReadProperty(QStringLiteral("Alignment"), 0).toInt());
    setForeColor(bag.ReadProperty(QStringLiteral("ForeColor"), qint32(OleColor::ButtonText)).toInt());
    setScaleWidth(bag.ReadProperty(QStringLiteral("ScaleWidth"), 2175.0).toDouble());
    setScaleHeight(bag.ReadProperty(QStringLiteral("ScaleHeight"), 270.0).toDouble());
}
