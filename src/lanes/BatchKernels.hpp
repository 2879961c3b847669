#pragma once

#include "formulas/AllFormulas.hpp"
#include "lanes/Batch.hpp"
#include "lanes/Vec.hpp"

#include <utility>

// The batch functions, written once over the instruction set's Target and
// instantiated by its source. Like Vec, everything here is a template over
// Target; no ordinary inline function may be added.
namespace spirell::lanes {

// How many of the lanes from first on hold real pixels of a batch of count.
template <typename Target> int lanesInUse(std::size_t count, std::size_t first) {
    const std::size_t left = count - first;
    return left < std::size_t(Vec<Target>::size) ? static_cast<int>(left) : Vec<Target>::size;
}

// Loads one coordinate of the pixels from first on into the lanes: a stride of
// 0 is the same value in every lane, a stride of 1 a plain load. Past the end
// of the batch the last pixel is repeated: the spare lanes compute real
// values, and only the lanes of real pixels are stored.
template <typename Target>
Vec<Target> loadCoordinate(const double* values, std::ptrdiff_t stride, std::size_t count,
                           std::size_t first) {
    using V = Vec<Target>;
    if (stride == 0)
        return V(values[0]);
    V lanes;
    if (stride == 1 && first + V::size <= count) {
        __builtin_memcpy(&lanes.raw, values + first, sizeof lanes.raw);
        return lanes;
    }
    for (int lane = 0; lane < V::size; ++lane) {
        const std::size_t i = first + lane < count ? first + lane : count - 1;
        lanes.raw[lane] = values[static_cast<std::ptrdiff_t>(i) * stride];
    }
    return lanes;
}

template <typename Target>
void loadLanes(const PixelBatch& pixels, std::size_t first, Vec<Target>& X, Vec<Target>& Y) {
    X = loadCoordinate<Target>(pixels.X, pixels.xStride, pixels.count, first);
    Y = loadCoordinate<Target>(pixels.Y, pixels.yStride, pixels.count, first);
}

// A level as a channel value: a level that is not a number gives 0, then it is
// clamped to 0..255 and rounded half to even (254.5 gives 254). Adding and
// taking away 2^52 rounds a value from 0 to 255 to a whole number, half to
// even, exactly as nearbyint does in the default rounding mode.
template <typename Target> Vec<Target> channelValue(Vec<Target> level) {
    using V = Vec<Target>;
    const V zero(0.0), top(255.0);
    level = select(level == level, level, zero);
    level = select(level < zero, zero, level);
    level = select(level > top, top, level);
    return (level + 0x1p52) - 0x1p52;
}

// Turns the levels of the first lanes into colours.
template <typename Target>
void storeColours(Vec<Target> red, Vec<Target> green, Vec<Target> blue, int lanes,
                  formulas::Colour* colours) {
    red = channelValue<Target>(red);
    green = channelValue<Target>(green);
    blue = channelValue<Target>(blue);
    for (int lane = 0; lane < lanes; ++lane)
        colours[lane] = formulas::Colour{static_cast<unsigned char>(red.raw[lane]),
                                         static_cast<unsigned char>(green.raw[lane]),
                                         static_cast<unsigned char>(blue.raw[lane])};
}

// Formula is the index of the formula: its per-pixel function is taken from
// the table at compile time, so that it is inlined into the batch.
template <typename Target, std::size_t Formula>
void colourBatch(const LevelRule& rule, const PixelBatch& pixels, formulas::Colour* colours) {
    using V = Vec<Target>;
    constexpr formulas::PixelFunction<V> Pixel = formulas::kPixelFunctions<V>[Formula];
    const auto level = [&](V mixture, double offset) {
        return (mixture * rule.brightness) * rule.levelScale + offset;
    };
    for (std::size_t first = 0; first < pixels.count; first += V::size) {
        V X, Y;
        loadLanes(pixels, first, X, Y);
        const formulas::ChannelTerms<V> terms = Pixel({X, Y, rule.zoom});
        storeColours<Target>(level(terms.red, rule.offsets[0]), level(terms.green, rule.offsets[1]),
                             level(terms.blue, rule.offsets[2]),
                             lanesInUse<Target>(pixels.count, first), colours + first);
    }
}

template <typename Target, std::size_t Formula>
void termsBatch(double zoom, const PixelBatch& pixels, RawTerms* terms) {
    using V = Vec<Target>;
    constexpr formulas::PixelFunction<V> Pixel = formulas::kPixelFunctions<V>[Formula];
    for (std::size_t first = 0; first < pixels.count; first += V::size) {
        V X, Y;
        loadLanes(pixels, first, X, Y);
        const formulas::ChannelTerms<V> lanes = Pixel({X, Y, zoom});
        const int count = lanesInUse<Target>(pixels.count, first);
        for (int lane = 0; lane < count; ++lane)
            terms[first + lane] =
                RawTerms{lanes.red.raw[lane], lanes.green.raw[lane], lanes.blue.raw[lane]};
    }
}

// Pixels a formula program runs over at a time: each register holds this
// many, so that a program's registers stay in the first-level cache.
inline constexpr std::size_t kProgramBatchPixels = 64;

// Runs the program over the pixels from first on (at most
// kProgramBatchPixels), then hands take(chunk, red, green, blue, lanes) the
// channel mixtures of each vector of pixels in turn. registers has room for
// program.registers x kProgramBatchPixels values.
template <typename Target, typename Take>
void runProgram(const formulas::FormulaProgram& program, double zoom, const PixelBatch& pixels,
                std::size_t first, Vec<Target>* registers, Take&& take) {
    using V = Vec<Target>;
    using formulas::Operation;
    constexpr std::size_t kChunks = kProgramBatchPixels / V::size;
    const std::size_t left = pixels.count - first;
    const std::size_t pixelCount = left < kProgramBatchPixels ? left : kProgramBatchPixels;
    const std::size_t chunks = (pixelCount + V::size - 1) / V::size;
    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
        V X, Y;
        loadLanes(pixels, first + chunk * V::size, X, Y);
        registers[chunk] = X;
        registers[kChunks + chunk] = Y;
    }
    // An operand's lanes: a register's own, or one value in every lane.
    struct Lanes {
        const V* at;
        std::size_t step;
    };
    V broadcast[3];
    const auto lanesOf = [&](const formulas::Operand& operand, int slot) -> Lanes {
        switch (operand.source) {
        case formulas::Source::Register:
            return {registers + operand.index * kChunks, 1};
        case formulas::Source::Constant:
            broadcast[slot] = V(program.constants[operand.index]);
            return {&broadcast[slot], 0};
        case formulas::Source::Zoom:
            break;
        }
        broadcast[slot] = V(zoom);
        return {&broadcast[slot], 0};
    };
    for (const formulas::Instruction& instruction : program.instructions) {
        const Lanes a = lanesOf(instruction.a, 0);
        const Lanes b = lanesOf(instruction.b, 1);
        V* target = registers + instruction.target * kChunks;
        const auto each = [&](auto&& operate) {
            for (std::size_t chunk = 0; chunk < chunks; ++chunk)
                target[chunk] = operate(a.at[chunk * a.step], b.at[chunk * b.step]);
        };
        switch (instruction.operation) {
        case Operation::Add:
            each([](V x, V y) { return x + y; });
            break;
        case Operation::Sub:
            each([](V x, V y) { return x - y; });
            break;
        case Operation::Mul:
            each([](V x, V y) { return x * y; });
            break;
        case Operation::Div:
            each([](V x, V y) { return x / y; });
            break;
        case Operation::Neg:
            each([](V x, V) { return -x; });
            break;
        case Operation::Sin:
            each([](V x, V) { return sin(x); });
            break;
        case Operation::Cos:
            each([](V x, V) { return cos(x); });
            break;
        case Operation::Tan:
            each([](V x, V) { return tan(x); });
            break;
        case Operation::Pow:
            each([](V x, V y) { return pow(x, y); });
            break;
        case Operation::Abs:
            each([](V x, V) { return abs(x); });
            break;
        case Operation::Sqrt:
            each([](V x, V) { return sqrt(x); });
            break;
        case Operation::Exp:
            each([](V x, V) { return exp(x); });
            break;
        case Operation::Log:
            each([](V x, V) { return log(x); });
            break;
        case Operation::Atan2:
            each([](V x, V y) { return atan2(x, y); });
            break;
        case Operation::Min:
            each([](V x, V y) { return min(x, y); });
            break;
        case Operation::Max:
            each([](V x, V y) { return max(x, y); });
            break;
        case Operation::Floor:
            each([](V x, V) { return floor(x); });
            break;
        }
    }
    const Lanes red = lanesOf(program.channels[0], 0);
    const Lanes green = lanesOf(program.channels[1], 1);
    const Lanes blue = lanesOf(program.channels[2], 2);
    for (std::size_t chunk = 0; chunk < chunks; ++chunk)
        take(chunk, red.at[chunk * red.step], green.at[chunk * green.step],
             blue.at[chunk * blue.step], lanesInUse<Target>(pixels.count, first + chunk * V::size));
}

