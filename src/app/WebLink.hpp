#pragma once

#include "ProgramInfo.hpp"

#include <QString>

class QWidget;

namespace spirell::app {

// Opens the address in the user's web browser through the desktop's own way
// of opening links, which also works inside sandboxes. When that fails, tells
// the user in one message box.
class WebLink {
public:
    explicit WebLink(QString address = kHomepageAddress) : address_(std::move(address)) {}

    // Returns whether the browser was started.
    bool open(QWidget* parent) const;

    static QString missingBrowserTitle();
    static QString missingBrowserPrompt();

private:
    QString address_;
};

} // namespace spirell::app
