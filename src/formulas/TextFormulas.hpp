#pragma once

#include "formulas/Formula.hpp"

#include <string>
#include <string_view>

namespace spirell::formulas {

// The caption every formula written as text goes by.
inline constexpr const char* kTextFormulaCaption = "formula";
// The routine name a picture stores for one; its text is stored beside it.
inline constexpr const char* kTextFormulaRoutine = "text";

// The formula of a text: compiled once, kept for the rest of the process
// (so that the reference stays valid wherever a view keeps it) and given an
// index of its own after the built-ins'. The same text gives the same
// formula. Throws FormulaError.
const Formula& formulaOfText(std::string_view text);

// A formula by its index: a built-in's, or one formulaOfText made. Throws
// std::out_of_range for any other index.
const Formula& formulaAt(int index);

} // namespace spirell::formulas
