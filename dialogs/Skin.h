#pragma once

#include <QColor>

class VeilixButton;
class VeilixDragBar;

// The program's own skin for its skinned windows (the host manager and the message box): the
// title bar, the faces of the push buttons and of the title bar's minimise and close buttons,
// each at 1x and 2x device pixel ratio (resources under :/vistelle/skin/).
namespace Skin {

constexpr int TitleBarHeight = 24;
constexpr int TitleButtonSize = 18;
// The title bar's buttons sit this far below its top (they are drawn on the bar's gradient).
constexpr int TitleButtonTop = 2;

enum class TitleButton { Minimize, Close };

// The four faces, the border, the caption colours and the font of a push button.
void applyButton(VeilixButton *button);
// A button of the title bar: its faces carry the glyph, the caption stays empty, the accessible
// name says what it does ("Minimize", "Close").
void applyTitleButton(VeilixButton *button, TitleButton kind);
// The title bar: its picture is painted over the whole bar whenever the bar is shown or resized;
// the caption is white and bold.
void applyTitleBar(VeilixDragBar *bar);

// The one-pixel frame around a borderless skinned window.
QColor windowBorderColor();

} // namespace Skin
