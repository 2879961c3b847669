#pragma once

#include <sleef.h>

// The elementary functions every formula uses. The C library picks among
// differently compiled versions of sin, cos, tan and pow when the program
// loads, by what the processor offers (fused multiply-add or not), and those
// versions may differ in the last bit. These portable versions use plain IEEE
// double arithmetic only, so every x86-64 machine gets the same bits and so the
// same pixel colours.
namespace spirell::maths {

inline double sin(double x) { return Sleef_sind1_u10purec(x); }
inline double cos(double x) { return Sleef_cosd1_u10purec(x); }
inline double tan(double x) { return Sleef_tand1_u10purec(x); }
inline double pow(double base, double exponent) { return Sleef_powd1_u10purec(base, exponent); }

} // namespace spirell::maths
