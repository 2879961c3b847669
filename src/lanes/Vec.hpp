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
    friend Vec sqrt(Vec a) { return Vec(Target::sqrt(a.raw)); }
    friend Vec exp(Vec a) { return Vec(Target::exp(a.raw)); }
    friend Vec log(Vec a) { return Vec(Target::log(a.raw)); }
    friend Vec atan2(Vec y, Vec x) { return Vec(Target::atan2(y.raw, x.raw)); }

    // b where b < a (b > a), else a: NaN in b gives a, NaN in a stays.
    friend Vec min(Vec a, Vec b) { return select(b < a, b, a); }
    friend Vec max(Vec a, Vec b) { return select(b > a, b, a); }

    // The largest whole number not above a, exactly: below 2^52, adding and
    // taking away 2^52 (with a's sign) rounds to a whole number, one less
    // where that went up; -0 stays -0, as a zero keeps a's sign. From 2^52
    // on every value is whole already, and NaN stays NaN.
    friend Vec floor(Vec a) {
        const Mask sign = Mask{} + static_cast<long long>(0x8000000000000000ULL);
        const auto bits = [](Vec v) { return __builtin_bit_cast(Mask, v.raw); };
        const auto fromBits = [](Mask m) { return Vec(__builtin_bit_cast(Raw, m)); };
        const Vec shift = fromBits(bits(Vec(0x1p52)) | (bits(a) & sign));
        Vec whole = (a + shift) - shift;
        whole = select(whole > a, whole - 1.0, whole);
        whole = select(whole == Vec(0.0), fromBits(bits(whole) | (bits(a) & sign)), whole);
        return select(abs(a) < Vec(0x1p52), whole, a);
    }
};

} // namespace spirell::lanes
