#include "VeilixControl/OleColor.h"

#include <QGuiApplication>

QPalette::ColorRole OleColor::systemRole(int number, QPalette::ColorGroup *group)
{
    QPalette::ColorGroup g = QPalette::Active;
    QPalette::ColorRole role = QPalette::NColorRoles;
    switch (number) {
    case 0:
        role = QPalette::Button;
        break; // scroll bar
    case 1:
        role = QPalette::Dark;
        break; // desktop
    case 2:
        role = QPalette::Highlight;
        break; // active caption
    case 3:
        role = QPalette::Mid;
        break; // inactive caption
    case 4:
        role = QPalette::Window;
        break; // menu
    case 5:
        role = QPalette::Base;
        break; // window
    case 6:
        role = QPalette::Shadow;
        break; // window frame
    case 7:
        role = QPalette::WindowText;
        break; // menu text
    case 8:
        role = QPalette::Text;
        break; // window text
    case 9:
        role = QPalette::HighlightedText;
        break; // caption text
    case 10:
        role = QPalette::Button;
        break; // active border
    case 11:
        role = QPalette::Button;
        break; // inactive border
    case 12:
        role = QPalette::Dark;
        break; // application workspace
    case 13:
        role = QPalette::Highlight;
        break;
    case 14:
        role = QPalette::HighlightedText;
        break;
    case 15:
        role = QPalette::Button;
        break; // button face
    case 16:
        role = QPalette::Dark;
        break; // button shadow
    case 17:
        role = QPalette::WindowText;
        g = QPalette::Disabled;
        break; // grey text
    case 18:
        role = QPalette::ButtonText;
        break;
    case 19:
        role = QPalette::Text;
        break; // inactive caption text
    case 20:
        role = QPalette::Light;
        break; // button highlight
    case 21:
        role = QPalette::Shadow;
        break; // 3-D dark shadow
    case 22:
        role = QPalette::Midlight;
        break; // 3-D light
    case 23:
        role = QPalette::ToolTipText;
        break;
    case 24:
        role = QPalette::ToolTipBase;
        break;
    case 26:
        role = QPalette::Link;
        break; // hot-tracked item
    case 27:
        role = QPalette::Highlight;
        break; // gradient of the active caption
    case 28:
        role = QPalette::Mid;
        break; // gradient of the inactive caption
    case 29:
        role = QPalette::Highlight;
        break; // menu highlight
    case 30:
        role = QPalette::Window;
        break; // menu bar
    default:
        break;
    }
    if (group)
        *group = g;
    return role;
}

QColor OleColor::toQColor(qint32 ole, const QPalette &palette)
{
    const quint32 v = quint32(ole);
    if (isSystemColor(ole)) {
        QPalette::ColorGroup group = QPalette::Active;
        const QPalette::ColorRole role = systemRole(int(v & 0xFFu), &group);
        if (role == QPalette::NColorRoles || (v & 0x00FFFF00u) != 0)
            return palette.color(QPalette::WindowText);
        return palette.color(group, role);
    }
    if ((v & 0xFF000000u) != 0)
        return palette.color(QPalette::WindowText);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

QColor OleColor::toQColor(qint32 ole)
{
    return toQColor(ole, QGuiApplication::palette());
}
