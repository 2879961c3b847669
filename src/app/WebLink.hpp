#pragma once

#include <QString>

class QWidget;

namespace spirell::app {

// The maker's page, opened by the button at the top right.
inline constexpr const char* kMakerAddress = "https://www.example.org/";
inline constexpr const char* kMakerHost = "www.example.org";

// Opens the address in the user's web browser through the desktop's own way
// of opening links, which also works inside sandboxes. When that fails, tells
// the user in one message box.
class WebLink {
public:
    explicit WebLink(QString address = kMakerAddress) : address_(std::move(address)) {}

    // Returns whether the browser was started.
    bool open(QWidget* parent) const;

    static QString missingBrowserTitle();
    static QString missingBrowserPrompt();

private:
    QString address_;
};

} // namespace spirell::app
