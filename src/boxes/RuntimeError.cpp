#include "boxes/RuntimeError.hpp"

#include <cmath>

namespace spirell::boxes {

double checkedResult(double value) {
    if (!std::isfinite(value))
        throw overflowError();
    return value;
}

} // namespace spirell::boxes
