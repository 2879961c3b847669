#pragma once

#include <QColor>

// Every colour of the window, named once by what it colours. Two roles may
// share a value, as the exit label's own blue and its blue after the first
// activation once shared a name; they never share a name.
namespace spirell::app::palette {

// --- The form -----------------------------------------------------------------

// The client area, the canvas around the picture and the labels that lie on it.
inline constexpr QColor kFormBackground{64, 64, 64};
// The one-pixel border that takes the place of a window frame.
inline constexpr QColor kFrame{160, 160, 160};
// The black panels behind the controls and the strip along the bottom.
inline constexpr QColor kBackdrop{0, 0, 0};
// "VORTICA SPIRELL" and the version.
inline constexpr QColor kTitleText{128, 128, 128};
// "side" and "zero point", beside the size and position boxes.
inline constexpr QColor kPositionCaption{128, 255, 255};
// "brightness", beside its box.
inline constexpr QColor kBrightnessCaption{255, 255, 255};

// --- The five boxes -------------------------------------------------------------

inline constexpr QColor kBoxBackground{64, 0, 0};
inline constexpr QColor kBoxText{255, 128, 128};

// --- The labels at the top -------------------------------------------------------

// "x" as designed, and again at every tick of the exit colour timer.
inline constexpr QColor kExitLabel{128, 128, 255};
// "x" from the window's first activation until the timer first ticks.
inline constexpr QColor kExitLabelActivated{0, 0, 255};
// "x" while the mouse moves over it.
inline constexpr QColor kExitLabelHover{0, 128, 255};
// "<" as designed.
inline constexpr QColor kExitArrow{255, 0, 0};
// "<" after every tick of the exit colour timer (the classic palette's colour 7).
inline constexpr QColor kExitArrowRested{192, 192, 192};
// "<" while the mouse moves over it (the classic palette's colour 15).
inline constexpr QColor kExitArrowHover{255, 255, 255};
// "exit", beside "<".
inline constexpr QColor kExitWord{192, 0, 0};
// "-", which minimises the window.
inline constexpr QColor kMinimiseLabel{128, 128, 255};
// "X" and "OOM", which halve and double the zoom. The chosen formula's button
// takes the colour "X" has at the click.
inline constexpr QColor kZoomLabel{255, 128, 128};

// --- Button faces ---------------------------------------------------------------

// A formula button that is not the latest one clicked.
inline constexpr QColor kFormulaButton{128, 128, 128};
inline constexpr QColor kHaltButton{64, 143, 255};
inline constexpr QColor kResetButton{64, 96, 192};
inline constexpr QColor kSmallPresetButton{0, 255, 255};
inline constexpr QColor kMediumPresetButton{128, 255, 255};
inline constexpr QColor kLargePresetButton{192, 255, 255};
// "<" and ">", which double and halve the zoom.
inline constexpr QColor kZoomButton{144, 192, 255};
// ">>" and "<<", the two zoom buttons that are never shown.
inline constexpr QColor kHiddenZoomButton{0, 192, 192};
// "^" and "V".
inline constexpr QColor kVerticalShiftButton{128, 176, 255};
// "<" and ">" beside the position boxes.
inline constexpr QColor kHorizontalShiftButton{64, 160, 192};
// "x" and "/" of the vertical position.
inline constexpr QColor kVerticalScaleButton{96, 144, 224};
// "x" and "/" of the horizontal position.
inline constexpr QColor kHorizontalScaleButton{64, 128, 160};
// The maker's web link.
inline constexpr QColor kWebLinkButton{96, 160, 255};

// --- Button bevels ---------------------------------------------------------------

// The two-pixel bevel of every button: light above and left, dark below and
// right, shade inside the dark; swapped while the button is down.
inline constexpr QColor kBevelLight{255, 255, 255};
inline constexpr QColor kBevelShade{128, 128, 128};
inline constexpr QColor kBevelDark{0, 0, 0};

} // namespace spirell::app::palette
