// The formula compiler on arbitrary text. It compiles the text or refuses it
// with a FormulaError whose place lies inside the text, and nothing else. A
// text beyond the byte limit, or with parentheses nested beyond the nesting
// limit, is refused. A compiled program reads only registers it has written
// and constants it holds, stays within the operation limit, compiles the same
// again, is unchanged by a comment after it, and runs on a few pixels with
// every instruction set alike.
#include "FormulaChecks.hpp"
#include "ProgramChecks.hpp"

#include "drawing/DrawingFrame.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/FormulaText.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>

using spirell::testing::parenthesisNesting;

using namespace spirell;
using namespace spirell::formulas;
using namespace spirell::fuzz;

namespace {

std::optional<CompiledFormula> compileOrRefuse(std::string_view text) {
    try {
        return compileFormula(text);
    } catch (const FormulaError& error) {
        const std::string about = quoted(text) + " refused with " + quoted(error.what());
        FUZZ_CHECK(error.what() == "line " + std::to_string(error.line()) + ", column " +
                                       std::to_string(error.column()) + ": " + error.message(),
                   about);
        FUZZ_CHECK(!error.message().empty(), about);
        // Columns count characters, of which a line has at most as many as
        // bytes; the place may be just after the last one.
        FUZZ_CHECK(error.line() >= 1 && error.column() >= 1, about);
        std::size_t lineStart = 0;
        for (int line = 1; line < error.line(); ++line) {
            const std::size_t end = text.find('\n', lineStart);
            FUZZ_CHECK(end != std::string_view::npos, about + ": no such line");
            lineStart = end + 1;
        }
        const std::size_t lineBytes = std::min(text.find('\n', lineStart), text.size()) - lineStart;
        FUZZ_CHECK(std::size_t(error.column()) <= lineBytes + 1, about + ": no such column");
        return std::nullopt;
    } catch (const std::exception& error) {
        fail("only FormulaError", quoted(text) + " threw " + error.what(), __FILE__, __LINE__);
    }
}

bool sameOperand(const Operand& a, const Operand& b) {
    return a.source == b.source && a.index == b.index;
}

bool samePrograms(const FormulaProgram& a, const FormulaProgram& b) {
    if (a.registers != b.registers || a.instructions.size() != b.instructions.size() ||
        a.constants.size() != b.constants.size())
        return false;
    for (std::size_t i = 0; i < a.instructions.size(); ++i) {
        const Instruction& x = a.instructions[i];
        const Instruction& y = b.instructions[i];
        if (x.operation != y.operation || x.target != y.target || !sameOperand(x.a, y.a) ||
            (takesTwoOperands(x.operation) && !sameOperand(x.b, y.b)))
            return false;
    }
    for (std::size_t i = 0; i < a.constants.size(); ++i)
        if (std::memcmp(&a.constants[i], &b.constants[i], sizeof(double)) != 0)
            return false;
    for (int channel = 0; channel < 3; ++channel)
        if (!sameOperand(a.channels[channel], b.channels[channel]))
            return false;
    return true;
}

// Pixels around the world origin, zeros among them, and far ones: 17, so
// that every instruction set meets a partial batch.
void runOnPixels(const CompiledFormula& formula, const std::string& about) {
    static const double X[] = {-73, -1, 0,    -0.0, 0.5, 1, 2,      76,   1e15,
                               -3,  7,  1e-3, 150,  -76, 3, -1e300, 1e300};
    static const double Y[] = {-73, 0,  -1,    1,    0.25, 76, -0.0,  2, -1e15,
                               9,   -9, -1e-3, -150, 40,   1,  1e300, -5};
    drawing::ViewParams view;
    view.zoom = 2 * formula.settings.zoomMultiplier;
    view.brightness = 150 * formula.settings.brightnessMultiplier;
    lanes::LevelRule rule = drawing::levelRule(formula.settings, view);
    rule.program = &formula.program;
    checkEverySetAgrees(formula.program, rule, {X, 1, Y, 1, std::size(X)}, about);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    useEnvironmentLocale();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<CompiledFormula> formula = compileOrRefuse(text);
    if (!formula)
        return 0;
    const std::string about = "compiled " + quoted(text);
    FUZZ_CHECK(size <= kMaxFormulaBytes, about);
    FUZZ_CHECK(parenthesisNesting(text) <= kMaxFormulaNesting, about);
    checkProgramShape(formula->program, about);

    const std::optional<CompiledFormula> again = compileOrRefuse(text);
    FUZZ_CHECK(again && samePrograms(again->program, formula->program), about + " twice");
    const std::string commented = std::string(text) + "\n\n# a comment\n";
    if (commented.size() <= kMaxFormulaBytes) {
        const std::optional<CompiledFormula> withComment = compileOrRefuse(commented);
        FUZZ_CHECK(withComment && samePrograms(withComment->program, formula->program),
                   about + " with a comment after it");
    }
    runOnPixels(*formula, about);
    return 0;
}
