#include "app/ParameterBoxes.hpp"

namespace spirell {

ParameterBoxes::ParameterBoxes(const QWidget* parent) {
    for (std::size_t i = 0; i < kBoxTable.size(); ++i)
        boxes_[i] = parent->findChild<QLineEdit*>(kBoxTable[i].boxName);
}

QLineEdit* ParameterBoxes::sizeBox() const {
    for (std::size_t i = 0; i < kBoxTable.size(); ++i)
        if (kBoxTable[i].member == &BoxTexts::size)
            return boxes_[i];
    return nullptr;
}

BoxTexts ParameterBoxes::texts() const {
    BoxTexts texts;
    for (std::size_t i = 0; i < kBoxTable.size(); ++i)
        texts.*kBoxTable[i].member = boxes_[i]->text().toStdString();
    return texts;
}

void ParameterBoxes::write(const BoxTexts& texts) const {
    for (std::size_t i = 0; i < kBoxTable.size(); ++i) {
        const QString text = QString::fromStdString(texts.*kBoxTable[i].member);
        if (boxes_[i]->text() != text)
            boxes_[i]->setText(text);
    }
}

} // namespace spirell
