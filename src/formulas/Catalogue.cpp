#include "formulas/Catalogue.hpp"

#include "base/WholeNumber.hpp"

namespace spirell::formulas {

namespace {

using enum OriginRule;

constexpr std::array<double, 3> kStandardOffsets{50, 50, 50};
constexpr std::array<double, 3> kNoOffsets{0, 0, 0};

// index, routine, caption, origin, zoom x, brightness x, level scale, offsets
constexpr std::array<Formula, kFormulaCount> kCatalogue{{
    {0, "aries", "ripple", Centred, 2, 1, 1, kStandardOffsets},
    {1, "blood", "ember", Centred, 2, 1, 1, {0, 50, 50}},
    {2, "celt", "lantern", Centred, 2, 1, 1, kNoOffsets},
    {3, "dune", "pebble", Centred, 2, 0.5, 1, kNoOffsets},
    {4, "eeee", "thistle", ThirdWidth, 1, 1, 1, kNoOffsets},
    {5, "fun", "fickle", Centred, 1, 1, 1, kNoOffsets},
    {6, "grin", "marble", Centred, 1, 1, 1, kNoOffsets},
    {7, "hix", "cinder", Centred, 1, 1, 1, kNoOffsets},
    {8, "ice", "nettle", Centred, 2, 1, 1, kNoOffsets},
    {9, "joke", "bramble", Centred, 2, 1, 1, kNoOffsets},
    {10, "kraken", "quartz", Centred, 4, 1, 1, kNoOffsets},
    {11, "limbo", "saffron", Corner, 1, 1, 0.5, {100, 100, 100}},
    {12, "numb", "gravel", Offset150, 1.5, 1, 1, kNoOffsets},
    {13, "ooh", "ooh", Offset150, 2, 1, 1, kNoOffsets},
    {14, "Punk", "kestrel", Corner, 1, 1, 1, kNoOffsets},
    {15, "qwin", "quest", Centred, 3, 0.5, 4, kNoOffsets},
    {16, "rave", "ochre", Corner, 1, 1, 1, kNoOffsets},
    {17, "sizZle", "velvet", Centred, 3, 0.5, 4, kNoOffsets},
    {18, "Tame", "walnut", Centred, 2, 1, 1, kNoOffsets},
}};

// Entry i is formula i, and its routine is the one whose per-pixel function
// stands at i in every instruction set's table.
constexpr bool catalogueFollowsTheRoutines() {
    for (int i = 0; i < kFormulaCount; ++i)
        if (kCatalogue[i].index != i || std::string_view(kCatalogue[i].routine) != kRoutineNames[i])
            return false;
    return true;
}
static_assert(catalogueFollowsTheRoutines());

} // namespace

const std::array<Formula, kFormulaCount>& formulaCatalogue() {
    return kCatalogue;
}

const Formula* findFormula(std::string_view name) {
    const std::optional<long long> index = base::readWholeNumber(name, 0, kFormulaCount - 1);
    for (const Formula& formula : kCatalogue)
        if ((index && formula.index == *index) || name == formula.routine ||
            name == formula.caption)
            return &formula;
    return nullptr;
}

} // namespace spirell::formulas
