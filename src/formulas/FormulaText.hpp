#pragma once

#include "base/Errors.hpp"
#include "formulas/Formula.hpp"
#include "formulas/FormulaProgram.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace spirell::formulas {

// The limits of a formula text; a text beyond them is refused as any other
// fault is, with its line and column.
inline constexpr std::size_t kMaxFormulaBytes = 16384;
inline constexpr int kMaxFormulaNesting = 64; // parentheses, calls and unary minus in one another
inline constexpr std::size_t kMaxFormulaOperations = 2048; // after constants are worked out
inline constexpr std::size_t kMaxFormulaNames = 256;

// A fault in a formula text. what() is "line L, column C: MESSAGE", columns
// counted in characters from 1.
class FormulaError : public base::InputError {
public:
    FormulaError(int line, int column, const std::string& message);
    int line() const { return line_; }
    int column() const { return column_; }
    // The message without its place.
    const std::string& message() const { return message_; }

private:
    int line_;
    int column_;
    std::string message_;
};

// A formula text compiled: its program and its departures from the standard
// frame, as a built-in formula has them (index, routine and caption unset).
struct CompiledFormula {
    FormulaProgram program;
    Formula settings;
};

// Reads and compiles a formula text. Arithmetic on constants alone (+, -,
// *, /, unary minus, abs, min, max, floor) is worked out here, with the same
// IEEE operations in the same order; nothing else is reordered or combined,
// and every other function is left to the lanes. Throws FormulaError.
CompiledFormula compileFormula(std::string_view text);

} // namespace spirell::formulas
