#pragma once

#include <string>

namespace spirell::boxes {

// The texts of the five parameter boxes: the one and only store of the view.
// BoxTable.hpp tells where each box appears: its name on the window, the
// renderer's option and the key an image keeps it under.
struct BoxTexts {
    std::string xPosition = "1";
    std::string yPosition = "1";
    std::string size = "150";
    std::string zoom = "1";
    std::string brightness = "150";

    bool operator==(const BoxTexts&) const = default;
};

} // namespace spirell::boxes