// Room for the most registers a program may use.
template <typename Target> struct ProgramRegisters {
    Vec<Target> lanes[formulas::kMaxProgramRegisters * (kProgramBatchPixels / Vec<Target>::size)];
    Vec<Target>* get() { return lanes; }
};

template <typename Target>
void programColourBatch(const LevelRule& rule, const PixelBatch& pixels,
                        formulas::Colour* colours) {
    using V = Vec<Target>;
    const auto level = [&](V mixture, double offset) {
        return (mixture * rule.brightness) * rule.levelScale + offset;
    };
    ProgramRegisters<Target> registers;
    for (std::size_t first = 0; first < pixels.count; first += kProgramBatchPixels)
        runProgram<Target>(*rule.program, rule.zoom, pixels, first, registers.get(),
                           [&](std::size_t chunk, V red, V green, V blue, int lanes) {
                               storeColours<Target>(level(red, rule.offsets[0]),
                                                    level(green, rule.offsets[1]),
                                                    level(blue, rule.offsets[2]), lanes,
                                                    colours + first + chunk * V::size);
                           });
}

template <typename Target>
void programTermsBatch(const formulas::FormulaProgram& program, double zoom,
                       const PixelBatch& pixels, RawTerms* terms) {
    using V = Vec<Target>;
    ProgramRegisters<Target> registers;
    for (std::size_t first = 0; first < pixels.count; first += kProgramBatchPixels)
        runProgram<Target>(
            program, zoom, pixels, first, registers.get(),
            [&](std::size_t chunk, V red, V green, V blue, int lanes) {
                RawTerms* out = terms + first + chunk * V::size;
                for (int lane = 0; lane < lanes; ++lane)
                    out[lane] = RawTerms{red.raw[lane], green.raw[lane], blue.raw[lane]};
            });
}

