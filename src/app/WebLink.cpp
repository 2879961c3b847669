#include "app/WebLink.hpp"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace spirell::app {

QString WebLink::missingBrowserTitle() {
    return QStringLiteral("Cannot find Browser:");
}

QString WebLink::missingBrowserPrompt() {
    return QStringLiteral(
        "This function requires internet explorer (iexplore.exe) to be in the directory "
        "c:\\Program Files\\  ");
}

bool WebLink::open(QWidget* parent) const {
    if (QDesktopServices::openUrl(QUrl(address_)))
        return true;
    QMessageBox::critical(parent, missingBrowserTitle(), missingBrowserPrompt(), QMessageBox::Ok);
    return false;
}

} // namespace spirell::app
