#include "VeilixControl/modUniversal.h"

#include "MaskScanner.h"

#include "VeilixControl/DrawSurface.h"
#include "VeilixControl/OleColor.h"
#include "VeilixControl/VeilixDragBar.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <cmath>

namespace {

const char *const FormPictureKey = "_veilix_formPicture";
const char *const ForeColorKey = "ForeColor";
const char *const BackColorKey = "BackColor";

qint16 roundToInt16(double v)
{
    const double r = std::nearbyint(v); // to nearest, halves to even
    return qint16(std::clamp(r, -32768.0, 32767.0));
}

bool isPictureBox(const QWidget *w)
{
    if (w->metaObject() != &QFrame::staticMetaObject)
        return false;
    const auto *frame = static_cast<const QFrame *>(w);
    return frame->frameShape() != QFrame::HLine && frame->frameShape() != QFrame::VLine;
}

bool isColouredControl(const QWidget *w)
{
    return qobject_cast<const QLabel *>(w) || qobject_cast<const QCheckBox *>(w) || qobject_cast<const QGroupBox *>(w)
        || qobject_cast<const QRadioButton *>(w);
}

// The form's controls in the form's own order: children first to last, descending into plain
// containers and group boxes but never into the inner parts of other controls.
void collectControls(QWidget *parent, QList<QWidget *> &out)
{
    for (QObject *child : parent->children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (!w || w->isWindow())
            continue;
        out.append(w);
        if (w->metaObject() == &QWidget::staticMetaObject || qobject_cast<QGroupBox *>(w))
            collectControls(w, out);
    }
}

void paintPictureBox(QFrame *box, const QImage &formPicture, const QPoint &offset)
{
    const QRect contents = box->contentsRect();
    QImage face(box->size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    face.fill(OleColor::toQColor(modUniversal::ControlBackColor(box), box->palette()));
    if (!formPicture.isNull()) {
        QPainter p(&face);
        p.drawImage(contents.topLeft(), formPicture, QRect(offset + contents.topLeft(), contents.size()));
    }
    QPalette pal = box->palette();
    pal.setBrush(QPalette::Window, QBrush(face));
    box->setPalette(pal);
    box->setAutoFillBackground(true);
    box->update();
}

void setRoles(QWidget *w, std::initializer_list<QPalette::ColorRole> roles, const QColor &color)
{
    QPalette pal = w->palette();
    for (QPalette::ColorRole role : roles) {
        for (QPalette::ColorGroup g : { QPalette::Active, QPalette::Inactive })
            pal.setColor(g, role, color);
    }
    w->setPalette(pal);
}

std::optional<QList<QRect>> maskRects(const QImage &source, qint32 maskColor)
{
    if (!modUniversal::IsMaskDepth(source))
        return std::nullopt;
    qint16 red = 0, green = 0, blue = 0;
    modUniversal::SplitColor(maskColor, red, green, blue);
    // Only an RGB colour can match: a system colour (or a value with other high bits) has no
    // pixel of its colour, so nothing becomes transparent.
    const bool matchable = !OleColor::isSystemColor(maskColor) && (quint32(maskColor) & 0xFF000000u) == 0;
    const auto r = uchar(red), g = uchar(green), b = uchar(blue);
    if (!matchable) { // every pixel is opaque: one run per row
        QList<QRect> rows;
        for (int y = 0; y < source.height(); ++y)
            rows.append(QRect(0, y, source.width(), 1));
        return rows;
    }

    QImage img = source;
    switch (img.format()) {
    case QImage::Format_RGB888:
        return scanMaskRuns(img, 3, r, g, b);
    case QImage::Format_BGR888:
        return scanMaskRuns(img, 3, b, g, r);
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
        return scanMaskRuns(img, 4, r, g, b);
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        break; // 0xAARRGGBB words: bytes blue, green, red, alpha
    default:
        // The remaining 24- and 32-bit formats are read through their plain equivalent.
        img = img.depth() == 24 ? img.convertToFormat(QImage::Format_RGB888)
                                : img.convertToFormat(QImage::Format_RGB32);
        if (img.format() == QImage::Format_RGB888)
            return scanMaskRuns(img, 3, r, g, b);
        break;
    }
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "32-bit pixels are read as little-endian words");
    return scanMaskRuns(img, 4, b, g, r);
}

} // namespace

