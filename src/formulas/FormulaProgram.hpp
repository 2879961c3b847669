#pragma once

#include <cstdint>
#include <vector>

// A formula text compiled into a flat list of operations, for the lanes to
// run over batches of pixels. Plain data only: the per-instruction-set
// sources include this too.
namespace spirell::formulas {

// What an operation does to its operands a and b (b unused by the ones of
// one argument). Each is the IEEE operation, or the deterministic function
// the built-in formulas use, lane by lane.
enum class Operation : std::uint8_t {
    Add,   // a + b
    Sub,   // a - b
    Mul,   // a * b
    Div,   // a / b
    Neg,   // -a: the sign flipped, as unary minus does
    Sin,   // the lanes' deterministic sine
    Cos,   // cosine
    Tan,   // tangent
    Pow,   // a to the power b
    Abs,   // the sign cleared, as fabs does
    Sqrt,  // square root
    Exp,   // e to the power a
    Log,   // natural logarithm
    Atan2, // the angle of the point (b, a): atan2(a, b)
    Min,   // b where b < a, else a
    Max,   // b where b > a, else a
    Floor, // the largest whole number not above a; -0, infinities and NaN stay
};

// Where an operand comes from.
enum class Source : std::uint8_t {
    Register, // a register of the batch, by number
    Constant, // the program's constant, by number
    Zoom,     // the formula's zoom value
};

struct Operand {
    Source source = Source::Register;
    std::uint16_t index = 0;
};

struct Instruction {
    Operation operation = Operation::Add;
    std::uint16_t target = 0; // the register written
    Operand a;
    Operand b;
};

// Registers 0 and 1 hold each pixel's X and Y when the program starts; the
// instructions then run in order, each over the whole batch. A register may
// be reused once its value is no longer needed, also as an instruction's own
// target. The three channel mixtures are the operands in channels at the end.
// The most registers a program may use, X and Y included: a batch's
// registers live on the stack of whoever computes it.
inline constexpr std::uint16_t kMaxProgramRegisters = 64;

struct FormulaProgram {
    std::vector<Instruction> instructions;
    std::vector<double> constants;
    std::uint16_t registers = 2;
    Operand channels[3];
};

} // namespace spirell::formulas
