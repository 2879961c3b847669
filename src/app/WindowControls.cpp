#include "app/WindowControls.hpp"

#include "ProgramInfo.hpp"
#include "app/ClickableLabel.hpp"
#include "app/ColourButton.hpp"
#include "app/Palette.hpp"
#include "app/WebLink.hpp"
#include "boxes/BoxEdits.hpp"
#include "formulas/Catalogue.hpp"

#include <QLineEdit>

#include <algorithm>
#include <string>

namespace spirell::app {

namespace {

using enum ControlKind;
using enum WindowAction;
using enum boxes::Preset;
using enum boxes::ShiftButton;
using enum boxes::ScaleButton;
using enum boxes::ZoomButton;
using namespace palette;

// A button's caption keeps the style's own colour.
constexpr QColor kStyle{};

constexpr Typeface kForm{};
constexpr Typeface kVerdana975{Face::Verdana, 9.75, true};
constexpr Typeface kVerdana825{Face::Verdana, 8.25, true};
constexpr Typeface kVerdana825Plain{Face::Verdana, 8.25, false};
constexpr Typeface kVerdana1125{Face::Verdana, 11.25, true};
constexpr Typeface kVerdana1425{Face::Verdana, 14.25, true};
constexpr Typeface kVerdana18{Face::Verdana, 18, true};
constexpr Typeface kSans825Plain{Face::MsSansSerif, 8.25, false};
constexpr Typeface kSans975{Face::MsSansSerif, 9.75, true};
constexpr Typeface kSans12{Face::MsSansSerif, 12, true};
constexpr Typeface kSans135{Face::MsSansSerif, 13.5, true};
constexpr Typeface kSans18{Face::MsSansSerif, 18, true};
constexpr Typeface kCourier1425{Face::CourierNew, 14.25, true};

// The box edits of the buttons and the zoom labels.
template <boxes::Preset which> void preset(boxes::BoxTexts& texts) {
    boxes::applyPreset(which, texts);
}
template <boxes::ShiftButton which> void shift(boxes::BoxTexts& texts) {
    boxes::shiftView(which, texts);
}
template <boxes::ScaleButton which> void scale(boxes::BoxTexts& texts) {
    boxes::scalePosition(which, texts);
}
template <boxes::ZoomButton which> void zoom(boxes::BoxTexts& texts) {
    boxes::zoomView(which, texts);
}

} // namespace

const std::vector<ControlDescription>& windowControls() {
    static const std::vector<ControlDescription> controls{
        // clang-format off
        // name       kind    caption            place               background              text                font              tooltip       click                           hover hidden
        {"Label3",    Label,  "",                {8, 88, 137, 184},  kBackdrop,              kBackdrop,          kForm},
        {"Label10",   Label,  "",                {8, 312, 137, 773}, kBackdrop,              kBackdrop,          kForm},
        {"Label13",   Label,  "Label13",         {0, 992, 1273, 33}, kBackdrop,              kBackdrop,          kSans825Plain},

        {"Label1",    Label,  "x",               {1256, 0, 25, 33},  kFormBackground,        kExitLabel,         kSans135,         "exit",       EndProgram,                     LightExitLabel},
        {"Label7",    Label,  "-",               {1240, 0, 17, 25},  kFormBackground,        kMinimiseLabel,     kSans135,         "minimize",   Minimise},
        {"Label4",    Label,  "<",               {8, 4, 17, 17},     kFormBackground,        kExitArrow,         kSans12,          "  Exit  ",   EndProgram,                     LightArrowLabel},
        {"Label2",    Label,  "exit",            {24, 8, 33, 17},    kFormBackground,        kExitWord,          kForm,            "",           EndProgram},
        {"Label17",   Label,  "X",               {356, 4, 20, 25},   kFormBackground,        kZoomLabel,         kVerdana18,       "",           zoom<Halve>},
        {"Label8",    Label,  "OOM",             {376, 8, 41, 17},   kFormBackground,        kZoomLabel,         kVerdana1125,     "",           zoom<Double>},
        {"Label5",    Label,  "VORTICA SPIRELL", {568, 8, 223, 25},  kFormBackground,        kTitleText,         kVerdana825},
        {"Label6",    Label,  kVersionCaption,   {832, 8, 167, 25},  kFormBackground,        kTitleText,         kVerdana825},
        {"Label9_1",  Label,  "side",            {96, 126, 41, 17},  kFormBackground,        kPositionCaption,   kForm},
        {"Label9_2",  Label,  "zero point",      {16, 144, 65, 17},  kFormBackground,        kPositionCaption,   kForm},
        {"Label9_0",  Label,  "brightness",      {16, 250, 65, 17},  kFormBackground,        kBrightnessCaption, kForm},

        {"TextFour",  Box,    "",                {76, 5, 273, 24},   kBoxBackground,         kBoxText,           kVerdana975,      "  Set the Xoom to a frcation to xoom into the spirell,  "},
        {"TextThree", Box,    "",                {16, 120, 59, 19},  kBoxBackground,         kBoxText,           kForm,            "Size of image"},
        {"TextTwo",   Box,    "",                {16, 180, 73, 19},  kBoxBackground,         kBoxText,           kForm,            "Move image up or down"},
        {"TextOne",   Box,    "",                {16, 200, 73, 19},  kBoxBackground,         kBoxText,           kForm,            "Move image left or right"},
        {"Textfive",  Box,    "",                {80, 248, 57, 19},  kBoxBackground,         kBoxText,           kForm,            "Vary the brightness of colour"},

        {"cmdstop",   Button, "halt !",          {80, 280, 65, 25},  kHaltButton,            kStyle,             kVerdana975,      "",           Halt},
        {"Command3",  Button, "reset",           {8, 280, 65, 25},   kResetButton,           kStyle,             kVerdana975,      "",           Reset},
        {"cmd1",      Button, "S",               {16, 94, 24, 22},   kSmallPresetButton,     kStyle,             kForm,            "  Small  ",  preset<Small>},
        {"cmdb",      Button, "M",               {40, 94, 36, 25},   kMediumPresetButton,    kStyle,             kSans975,         "  Medium  ", preset<Medium>},
        {"Command4",  Button, "L",               {76, 94, 60, 33},   kLargePresetButton,     kStyle,             kSans18,          "  Large  ",  preset<Large>},
        {"cmdXX0",    Button, "<",               {16, 36, 60, 45},   kZoomButton,            kStyle,             kForm,            "Log Xoom",   zoom<Double>},
        {"cmdXX1",    Button, ">",               {76, 36, 61, 45},   kZoomButton,            kStyle,             kForm,            "Log Xoom",   zoom<Halve>},
        // The two outer zoom buttons are never shown.
        {"cmdXX2",    Button, ">>",              {1144, 0, 53, 20},  kHiddenZoomButton,      kStyle,             kForm,            "Log Xoom",   zoom<HalveAndMoveToHalfSize>,   None, true},
        {"cmdXX3",    Button, "<<",              {1088, 0, 53, 20},  kHiddenZoomButton,      kStyle,             kForm,            "Log Xoom",   zoom<DoubleAndMoveToTwiceSize>, None, true},
        {"verty1",    Button, "^",               {88, 150, 49, 26},  kVerticalShiftButton,   kStyle,             kVerdana1425,     "",           shift<Up>},
        {"verty0",    Button, "V",               {88, 176, 49, 26},  kVerticalShiftButton,   kStyle,             kCourier1425,     "",           shift<Down>},
        {"horz1",     Button, "<",               {88, 202, 25, 36},  kHorizontalShiftButton, kStyle,             kForm,            "",           shift<Left>},
        {"horz0",     Button, ">",               {112, 202, 25, 36}, kHorizontalShiftButton, kStyle,             kForm,            "",           shift<Right>},
        {"cmdblue0",  Button, "x",               {16, 160, 36, 20},  kVerticalScaleButton,   kStyle,             kForm,            "",           scale<DoubleY>},
        {"cmdblue1",  Button, "/",               {52, 160, 36, 20},  kVerticalScaleButton,   kStyle,             kForm,            "",           scale<HalveY>},
        {"cmdblue2",  Button, "x",               {16, 218, 36, 20},  kHorizontalScaleButton, kStyle,             kForm,            "",           scale<DoubleX>},
        {"cmdblue3",  Button, "/",               {52, 218, 36, 20},  kHorizontalScaleButton, kStyle,             kForm,            "",           scale<HalveX>},
        {"Command1",  Button, kHomepageHost,     {992, 8, 193, 22},  kWebLinkButton,         kStyle,             kVerdana825Plain, "",           OpenWebLink},
        // Under the formula column, where a twentieth formula would stand.
        {"CmdOwn",    Button, "your own...",     {24, 928, 105, 25}, kFormulaButton,         kStyle,             kVerdana975,      "  A formula of your own (Ctrl+E)  ", EditFormula},
        // clang-format on
    };
    return controls;
}

ControlDescription formulaButtonControl(int index, const char* caption) {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (int i = 0; i < formulas::kFormulaCount; ++i)
            all.push_back("CMD" + std::to_string(i));
        return all;
    }();
    ControlDescription button{names.at(index).c_str(),         Button,         caption,
                              {24, 320 + 32 * index, 105, 25}, kFormulaButton, kStyle,
                              {Face::Verdana, 12, true}};
    button.onClick = DrawFormula;
    button.formula = index;
    return button;
}

