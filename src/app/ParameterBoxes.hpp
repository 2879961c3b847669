#pragma once

#include "boxes/BoxTable.hpp"
#include "boxes/BoxTexts.hpp"

#include <QLineEdit>

#include <array>

namespace spirell::app {

// The five parameter boxes on the window, in the order of kBoxTable. Handlers
// read all five texts, edit them as BoxTexts and write back only the texts
// that changed, so a box the edit does not touch keeps its caret and
// selection.
class ParameterBoxes {
public:
    ParameterBoxes() = default;
    // Finds each box by its name among the children of parent.
    explicit ParameterBoxes(const QWidget* parent);

    const std::array<QLineEdit*, boxes::kBoxTable.size()>& all() const { return boxes_; }
    QLineEdit* sizeBox() const;

    boxes::BoxTexts texts() const;
    // Sets the boxes whose texts differ; the others keep their caret.
    void write(const boxes::BoxTexts& texts);

private:
    std::array<QLineEdit*, boxes::kBoxTable.size()> boxes_{};
};

} // namespace spirell::app