namespace modUniversal {

void SplitColor(qint32 color, qint16 &red, qint16 &green, qint16 &blue)
{
    const qint64 v = color;
    const qint64 b = qint64(std::floor(double(v) / 65536.0));
    const qint64 g = qint64(std::floor(double(v - b * 65536) / 256.0));
    const qint64 r = v - (g * 256 + b * 65536);
    blue = qint16(b);
    green = qint16(g);
    red = qint16(r);
}

bool IsMaskDepth(const QImage &mask)
{
    return !mask.isNull() && (mask.depth() == 24 || mask.depth() == 32);
}

QList<QRect> MaskRuns(const QImage &mask, qint32 maskColor)
{
    return maskRects(mask, maskColor).value_or(QList<QRect>());
}

std::optional<QRegion> BuildMaskRegion(const QImage &mask, qint32 maskColor)
{
    const std::optional<QList<QRect>> rects = maskRects(mask, maskColor);
    if (!rects)
        return std::nullopt;
    QRegion region;
    if (!rects->isEmpty())
        region.setRects(rects->constData(), int(rects->size()));
    return region;
}

QImage FormPicture(const QWidget *form)
{
    return form ? form->property(FormPictureKey).value<QImage>() : QImage();
}

void SetFormPicture(QWidget *form, const QImage &picture)
{
    if (!form)
        return;
    QPalette pal = form->palette();
    if (picture.isNull()) {
        if (!form->property(FormPictureKey).isValid())
            return; // no picture of ours to take away: the form keeps its own look
        form->setProperty(FormPictureKey, QVariant());
        pal.setBrush(QPalette::Window, QApplication::palette(form).brush(QPalette::Window));
    } else {
        form->setProperty(FormPictureKey, QVariant::fromValue(picture));
        pal.setBrush(QPalette::Window, QBrush(picture));
    }
    form->setPalette(pal);
    form->setAutoFillBackground(true);
    form->update();
}

qint32 ControlForeColor(const QWidget *control)
{
    const QVariant v = control->property(ForeColorKey);
    return v.isValid() ? v.toInt() : OleColor::ButtonText;
}

qint32 ControlBackColor(const QWidget *control)
{
    const QVariant v = control->property(BackColorKey);
    return v.isValid() ? v.toInt() : OleColor::ButtonFace;
}

void SetControlForeColor(QWidget *control, qint32 ole)
{
    control->setProperty(ForeColorKey, ole);
    const QColor c = OleColor::toQColor(ole, QApplication::palette(control));
    setRoles(control, { QPalette::WindowText, QPalette::Text, QPalette::ButtonText }, c);
}

void SetControlBackColor(QWidget *control, qint32 ole)
{
    control->setProperty(BackColorKey, ole);
    const QColor c = OleColor::toQColor(ole, QApplication::palette(control));
    if (qobject_cast<QPushButton *>(control)) {
        setRoles(control, { QPalette::Button }, c);
        return;
    }
    setRoles(control, { QPalette::Window }, c);
    // The default colour gives a label its usual look: no background of its own.
    control->setAutoFillBackground(ole != OleColor::ButtonFace);
}

bool PaintControls(QWidget *form, bool painting, qint32 foreColor, qint32 backColor)
{
    if (!form)
        return false;
    const QImage picture = FormPicture(form);
    QList<QWidget *> controls;
    collectControls(form, controls);
    for (QWidget *w : controls) {
        if (auto *bar = qobject_cast<VeilixDragBar *>(w)) {
            const int mode = bar->ScaleMode();
            bar->setScaleMode(3);
            if (!picture.isNull()) {
                const QPoint at = bar->mapTo(form, QPoint(0, 0));
                bar->PaintPicture(VeilixPicture(picture), 0, 0, bar->ScaleWidth(), bar->ScaleHeight(), at.x(), at.y(),
                    bar->width(), bar->height());
            } else {
                bar->Cls();
            }
            bar->setScaleMode(mode);
            Yield();
        } else if (isPictureBox(w)) {
            auto *box = static_cast<QFrame *>(w);
            if (!painting) {
                paintPictureBox(box, QImage(), QPoint());
                Yield();
                continue;
            }
            paintPictureBox(box, picture, box->mapTo(form, QPoint(0, 0)));
            Yield();
        } else if (isColouredControl(w)) {
            if (painting) {
                SetControlForeColor(w, foreColor);
                SetControlBackColor(w, backColor);
            } else {
                if (ControlForeColor(w) == foreColor)
                    SetControlForeColor(w, OleColor::ButtonText);
                if (ControlBackColor(w) == backColor)
                    SetControlBackColor(w, OleColor::ButtonFace);
            }
            Yield();
        } else if (qobject_cast<QPushButton *>(w)) {
            const bool graphical = w->property("Style").toInt() == 1;
            if (painting && graphical)
                SetControlBackColor(w, backColor);
            if (!painting && graphical && ControlBackColor(w) == backColor)
                SetControlBackColor(w, OleColor::ButtonFace);
            Yield();
        }
    }
    Yield();
    return true;
}

bool PaintSkin(DrawSurface *surface, const VeilixPicture &picture, qint16 &border)
{
    if (!picture.hasImage()) {
        surface->Cls();
        Yield();
        return true;
    }
    if (border == 0)
        border = 1;
    const int w = picture.width();
    const int h = picture.height();
    if (w + h == 0) {
        surface->Cls();
        Yield();
        return true;
    }
    int b = border;
    if (h <= 2 * b || w <= 2 * b) {
        while (b > 0 && h <= 2 * b)
            --b;
        while (b > 0 && w <= 2 * b)
            --b;
        border = qint16(b);
        surface->Cls();
        Yield();
        return true;
    }
    surface->Cls();
    const int W = surface->ScaleWidth();
    const int H = surface->ScaleHeight();
    const QImage &img = picture.image();
    auto piece = [&](int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh) {
        surface->PaintPicture(img, QRectF(dx, dy, dw, dh), QRectF(sx, sy, sw, sh));
    };
    piece(0, 0, b, b, 0, 0, b, b); // top-left corner
    piece(0, b, b, H - 2 * b, 0, b, b, h - 2 * b); // left edge
    piece(0, H - b, b, b, 0, h - b, b, b); // bottom-left corner
    piece(b, 0, W - 2 * b, b, b, 0, w - 2 * b, b); // top edge
    piece(b, H - b, W - 2 * b, b, b, h - b, w - 2 * b, b); // bottom edge
    piece(W - b, 0, b, b, w - b, 0, b, b); // top-right corner
    piece(W - b, H - b, b, b, w - b, h - b, b, b); // bottom-right corner
    piece(W - b, b, b, H - 2 * b, w - b, b, b, h - 2 * b); // right edge
    piece(b, b, W - 2 * b, H - 2 * b, b, b, w - 2 * b, h - 2 * b); // centre
    return true;
}

bool PaintCaption(DrawSurface *surface, const QString &caption, bool hasFocus, bool showFocusRect, int offset,
    int alignment, qint16 &border)
{
    if (caption.trimmed().isEmpty())
        return true;
    const double tw = surface->TextWidth(caption);
    const double th = surface->TextHeight(caption);
    const double W = surface->ScaleWidth();
    const double H = surface->ScaleHeight();
    const int b = border;
    qint16 x = 0;
    qint16 y = 0;
    switch (alignment) {
    case 0:
        x = roundToInt16(b + 1);
        break;
    case 1:
        x = roundToInt16(W - (b + tw + 1));
        break;
    case 2:
        x = roundToInt16(W / 2 - tw / 2);
        break;
    default:
        break;
    }
    if (alignment >= 0 && alignment <= 2)
        y = roundToInt16(H / 2 - th / 2);
    if (offset != 0) {
        x = qint16(x + offset);
        y = qint16(y + offset);
    }
    surface->Print(x, y, caption);
    if (hasFocus && showFocusRect) {
        // The edge, and a ring in the desktop's highlight colour just inside it: a skin's own
        // border would otherwise hide the edge, and the focused button would look like the rest.
        surface->setForeColor(OleColor::DarkShadow3D);
        surface->DrawBox(0, 0, int(W) - 1, int(H) - 1);
        if (W > 6 && H > 6) {
            surface->setForeColor(OleColor::Highlight);
            surface->DrawBox(2, 2, int(W) - 3, int(H) - 3);
        }
    }
    Yield();
    return true;
}

} // namespace modUniversal
