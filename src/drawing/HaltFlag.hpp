#pragma once

namespace spirell::drawing {

// Set by "halt !" and "reset", cleared by every formula click, looked at by a
// drawing after each column. One flag serves every nested drawing, so one halt
// stops the whole chain.
class HaltFlag {
public:
    void request() { requested_ = true; }
    void clear() { requested_ = false; }
    bool isRequested() const { return requested_; }

private:
    bool requested_ = false;
};

} // namespace spirell::drawing
