#pragma once

#include "boxes/BoxTexts.hpp"

#include <array>
#include <string>

namespace spirell::boxes {

// One of the five parameter boxes, wherever it appears.
struct BoxDescription {
    const char* boxName; // the window's box, by its name on the classic form
    const char* option;  // spirell-render's option
    const char* pngKey;  // the text key an image keeps it under
    std::string BoxTexts::*member;
    const char* meaning; // for help texts

    // Its text at start-up, as BoxTexts has it.
    std::string defaultText() const { return BoxTexts{}.*member; }
};

// The five boxes in the order images store them.
inline constexpr std::array<BoxDescription, 5> kBoxTable{{
    {"TextOne", "--x", "spirell:x", &BoxTexts::xPosition, "horizontal position box"},
    {"TextTwo", "--y", "spirell:y", &BoxTexts::yPosition, "vertical position box"},
    {"TextThree", "--size", "spirell:size", &BoxTexts::size,
     "image size box; 768 gives 1024 x 768"},
    {"TextFour", "--zoom", "spirell:zoom", &BoxTexts::zoom, "zoom box"},
    {"Textfive", "--brightness", "spirell:brightness", &BoxTexts::brightness, "brightness box"},
}};

} // namespace spirell::boxes
