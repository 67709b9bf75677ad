#include "VeilixControl/Veilix.h"

#include "VeilixControl/OleColor.h"
#include "VeilixControl/PropertyBag.h"
#include "VeilixControl/modUniversal.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>

namespace {

Veilix::MessageFn &messageFn()
{
    static Veilix::MessageFn fn;
    return fn;
}

void showMessage(QWidget *parent, const QString &text)
{
    if (messageFn()) {
        messageFn()(parent, text);
        return;
    }
    auto *box = new QMessageBox(
        QMessageBox::Warning, QGuiApplication::applicationDisplayName(), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->open();
}

QVariant pic(const VeilixPicture &p)
{
    return QVariant::fromValue(p);
}

} // namespace

Veilix::Veilix(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(32, 32);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

Veilix::~Veilix() = default;

void Veilix::setMessageFn(MessageFn fn)
{
    messageFn() = std::move(fn);
}

QWidget *Veilix::hostForm() const
{
    if (m_designMode)
        return parentWidget();
    return parentWidget() ? window() : nullptr;
}

void Veilix::changed(const QString &name)
{
    emit propertyChanged(name);
}

void Veilix::makeBorderless(QWidget *form)
{
    if (m_designMode || !form || !form->isWindow() || (form->windowFlags() & Qt::FramelessWindowHint))
        return;
    const bool visible = form->isVisible();
    if (visible && m_inShow) {
        // A window cannot change its flags while it is being shown: right after, then.
        QTimer::singleShot(0, this, [this] { makeBorderless(hostForm()); });
        return;
    }
    form->setWindowFlag(Qt::FramelessWindowHint, true);
    if (visible)
        form->show();
}

bool Veilix::PaintBackground()
{
    QWidget *form = hostForm();
    if (!form)
        return true;
    makeBorderless(form);
    if (!m_picture.hasImage()) {
        modUniversal::SetFormPicture(form, QImage());
        modUniversal::Yield();
        if (modUniversal::PaintControls(form, m_controlPainting, m_controlForeColor, m_controlBackColor))
            modUniversal::Yield();
        return true;
    }
    modUniversal::SetFormPicture(form, m_picture.image());
    // Borderless, the whole window is then exactly the picture.
    form->resize(m_picture.size());
    modUniversal::Yield();
    if (modUniversal::PaintControls(form, m_controlPainting, m_controlForeColor, m_controlBackColor))
        modUniversal::Yield();
    return true;
}

bool Veilix::ApplyTransparency()
{
    QWidget *form = hostForm();
    if (!form)
        return true;
    makeBorderless(form);
    const VeilixPicture &source = !m_maskPicture.isNone() ? m_maskPicture : m_picture;
    if (source.isNone())
        return true;
    const std::optional<QRegion> region = modUniversal::BuildMaskRegion(source.image(), m_maskColor);
    if (!region) {
        showMessage(form, depthMessage());
    } else {
        if (region->isEmpty())
            form->clearMask(); // no opaque pixel: the whole rectangle shows
        else
            form->setMask(*region);
        m_isMasked = true;
    }
    modUniversal::Yield();
    form->update();
    return true;
}

bool Veilix::RemoveTransparency()
{
    if (QWidget *form = hostForm())
        form->clearMask();
    m_isMasked = false;
    return true;
}

void Veilix::setPicture(const VeilixPicture &picture)
{
    m_picture = picture;
    changed(QStringLiteral("Picture"));
    PaintBackground();
}

void Veilix::setMaskPicture(const VeilixPicture &picture)
{
    m_maskPicture = picture;
    changed(QStringLiteral("MaskPicture"));
}

void Veilix::setControlPainting(bool painting)
{
    m_controlPainting = painting;
    changed(QStringLiteral("ControlPainting"));
    PaintBackground();
}

void Veilix::setControlBackColor(qint32 ole)
{
    m_controlBackColor = ole;
    changed(QStringLiteral("ControlBackColor"));
    PaintBackground();
}

void Veilix::setControlForeColor(qint32 ole)
{
    m_controlForeColor = ole;
    changed(QStringLiteral("ControlForeColor"));
    PaintBackground();
}

void Veilix::setMaskColor(qint32 ole)
{
    m_maskColor = ole;
    changed(QStringLiteral("MaskColor"));
}

void Veilix::writeProperties(PropertyBag &bag) const
{
    bag.WriteProperty(QStringLiteral("Picture"), pic(m_picture), pic(VeilixPicture()));
    bag.WriteProperty(QStringLiteral("MaskPicture"), pic(m_maskPicture), pic(VeilixPicture()));
    bag.WriteProperty(QStringLiteral("ControlPainting"), m_controlPainting, false);
    bag.WriteProperty(QStringLiteral("IsMasked"), m_isMasked, false);
    bag.WriteProperty(QStringLiteral("ControlBackColor"), m_controlBackColor, qint32(OleColor::ButtonFace));
    bag.WriteProperty(QStringLiteral("ControlForeColor"), m_controlForeColor, qint32(OleColor::ButtonText));
    bag.WriteProperty(QStringLiteral("MaskColor"), m_maskColor, qint32(OleColor::Magenta));
}

void Veilix::readProperties(const PropertyBag &bag)
{
    // The values only: the host applies the shape itself when it wants it.
    m_picture = bag.ReadProperty(QStringLiteral("Picture"), pic(VeilixPicture())).value<VeilixPicture>();
    m_maskPicture = bag.ReadProperty(QStringLiteral("MaskPicture"), pic(VeilixPicture())).value<VeilixPicture>();
    m_controlPainting = bag.ReadProperty(QStringLiteral("ControlPainting"), false).toBool();
    m_isMasked = bag.ReadProperty(QStringLiteral("IsMasked"), false).toBool();
    m_controlBackColor = bag.ReadProperty(QStringLiteral("ControlBackColor"), qint32(OleColor::ButtonFace)).toInt();
    m_controlForeColor = bag.ReadProperty(QStringLiteral("ControlForeColor"), qint32(OleColor::ButtonText)).toInt();
    m_maskColor = bag.ReadProperty(QStringLiteral("MaskColor"), qint32(OleColor::Magenta)).toInt();
}

void Veilix::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_inShow = true;
    PaintBackground();
    m_inShow = false;
}

void Veilix::paintEvent(QPaintEvent *)
{
    if (!m_designMode)
        return; // nothing of the control shows at run time
    QPainter p(this);
    p.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DashLine));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.drawText(rect(), Qt::AlignCenter, QStringLiteral("V"));
}
