#pragma once

#include "render/Colour.hpp"
#include "boxes/BoxTexts.hpp"

#include <QtTest>

// Lets data-driven tests carry colours and box texts, and failed comparisons
// show them readably.
Q_DECLARE_METATYPE(spirell::Colour)
Q_DECLARE_METATYPE(spirell::BoxTexts)

namespace spirell {

inline char* toString(const Colour& colour) {
    return QTest::toString(
        QStringLiteral("RGB(%1, %2, %3)").arg(colour.red).arg(colour.green).arg(colour.blue));
}

inline char* toString(const BoxTexts& boxes) {
    return QTest::toString(
        QStringLiteral("[%1 | %2 | %3 | %4 | %5]")
            .arg(QString::fromStdString(boxes.TextOne), QString::fromStdString(boxes.TextTwo),
                 QString::fromStdString(boxes.TextThree), QString::fromStdString(boxes.TextFour),
                 QString::fromStdString(boxes.Textfive)));
}

} // namespace spirell
