#pragma once

// What the formula targets check of every compiled program: formula_text's
// from arbitrary text, formula_lanes's from random formulas.
#include "FuzzSupport.hpp"

#include "drawing/Colours.hpp"
#include "formulas/FormulaProgram.hpp"
#include "formulas/FormulaText.hpp"
#include "lanes/InstructionSets.hpp"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace spirell::fuzz {

inline bool takesTwoOperands(formulas::Operation operation) {
    using enum formulas::Operation;
    switch (operation) {
    case Add:
    case Sub:
    case Mul:
    case Div:
    case Pow:
    case Atan2:
    case Min:
    case Max:
        return true;
    default:
        return false;
    }
}

// The program reads only what exists: registers it has, each written before
// it is read (X and Y are there from the start), and constants it holds.
inline void checkProgramShape(const formulas::FormulaProgram& program, const std::string& about) {
    FUZZ_CHECK(program.instructions.size() <= formulas::kMaxFormulaOperations, about);
    FUZZ_CHECK(program.registers >= 2, about);
    FUZZ_CHECK(program.registers <= program.instructions.size() + 2, about);
    std::vector<bool> written(program.registers, false);
    written[0] = written[1] = true;
    const auto checkOperand = [&](const formulas::Operand& operand, std::size_t at) {
        const std::string where = about + ": instruction " + std::to_string(at) + " reads " +
                                  std::to_string(int(operand.source)) + ":" +
                                  std::to_string(operand.index);
        switch (operand.source) {
        case formulas::Source::Register:
            FUZZ_CHECK(operand.index < program.registers, where);
            FUZZ_CHECK(written[operand.index], where);
            break;
        case formulas::Source::Constant:
            FUZZ_CHECK(operand.index < program.constants.size(), where);
            break;
        case formulas::Source::Zoom:
            break;
        default:
            fail("a known operand source", where, __FILE__, __LINE__);
        }
    };
    for (std::size_t i = 0; i < program.instructions.size(); ++i) {
        const formulas::Instruction& instruction = program.instructions[i];
        FUZZ_CHECK(instruction.operation <= formulas::Operation::Floor,
                   about + ": instruction " + std::to_string(i));
        checkOperand(instruction.a, i);
        if (takesTwoOperands(instruction.operation))
            checkOperand(instruction.b, i);
        FUZZ_CHECK(instruction.target < program.registers,
                   about + ": instruction " + std::to_string(i));
        written[instruction.target] = true;
    }
    for (const formulas::Operand& channel : program.channels)
        checkOperand(channel, program.instructions.size());
}

// The same double, bit for bit; any NaN matches any other, as its sign and
// payload carry no meaning and a level that is not a number is drawn as 0.
inline bool sameResult(double a, double b) {
    if (std::isnan(a) && std::isnan(b))
        return true;
    std::uint64_t bitsA, bitsB;
    std::memcpy(&bitsA, &a, sizeof a);
    std::memcpy(&bitsB, &b, sizeof b);
    return bitsA == bitsB;
}

// Every instruction set this processor runs gives the scalar one's raw
// mixtures and colours for the pixels.
inline void checkEverySetAgrees(const formulas::FormulaProgram& program,
                                const lanes::LevelRule& rule, const lanes::PixelBatch& pixels,
                                const std::string& about) {
    const lanes::KernelTable& scalar = lanes::kernelsFor(lanes::InstructionSet::Scalar);
    std::vector<lanes::RawTerms> expectedTerms(pixels.count), terms(pixels.count);
    std::vector<formulas::Colour> expectedColours(pixels.count), colours(pixels.count);
    scalar.programTerms(program, rule.zoom, pixels, expectedTerms.data());
    scalar.programColours(rule, pixels, expectedColours.data());
    for (const lanes::InstructionSet set : lanes::availableInstructionSets()) {
        if (set == lanes::InstructionSet::Scalar)
            continue;
        const lanes::KernelTable& kernels = lanes::kernelsFor(set);
        kernels.programTerms(program, rule.zoom, pixels, terms.data());
        kernels.programColours(rule, pixels, colours.data());
        for (std::size_t i = 0; i < pixels.count; ++i) {
            const double X = pixels.X[std::ptrdiff_t(i) * pixels.xStride];
            const double Y = pixels.Y[std::ptrdiff_t(i) * pixels.yStride];
            const auto at = [&](const char* what, double scalarValue, double value) {
                return about + "\n" + lanes::nameOf(set) + " " + what + " at X = " + exact(X) +
                       ", Y = " + exact(Y) + ", zoom " + exact(rule.zoom) + ": " + exact(value) +
                       ", scalar " + exact(scalarValue);
            };
            FUZZ_CHECK(sameResult(terms[i].red, expectedTerms[i].red),
                       at("red", expectedTerms[i].red, terms[i].red));
            FUZZ_CHECK(sameResult(terms[i].green, expectedTerms[i].green),
                       at("green", expectedTerms[i].green, terms[i].green));
            FUZZ_CHECK(sameResult(terms[i].blue, expectedTerms[i].blue),
                       at("blue", expectedTerms[i].blue, terms[i].blue));
            FUZZ_CHECK(drawing::colourValue(colours[i]) == drawing::colourValue(expectedColours[i]),
                       at("colour", drawing::colourValue(expectedColours[i]),
                          drawing::colourValue(colours[i])));
        }
    }
}

} // namespace spirell::fuzz
