#include "drawing/Colours.hpp"

#include "lanes/InstructionSets.hpp"

namespace spirell::drawing {

formulas::Colour colourFromLevels(const formulas::Levels& levels) {
    formulas::Colour colour;
    lanes::kernelsFor(lanes::InstructionSet::Scalar).coloursOfLevels(&levels, 1, &colour);
    return colour;
}

} // namespace spirell::drawing
