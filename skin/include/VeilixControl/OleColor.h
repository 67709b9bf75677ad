#pragma once

#include "VeilixControl/VeilixControlExport.h"

#include <QColor>
#include <QPalette>
#include <QtGlobal>

// Colours of the control library keep their persisted form: a signed 32-bit value, 0x00BBGGRR for
// an RGB colour (red in the low byte) or 0x800000nn for the desktop's system colour number nn.
// A system colour is shown with the palette role of the same meaning.
class VEILIXCONTROL_EXPORT OleColor final
{
public:
    static constexpr qint32 Highlight = qint32(0x8000000D); // system colour 13
    static constexpr qint32 ButtonFace = qint32(0x8000000F); // system colour 15
    static constexpr qint32 ButtonShadow = qint32(0x80000010); // system colour 16
    static constexpr qint32 GrayText = qint32(0x80000011); // system colour 17
    static constexpr qint32 ButtonText = qint32(0x80000012); // system colour 18
    static constexpr qint32 DarkShadow3D = qint32(0x80000015); // system colour 21
    static constexpr qint32 Light3D = qint32(0x80000016); // system colour 22
    static constexpr qint32 Magenta = 0x00FF00FF;

    static bool isSystemColor(qint32 ole) { return (quint32(ole) & 0xFF000000u) == 0x80000000u; }
    static constexpr qint32 fromRgb(int red, int green, int blue)
    {
        return qint32((quint32(blue & 0xFF) << 16) | (quint32(green & 0xFF) << 8) | quint32(red & 0xFF));
    }
    static qint32 fromQColor(const QColor &color) { return fromRgb(color.red(), color.green(), color.blue()); }

    // The colour to paint with. System colours are looked up in the palette (the application's
    // palette when none is given); an unknown system colour or a malformed value shows as the
    // palette's window text colour.
    static QColor toQColor(qint32 ole, const QPalette &palette);
    static QColor toQColor(qint32 ole);

    // The palette role that stands for system colour number nn, or NColorRoles when there is none.
    static QPalette::ColorRole systemRole(int number, QPalette::ColorGroup *group = nullptr);
};
