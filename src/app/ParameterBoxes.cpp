#include "app/ParameterBoxes.hpp"

namespace spirell {

namespace {

void writeIfChanged(QLineEdit* box, const std::string& text) {
    const QString newText = QString::fromStdString(text);
    if (box->text() != newText)
        box->setText(newText);
}

} // namespace

BoxTexts ParameterBoxes::texts() const {
    return {TextOne->text().toStdString(), TextTwo->text().toStdString(),
            TextThree->text().toStdString(), TextFour->text().toStdString(),
            Textfive->text().toStdString()};
}

void ParameterBoxes::write(const BoxTexts& texts) const {
    writeIfChanged(TextOne, texts.TextOne);
    writeIfChanged(TextTwo, texts.TextTwo);
    writeIfChanged(TextThree, texts.TextThree);
    writeIfChanged(TextFour, texts.TextFour);
    writeIfChanged(Textfive, texts.Textfive);
}

} // namespace spirell
