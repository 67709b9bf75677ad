#include "VeilixControl/modUniversal.h"

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
#include <vector>

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
    return qobject_cast<const QLabel *>(w) || qobject_cast<const QCheckBox *>(w)
        || qobject_cast<const QGroupBox *>(w) || qobject_cast<const QRadioButton *>(w);
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
        p.drawImage(contents.topLeft(), formPicture,
                    QRect(offset + contents.topLeft(), contents.size()));
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
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive})
            pal.setColor(g, role, color);
    }
    w->setPalette(pal);
}

// A pixel test of one image format: true when the pixel has the mask colour.
template<typename IsMask>
QList<QRect> scanRuns(const QImage &img, IsMask isMask, bool coalesce)
{
    QList<QRect> rects;
    const int width = img.width();
    const int height = img.height();
    qsizetype bandStart = 0;
    qsizetype bandCount = 0;
    int bandBottom = -1;
    std::vector<int> spans;
    spans.reserve(64);
    for (int y = 0; y < height; ++y) {
        const uchar *row = img.constScanLine(y);
        spans.clear();
        int x = 0;
        while (x < width) {
            while (x < width && isMask(row, x))
                ++x;
            const int start = x;
            while (x < width && !isMask(row, x))
                ++x;
            if (start < width) {
                spans.push_back(start);
                spans.push_back(x);
            }
        }
        const qsizetype n = qsizetype(spans.size() / 2);
        if (!coalesce) {
            for (qsizetype i = 0; i < n; ++i)
                rects.append(QRect(spans[2 * i], y, spans[2 * i + 1] - spans[2 * i], 1));
            continue;
        }
        if (n == 0) {
            bandCount = 0;
            continue;
        }
        bool same = bandCount == n && bandBottom == y;
        for (qsizetype i = 0; same && i < n; ++i) {
            const QRect &r = rects.at(bandStart + i);
            same = r.left() == spans[2 * i] && r.right() + 1 == spans[2 * i + 1];
        }
        if (same) {
            for (qsizetype i = 0; i < n; ++i)
                rects[bandStart + i].setBottom(y);
        } else {
            bandStart = rects.size();
            for (qsizetype i = 0; i < n; ++i)
                rects.append(QRect(spans[2 * i], y, spans[2 * i + 1] - spans[2 * i], 1));
            bandCount = n;
        }
        bandBottom = y + 1;
    }
    return rects;
}

std::optional<QList<QRect>> maskRects(const QImage &source, qint32 maskColor, bool coalesce)
{
    if (!modUniversal::IsMaskDepth(source))
        return std::nullopt;
    qint16 red = 0, green = 0, blue = 0;
    modUniversal::SplitColor(maskColor, red, green, blue);
    // Only an RGB colour can match: a system colour (or a value with other high bits) has no
    // pixel of its colour, so nothing becomes transparent.
    const bool matchable = !OleColor::isSystemColor(maskColor) && (quint32(maskColor) & 0xFF000000u) == 0;
    const auto r = uchar(red), g = uchar(green), b = uchar(blue);
    if (!matchable)
        return scanRuns(source, [](const uchar *, int) { return false; }, coalesce);

    QImage img = source;
    switch (img.format()) {
    case QImage::Format_RGB888:
        return scanRuns(img, [=](const uchar *row, int x) {
            const uchar *p = row + 3 * x;
            return p[0] == r && p[1] == g && p[2] == b;
        }, coalesce);
    case QImage::Format_BGR888:
        return scanRuns(img, [=](const uchar *row, int x) {
            const uchar *p = row + 3 * x;
            return p[0] == b && p[1] == g && p[2] == r;
        }, coalesce);
    case QImage::Format_RGBX8888: case QImage::Format_RGBA8888: case QImage::Format_RGBA8888_Premultiplied:
        return scanRuns(img, [=](const uchar *row, int x) {
            const uchar *p = row + 4 * x;
            return p[0] == r && p[1] == g && p[2] == b;
        }, coalesce);
    case QImage::Format_RGB32: case QImage::Format_ARGB32: case QImage::Format_ARGB32_Premultiplied:
        break;
    default:
        // The remaining 24- and 32-bit formats are read through their plain equivalent.
        img = img.depth() == 24 ? img.convertToFormat(QImage::Format_RGB888) : img.convertToFormat(QImage::Format_RGB32);
        if (img.format() == QImage::Format_RGB888)
            return maskRects(img, maskColor, coalesce);
        break;
    }
    const quint32 key = (quint32(r) << 16) | (quint32(g) << 8) | quint32(b);
    return scanRuns(img, [=](const uchar *row, int x) {
        return (reinterpret_cast<const quint32 *>(row)[x] & 0x00FFFFFFu) == key;
    }, coalesce);
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
    return maskRects(mask, maskColor, false).value_or(QList<QRect>());
}

std::optional<QRegion> BuildMaskRegion(const QImage &mask, qint32 maskColor)
{
    const std::optional<QList<QRect>> rects = maskRects(mask, maskColor, true);
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
    setRoles(control, {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}, c);
}

void SetControlBackColor(QWidget *control, qint32 ole)
{
    control->setProperty(BackColorKey, ole);
    const QColor c = OleColor::toQColor(ole, QApplication::palette(control));
    if (qobject_cast<QPushButton *>(control)) {
        setRoles(control, {QPalette::Button}, c);
        return;
    }
    setRoles(control, {QPalette::Window}, c);
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
                bar->PaintPicture(VeilixPicture(picture), 0, 0, bar->ScaleWidth(), bar->ScaleHeight(),
                                  at.x(), at.y(), bar->width(), bar->height());
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
    piece(0, 0, b, b, 0, 0, b, b);                                  // top-left corner
    piece(0, b, b, H - 2 * b, 0, b, b, h - 2 * b);                  // left edge
    piece(0, H - b, b, b, 0, h - b, b, b);                          // bottom-left corner
    piece(b, 0, W - 2 * b, b, b, 0, w - 2 * b, b);                  // top edge
    piece(b, H - b, W - 2 * b, b, b, h - b, w - 2 * b, b);          // bottom edge
    piece(W - b, 0, b, b, w - b, 0, b, b);                          // top-right corner
    piece(W - b, H - b, b, b, w - b, h - b, b, b);                  // bottom-right corner
    piece(W - b, b, b, H - 2 * b, w - b, b, b, h - 2 * b);          // right edge
    piece(b, b, W - 2 * b, H - 2 * b, b, b, w - 2 * b, h - 2 * b);  // centre
    return true;
}

bool PaintCaption(DrawSurface *surface, const QString &caption, bool hasFocus, bool showFocusRect,
                  int offset, int alignment, qint16 &border)
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
    case 0: x = roundToInt16(b + 1); break;
    case 1: x = roundToInt16(W - (b + tw + 1)); break;
    case 2: x = roundToInt16(W / 2 - tw / 2); break;
    default: break;
    }
    if (alignment >= 0 && alignment <= 2)
        y = roundToInt16(H / 2 - th / 2);
    if (offset != 0) {
        x = qint16(x + offset);
        y = qint16(y + offset);
    }
    surface->Print(x, y, caption);
    if (hasFocus && showFocusRect) {
        surface->setForeColor(OleColor::DarkShadow3D);
        surface->DrawBox(0, 0, int(W) - 1, int(H) - 1);
    }
    Yield();
    return true;
}

} // namespace modUniversal
