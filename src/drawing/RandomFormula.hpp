#pragma once

#include "drawing/DrawingFrame.hpp"
#include "formulas/Formula.hpp"
#include "formulas/FormulaText.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Formula texts made up from a seed. The same seed gives the same text on
// every machine: the choices come from std::mt19937_64, whose sequence the
// C++ standard fixes, and are mapped to options and numbers here, with no
// distribution or shuffle of the standard library and no locale.
namespace spirell::drawing {

// What a random text keeps within, far inside the language's own limits.
inline constexpr std::size_t kRandomFormulaMaxBytes = 4096;
inline constexpr int kRandomFormulaMaxNesting = 16; // parentheses and calls
inline constexpr std::size_t kRandomFormulaMaxOperations = 512;
// Candidates drawn before a seed settles for the fallback.
inline constexpr int kRandomFormulaCandidates = 40;

// The variety of a formula's colours at the samples of the start-up view.
struct ColourVariety {
    int samples = 0;
    int distinctColours = 0;
    int mostCommonColour = 0; // how many samples share the most common colour

    // Not flat: at least 48 distinct colours, and no colour at more than half
    // of the samples.
    bool isVaried() const;
};

// Where the variety is sampled: 24 columns and 18 rows, spread evenly from
// the first to the last pixel of the view the start-up boxes give a formula
// with these settings, at the world coordinates the drawing gives them.
inline constexpr int kVarietyColumns = 24;
inline constexpr int kVarietyRows = 18;
ViewGrid varietySamples(const formulas::Formula& settings);

// The colours of a compiled formula at every pairing of those columns and
// rows, computed by the scalar lanes as a drawing computes them.
ColourVariety colourVariety(const formulas::CompiledFormula& formula);

// A source of choices: 64-bit numbers, each a fraction of 2^64 that picks
// among n options as floor(number x n / 2^64), so that the high bits count.
using ChoiceNumbers = std::function<std::uint64_t()>;

// One candidate text, before its colours are judged: the comment line naming
// the seed, sometimes settings, the standard angles AngleX and AngleY, a few
// terms built on them, and red, green and blue as weighted sums of terms.
std::string randomFormulaCandidate(std::uint64_t seed, const ChoiceNumbers& numbers);

// The text taken when no candidate of a seed is varied enough; varied itself.
std::string fallbackFormulaText(std::uint64_t seed);

struct RandomFormula {
    std::string text;
    int candidate = 0; // which candidate was taken, from 1; 0 for the fallback
    int malformed = 0; // candidates that did not compile or broke the limits: a fault here
};

// The first varied candidate drawn from std::mt19937_64 seeded with the seed,
// or the fallback after kRandomFormulaCandidates flat ones.
RandomFormula randomFormula(std::uint64_t seed);
std::string randomFormulaText(std::uint64_t seed);

} // namespace spirell::drawing
