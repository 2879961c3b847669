#pragma once

#include <stdexcept>
#include <string>

namespace spirell::tool {

// Something wrong with what the user asked for: reported on one line, exit status 2.
class InputError : public std::runtime_error {
public:
    explicit InputError(const std::string& message) : std::runtime_error(message) {}
};

// The request was fine but the work failed (a write error, say): exit status 1.
class RenderFailure : public std::runtime_error {
public:
    explicit RenderFailure(const std::string& message) : std::runtime_error(message) {}
};

} // namespace spirell::tool
