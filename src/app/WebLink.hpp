#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace spirell {

// The maker's page, opened by the button at the top right.
inline constexpr const char* kMakerAddress = "https://www.example.org/";
inline constexpr const char* kMakerHost = "www.example.org";
inline constexpr const char* kBrowserProgram = "/usr/bin/xdg-open";

// Starts the browser program, detached and without a shell, with the address as
// its one argument. When it cannot be started, tells the user in one message box.
class WebLink {
public:
    explicit WebLink(QString program = kBrowserProgram, QString address = kMakerAddress)
        : program_(std::move(program)), address_(std::move(address)) {}

    // Returns whether the browser was started.
    bool open(QWidget* parent) const;

    static QString missingBrowserTitle();
    static QString missingBrowserPrompt();

private:
    QString program_;
    QString address_;
};

} // namespace spirell
