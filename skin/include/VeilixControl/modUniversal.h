#pragma once

#include "VeilixControl/VeilixControlExport.h"
#include "VeilixControl/VeilixPicture.h"

#include <QImage>
#include <QList>
#include <QRect>
#include <QRegion>
#include <QString>

#include <optional>

class DrawSurface;
class QWidget;

// Drawing routines shared by the controls of the library.
namespace modUniversal {

// The point where the controls let pending window events run. In this library it does nothing:
// the program never runs nested event loops, so the hook only marks the place.
inline void Yield() { }

// Makes the form's controls blend with the form's background picture: title bars show the part
// of the picture under them (always), plain frames used as picture boxes likewise, and labels,
// check boxes, group boxes, radio buttons and graphical push buttons (dynamic property "Style" 1)
// take the painting colours, or give them back when painting is false. Returns false for no form.
VEILIXCONTROL_EXPORT bool PaintControls(QWidget *form, bool painting, qint32 foreColor, qint32 backColor);

// Splits a colour value into its red, green and blue parts (blue from the high bits, so that a
// system colour gives a negative blue that matches no pixel).
VEILIXCONTROL_EXPORT void SplitColor(qint32 color, qint16 &red, qint16 &green, qint16 &blue);

// Draws picture over the whole surface in nine pieces: four border × border corners unscaled, the
// edges stretched along one axis, the centre along both. A border of 0 becomes 1; a picture not
// more than twice the border high or wide lowers the border (stored back into border) and draws
// nothing this time. A picture that is none or empty clears the surface. Returns true.
VEILIXCONTROL_EXPORT bool PaintSkin(DrawSurface *surface, const VeilixPicture &picture, qint16 &border);

// Prints the caption by alignment (0 left, 1 right, 2 centre, else at the corner), moved by offset
// pixels right and down, and the focus rectangle when hasFocus and showFocusRect. A blank caption
// draws nothing. Returns true.
VEILIXCONTROL_EXPORT bool PaintCaption(DrawSurface *surface, const QString &caption, bool hasFocus, bool showFocusRect,
    int offset, int alignment, qint16 &border);

// The region of a mask picture: every pixel whose red, green and blue equal those of maskColor is
// a hole (the fourth byte of a 32-bit pixel does not count; a system colour matches no pixel).
// Only 24- and 32-bit images are masks; any other depth (or an image without pixels) gives
// nullopt. The region holds one rectangle per opaque run of each row (the rectangles of MaskRuns).
VEILIXCONTROL_EXPORT std::optional<QRegion> BuildMaskRegion(const QImage &mask, qint32 maskColor);
// The opaque runs themselves, one rectangle of height 1 per run, rows top to bottom, runs left to
// right (empty list for an unsupported depth).
VEILIXCONTROL_EXPORT QList<QRect> MaskRuns(const QImage &mask, qint32 maskColor);
// True when the image has a depth that BuildMaskRegion accepts (24 or 32 bits per pixel).
VEILIXCONTROL_EXPORT bool IsMaskDepth(const QImage &mask);

// The form's background picture (a null image when it has none) and setting or clearing it.
VEILIXCONTROL_EXPORT QImage FormPicture(const QWidget *form);
VEILIXCONTROL_EXPORT void SetFormPicture(QWidget *form, const QImage &picture);

// Colours of ordinary controls as OLE colours (kept with the widget; system colours 18 and 15
// when never set) and setting them (system colours 18 and 15 give the widget its default look back).
VEILIXCONTROL_EXPORT qint32 ControlForeColor(const QWidget *control);
VEILIXCONTROL_EXPORT qint32 ControlBackColor(const QWidget *control);
VEILIXCONTROL_EXPORT void SetControlForeColor(QWidget *control, qint32 ole);
VEILIXCONTROL_EXPORT void SetControlBackColor(QWidget *control, qint32 ole);

} // namespace modUniversal
