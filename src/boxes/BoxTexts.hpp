#pragma once

#include <string>

namespace spirell {

// The texts of the five parameter boxes: the one and only store of the view.
struct BoxTexts {
    std::string TextOne = "1";     // horizontal position
    std::string TextTwo = "1";     // vertical position
    std::string TextThree = "150"; // image size in pixels
    std::string TextFour = "1";    // zoom ("Xoom")
    std::string Textfive = "150";  // brightness

    bool operator==(const BoxTexts&) const = default;
};

} // namespace spirell