QRect scaledPlace(const QRect& place, double scale) {
    if (scale == 1)
        return place;
    // Both corners scaled, so that neighbours stay neighbours.
    const QPoint topLeft(qRound(place.left() * scale), qRound(place.top() * scale));
    const QPoint end(qRound((place.right() + 1) * scale), qRound((place.bottom() + 1) * scale));
    return QRect(topLeft, end - QPoint(1, 1));
}

QWidget* makeControl(const ControlDescription& description, QWidget* parent, double scale) {
    QWidget* control = nullptr;
    QPalette palette = parent->palette();
    switch (description.kind) {
    case ControlKind::Button:
        control = new ColourButton(description.caption, description.background, parent);
        palette = control->palette();
        break;
    case ControlKind::Box:
        control = new QLineEdit(description.caption, parent);
        palette = control->palette();
        palette.setColor(QPalette::Base, description.background);
        palette.setColor(QPalette::Text, description.text);
        break;
    case ControlKind::Label: {
        auto* label = new ClickableLabel(description.caption, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setAutoFillBackground(true);
        control = label;
        palette = control->palette();
        palette.setColor(QPalette::Window, description.background);
        palette.setColor(QPalette::WindowText, description.text);
        break;
    }
    }
    control->setPalette(palette);
    control->setObjectName(description.name);
    QFont font = fontFor(description.font);
    if (scale != 1) {
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() * scale);
        else
            font.setPixelSize(std::max(1, qRound(font.pixelSize() * scale)));
    }
    control->setFont(font);
    control->setGeometry(scaledPlace(description.place, scale));
    control->setToolTip(description.tooltip);
    if (description.hidden)
        control->hide();
    return control;
}

const std::vector<const char*>& tabOrder() {
    static const std::vector<const char*> order{
        "TextThree", "TextTwo",  "TextOne",  "Textfive", "Command3", "CMD0",     "CMD1",
        "CMD2",      "CMD3",     "CMD4",     "CMD5",     "CMD6",     "CMD7",     "CMD8",
        "TextFour",  "CMD9",     "CMD10",    "cmdstop",  "CMD11",    "CMD12",    "CMD13",
        "CMD14",     "CMD15",    "CMD16",    "cmd1",     "cmdb",     "Command4", "CMD17",
        "cmdXX0",    "cmdXX1",   "verty0",   "verty1",   "horz0",    "horz1",    "cmdXX2",
        "cmdXX3",    "cmdblue0", "cmdblue1", "cmdblue2", "cmdblue3", "Command1", "CMD18",
        "CmdOwn"};
    return order;
}

} // namespace spirell::app
