#pragma once

#include "boxes/BoxTable.hpp"
#include "formulas/Colour.hpp"

#include <QtTest>

// Lets data-driven tests carry and compare colours and box texts, and failed
// comparisons show them readably; and one way to write box texts for every
// test.
Q_DECLARE_METATYPE(spirell::formulas::Colour)
Q_DECLARE_METATYPE(spirell::boxes::BoxTexts)

// Beside the types, where lookup finds them. The program itself never
// compares colours: they are plain data.
namespace spirell::formulas {

constexpr bool operator==(const Colour& a, const Colour& b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

inline char* toString(const Colour& colour) {
    return QTest::toString(
        QStringLiteral("RGB(%1, %2, %3)").arg(colour.red).arg(colour.green).arg(colour.blue));
}

} // namespace spirell::formulas

namespace spirell::boxes {

inline char* toString(const BoxTexts& boxes) {
    QStringList texts;
    for (const BoxDescription& box : kBoxTable)
        texts << QString::fromStdString(boxes.*box.member);
    return QTest::toString("[" + texts.join(" | ") + "]");
}

// Box texts in the order of BoxTexts: position x and y, size, zoom, brightness.
inline BoxTexts boxTexts(const char* x, const char* y, const char* size, const char* zoom = "1",
                         const char* brightness = "150") {
    return {x, y, size, zoom, brightness};
}

} // namespace spirell::boxes
