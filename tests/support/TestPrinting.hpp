#pragma once

#include "boxes/BoxTable.hpp"
#include "render/Colour.hpp"

#include <QtTest>

// Lets data-driven tests carry colours and box texts, and failed comparisons
// show them readably; and one way to write box texts for every test.
Q_DECLARE_METATYPE(spirell::Colour)
Q_DECLARE_METATYPE(spirell::BoxTexts)

namespace spirell {

inline char* toString(const Colour& colour) {
    return QTest::toString(
        QStringLiteral("RGB(%1, %2, %3)").arg(colour.red).arg(colour.green).arg(colour.blue));
}

inline char* toString(const BoxTexts& boxes) {
    QStringList texts;
    for (const BoxDescription& box : kBoxTable)
        texts << QString::fromStdString(boxes.*box.member);
    return QTest::toString("[" + texts.join(" | ") + "]");
}

// Box texts in the order of BoxTexts: position x and y, size, zoom, brightness.
inline BoxTexts boxes(const char* x, const char* y, const char* size, const char* zoom = "1",
                      const char* brightness = "150") {
    return {x, y, size, zoom, brightness};
}

} // namespace spirell
