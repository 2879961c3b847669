#pragma once

#include "boxes/BoxTexts.hpp"

#include <QLineEdit>

#include <array>

namespace spirell {

// The five parameter boxes on the window. Handlers read all five texts, edit
// them as BoxTexts and write back only the texts that changed, so a box the
// edit does not touch keeps its caret and selection.
struct ParameterBoxes {
    QLineEdit* TextOne = nullptr;
    QLineEdit* TextTwo = nullptr;
    QLineEdit* TextThree = nullptr;
    QLineEdit* TextFour = nullptr;
    QLineEdit* Textfive = nullptr;

    std::array<QLineEdit*, 5> all() const {
        return {TextOne, TextTwo, TextThree, TextFour, Textfive};
    }
    BoxTexts texts() const;
    void write(const BoxTexts& texts) const;
};

} // namespace spirell
