#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

namespace spirell::testing {

// Closes every message box that opens while it watches, remembering its texts.
class MessageBoxWatcher : public QObject {
public:
    struct Box {
        QString title, text;
        QMessageBox::Icon icon;
    };
    MessageBoxWatcher() {
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes.push_back({box->windowTitle(), box->text(), box->icon()});
                box->done(QMessageBox::Ok);
            }
        });
        timer_.start();
    }
    std::vector<Box> boxes;

private:
    QTimer timer_;
};

} // namespace spirell::testing
