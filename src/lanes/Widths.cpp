#include "lanes/Widths.hpp"

#include "lanes/WidthTables.hpp"

namespace spirell::lanes {

namespace {

constexpr Width kAllWidths[] = {Width::Scalar, Width::Sse2, Width::Avx, Width::Avx512};

bool processorOffers(Width width) {
#if SPIRELL_X86_WIDTHS
    // GCC's checks also ask the operating system whether it saves the wider
    // registers.
    switch (width) {
    case Width::Scalar:
    case Width::Sse2:
        return true;
    case Width::Avx:
        return __builtin_cpu_supports("avx");
    case Width::Avx512:
        return __builtin_cpu_supports("avx512f");
    }
    return false;
#else
    return width == Width::Scalar;
#endif
}

} // namespace

const char* nameOf(Width width) {
    switch (width) {
    case Width::Scalar:
        return "scalar";
    case Width::Sse2:
        return "sse2";
    case Width::Avx:
        return "avx";
    case Width::Avx512:
        return "avx512";
    }
    return "?";
}

std::optional<Width> widthNamed(std::string_view name) {
    for (const Width width : kAllWidths)
        if (name == nameOf(width))
            return width;
    return std::nullopt;
}

bool isAvailable(Width width) {
    return processorOffers(width);
}

std::vector<Width> availableWidths() {
    std::vector<Width> widths;
    for (const Width width : kAllWidths)
        if (isAvailable(width))
            widths.push_back(width);
    return widths;
}

Width widestAvailable() {
    return availableWidths().back();
}

const WidthKernels& kernelsFor(Width width) {
    switch (width) {
#if SPIRELL_X86_WIDTHS
    case Width::Sse2:
        return sse2::kernels();
    case Width::Avx:
        return avx::kernels();
    case Width::Avx512:
        return avx512::kernels();
#endif
    default:
        return scalar::kernels();
    }
}

} // namespace spirell::lanes