template <typename Target>
void coloursOfLevels(const formulas::Levels* levels, std::size_t count, formulas::Colour* colours) {
    using V = Vec<Target>;
    for (std::size_t first = 0; first < count; first += V::size) {
        V red, green, blue;
        for (int lane = 0; lane < V::size; ++lane) {
            const std::size_t i = first + lane < count ? first + lane : count - 1;
            red.raw[lane] = levels[i].red;
            green.raw[lane] = levels[i].green;
            blue.raw[lane] = levels[i].blue;
        }
        storeColours<Target>(red, green, blue, lanesInUse<Target>(count, first), colours + first);
    }
}

template <typename Target>
void elementary(Elementary function, const double* x, const double* y, std::size_t count,
                double* results) {
    using V = Vec<Target>;
    for (std::size_t first = 0; first < count; first += V::size) {
        V X, Y;
        const PixelBatch arguments{x, 1, y, 1, count};
        loadLanes(arguments, first, X, Y);
        V result;
        switch (function) {
        case Elementary::Sin:
            result = sin(X);
            break;
        case Elementary::Cos:
            result = cos(X);
            break;
        case Elementary::Tan:
            result = tan(X);
            break;
        case Elementary::Pow:
            result = pow(X, Y);
            break;
        case Elementary::Sqrt:
            result = sqrt(X);
            break;
        case Elementary::Exp:
            result = exp(X);
            break;
        case Elementary::Log:
            result = log(X);
            break;
        case Elementary::Atan2:
            result = atan2(X, Y);
            break;
        }
        const int lanes = lanesInUse<Target>(count, first);
        for (int lane = 0; lane < lanes; ++lane)
            results[first + lane] = result.raw[lane];
    }
}

template <typename Target, std::size_t... Index>
constexpr KernelTable makeKernels(const char* name, std::index_sequence<Index...>) {
    using V = Vec<Target>;
    return {name,
            V::size,
            {&colourBatch<Target, Index>...},
            {&termsBatch<Target, Index>...},
            &programColourBatch<Target>,
            &programTermsBatch<Target>,
            &coloursOfLevels<Target>,
            &elementary<Target>};
}

// The table of one instruction set: every formula's batch functions.
template <typename Target> constexpr KernelTable makeKernels(const char* name) {
    static_assert(std::size(formulas::kPixelFunctions<Vec<Target>>) == formulas::kFormulaCount,
                  "one per-pixel function for each routine name");
    return makeKernels<Target>(name, std::make_index_sequence<formulas::kFormulaCount>{});
}

} // namespace spirell::lanes
