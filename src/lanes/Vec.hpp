#pragma once

// A vector of doubles for one instruction set, for the per-pixel
// functions. Every operation acts on each lane on its own with the IEEE
// operation a double would get, in the order written, so a lane holds exactly
// the bits the same expression gives on one double.
//
// Target describes the instruction set: its lane count, its GCC vector types and its
// sin, cos, tan and pow. Every function here is a template over Target, so the
// code built for one set carries the set's name and can never be taken for
// another set's by the linker. This header belongs in the per-set sources
// only.
namespace spirell::lanes {

template <typename Target> struct Vec {
    using Raw = typename Target::Raw; // size lanes of double
    // size lanes of 64-bit integers, all ones where a comparison holds.
    using Mask = decltype(Raw{} < Raw{});
    static constexpr int size = Target::size;

    Raw raw;

    Vec() = default;
    Vec(Raw value) : raw(value) {}
    // One value in every lane.
    Vec(double value) : raw(value - Raw{}) {} // x - 0 is x, also for -0 and NaN

    friend Vec operator-(Vec a) { return Vec(-a.raw); }

    friend Vec operator+(Vec a, Vec b) { return Vec(a.raw + b.raw); }
    friend Vec operator-(Vec a, Vec b) { return Vec(a.raw - b.raw); }
    friend Vec operator*(Vec a, Vec b) { return Vec(a.raw * b.raw); }
    friend Vec operator/(Vec a, Vec b) { return Vec(a.raw / b.raw); }

    friend Vec operator+(Vec a, double b) { return Vec(a.raw + b); }
    friend Vec operator-(Vec a, double b) { return Vec(a.raw - b); }
    friend Vec operator*(Vec a, double b) { return Vec(a.raw * b); }
    friend Vec operator/(Vec a, double b) { return Vec(a.raw / b); }
    friend Vec operator+(double a, Vec b) { return Vec(a + b.raw); }
    friend Vec operator-(double a, Vec b) { return Vec(a - b.raw); }
    friend Vec operator*(double a, Vec b) { return Vec(a * b.raw); }
    friend Vec operator/(double a, Vec b) { return Vec(a / b.raw); }

    // Comparisons give a mask per lane; NaN compares false, as on one double.
    friend Mask operator<(Vec a, Vec b) { return a.raw < b.raw; }
    friend Mask operator>(Vec a, Vec b) { return a.raw > b.raw; }
    friend Mask operator==(Vec a, Vec b) { return a.raw == b.raw; }

    // Per lane: where the mask is set, from a; elsewhere from b.
    friend Vec select(Mask mask, Vec a, Vec b) { return Vec(mask ? a.raw : b.raw); }

    // Clears the sign bit, as fabs does: NaN stays NaN.
    friend Vec abs(Vec a) {
        const Mask magnitude = Mask{} + 0x7fffffffffffffffLL;
        return Vec(__builtin_bit_cast(Raw, __builtin_bit_cast(Mask, a.raw) & magnitude));
    }

    friend Vec sin(Vec a) { return Vec(Target::sin(a.raw)); }
    friend Vec cos(Vec a) { return Vec(Target::cos(a.raw)); }
    friend Vec tan(Vec a) { return Vec(Target::tan(a.raw)); }
    friend Vec pow(Vec base, Vec exponent) { return Vec(Target::pow(base.raw, exponent.raw)); }
    friend Vec pow(Vec base, double exponent) { return pow(base, Vec(exponent)); }
};

} // namespace spirell::lanes
