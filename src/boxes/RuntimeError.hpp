#pragma once

#include <stdexcept>
#include <string>

namespace spirell::boxes {

// An arithmetic failure that the program reports to the user in the classic
// "Run-time error 'N':" form instead of producing a wrong number.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const std::string& description)
        : std::runtime_error(description), number_(number) {}

    int number() const { return number_; }

private:
    int number_;
};

inline constexpr int kOverflowErrorNumber = 6;

inline RuntimeError overflowError() {
    return RuntimeError(kOverflowErrorNumber, "Overflow");
}

// Returns the value when it is finite; a result beyond the double range is an overflow.
double checkedResult(double value);

} // namespace spirell::boxes
