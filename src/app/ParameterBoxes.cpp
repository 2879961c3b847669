#include "app/ParameterBoxes.hpp"

namespace spirell::app {

ParameterBoxes::ParameterBoxes(const QWidget* parent) {
    for (std::size_t i = 0; i < boxes::kBoxTable.size(); ++i)
        boxes_[i] = parent->findChild<QLineEdit*>(boxes::kBoxTable[i].boxName);
}

QLineEdit* ParameterBoxes::sizeBox() const {
    for (std::size_t i = 0; i < boxes::kBoxTable.size(); ++i)
        if (boxes::kBoxTable[i].member == &boxes::BoxTexts::size)
            return boxes_[i];
    return nullptr;
}

boxes::BoxTexts ParameterBoxes::texts() const {
    boxes::BoxTexts texts;
    for (std::size_t i = 0; i < boxes::kBoxTable.size(); ++i)
        texts.*boxes::kBoxTable[i].member = boxes_[i]->text().toStdString();
    return texts;
}

void ParameterBoxes::write(const boxes::BoxTexts& texts) {
    for (std::size_t i = 0; i < boxes::kBoxTable.size(); ++i) {
        const QString text = QString::fromStdString(texts.*boxes::kBoxTable[i].member);
        if (boxes_[i]->text() == text)
            continue;
        boxes_[i]->setText(text);
        // A long number shows from its start, unless it is being typed.
        if (!boxes_[i]->hasFocus())
            boxes_[i]->setCursorPosition(0);
    }
}

} // namespace spirell::app
