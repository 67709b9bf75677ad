#include "dialogs/Skin.h"

#include "VeilixControl/VeilixButton.h"
#include "VeilixControl/VeilixDragBar.h"
#include "VeilixControl/VeilixPicture.h"

#include <QEvent>
#include <QLabel>

namespace {

// OLE colours (0x00BBGGRR) of the captions.
constexpr qint32 Navy = 0x00482A1B;
constexpr qint32 White = 0x00FFFFFF;
constexpr qint32 Grey = 0x00A0938A;
constexpr int ButtonBorder = 6;
constexpr int TitleButtonBorder = 3;

VeilixPicture picture(const QString &name, qreal ratio)
{
    return VeilixPicture::fromFile(QStringLiteral(":/vistelle/skin/") + name + QStringLiteral(".png"), ratio);
}

// Paints the title-bar picture over the whole bar when it is shown or resized (the bar keeps what
// is painted into it, and a new size or screen needs the picture again).
class TitleBarPainter final : public QObject
{
public:
    explicit TitleBarPainter(VeilixDragBar *bar)
        : QObject(bar)
        , m_bar(bar)
    {
        bar->installEventFilter(this);
        paint();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_bar && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
            paint();
        return false;
    }

private:
    void paint()
    {
        const qreal ratio = m_bar->devicePixelRatioF();
        if (m_picture.isNone() || ratio != m_ratio) {
            m_picture = picture(QStringLiteral("titlebar"), ratio);
            m_ratio = ratio;
        }
        m_bar->Cls();
        // In pixels: the bar's scale is set to pixels by applyTitleBar.
        m_bar->PaintPicture(
            m_picture, 0, 0, m_bar->width(), m_bar->height(), 0, 0, m_picture.width(), m_picture.height());
    }

    VeilixDragBar *m_bar;
    VeilixPicture m_picture;
    qreal m_ratio = 0;
};

} // namespace

namespace Skin {

void applyButton(VeilixButton *button)
{
    const qreal ratio = button->devicePixelRatioF();
    button->setPictureNormal(picture(QStringLiteral("button-normal"), ratio));
    button->setPictureOver(picture(QStringLiteral("button-over"), ratio));
    button->setPictureDown(picture(QStringLiteral("button-down"), ratio));
    button->setPictureDisabled(picture(QStringLiteral("button-disabled"), ratio));
    button->setBorderWidth(ButtonBorder);
    button->setForeColor(Navy);
    button->setForeColorOver(Navy);
    button->setForeColorDown(White);
    button->setForeColorDisabled(Grey);
}

void applyTitleButton(VeilixButton *button, TitleButton kind)
{
    const qreal ratio = button->devicePixelRatioF();
    const QString glyph = kind == TitleButton::Minimize ? QStringLiteral("minimize") : QStringLiteral("close");
    const VeilixPicture normal = picture(glyph + QStringLiteral("-normal"), ratio);
    button->setPictureNormal(normal);
    button->setPictureOver(picture(glyph + QStringLiteral("-over"), ratio));
    button->setPictureDown(picture(glyph + QStringLiteral("-down"), ratio));
    button->setPictureDisabled(normal);
    button->setBorderWidth(TitleButtonBorder);
    button->setCaption(QString());
    button->setFixedSize(TitleButtonSize, TitleButtonSize);
    const QString name = kind == TitleButton::Minimize ? QStringLiteral("Minimize") : QStringLiteral("Close");
    button->setAccessibleName(name);
    button->setToolTip(name);
}

void applyTitleBar(VeilixDragBar *bar)
{
    bar->setScaleMode(3); // pixels
    QFont font = bar->parentWidget() ? bar->parentWidget()->font() : bar->font();
    font.setBold(true);
    bar->setFontProperty(font);
    bar->setForeColor(White);
    bar->setFixedHeight(TitleBarHeight);
    bar->LayoutCaption();
    new TitleBarPainter(bar);
}

QColor windowBorderColor()
{
    return QColor(0x1B, 0x2A, 0x48);
}

} // namespace Skin
