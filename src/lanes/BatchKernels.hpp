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
