#pragma once

#include "app/DrawnPicture.hpp"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QAction;

namespace spirell::image {
struct ImageSettings;
}
class QWidget;

namespace spirell::app {

class BackgroundTask;
class Explorer;
class ViewHistory;

// The views the user keeps and shares: Back and Forward through the view
// history, which draw the view there with the exploring render and are
// enabled where a step is possible, Copy view (the spirell-render command
// line of the picture's view) and Open picture, which restores the view a
// saved picture keeps.
class ViewActions : public QObject {
    Q_OBJECT
public:
    // Draws a formula (by index) with box texts, as a formula click does.
    using ViewDrawer = std::function<void(int formula, const boxes::BoxTexts& texts)>;

    // window: where the keys work and the messages open; also the parent.
    ViewActions(QWidget* window, Explorer& explorer, ViewHistory& history, ViewDrawer drawView);
    // A picture still being read is let go.
    ~ViewActions() override;

    // Asks which picture to open; an empty answer opens none. Replaceable so
    // that tests need no file dialog.
    using FileChooser = std::function<QString()>;
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

    // Back, Forward, Copy view and Open picture, as the picture's menu lists them.
    QList<QAction*> actions() const;

    // The window's latest picture, whose view Copy view copies.
    void setPicture(const DrawnPicture& picture);

    // Restores and draws the view a picture keeps, once the file is read on
    // a thread of its own; a newer open replaces one still reading. The path
    // is the file's name as the system gives it, bytes that need not be
    // UTF-8. A file that is not a picture with a view gets one message, and
    // the boxes stay as they were.
    void open(const std::string& path);
    // Whether a picture opened is still being read.
    bool isReading() const { return reading_ != nullptr; }

    // A step while inputs are ignored (a drawing runs) leaves the history
    // where it was.
    void back();
    void forward();
    void copyView();
    void openChosen();

private:
    void updateActions();
    void step(bool back);
    QString chooseFileInDialog();
    void restore(const std::string& name, const image::ImageSettings& settings);

    QWidget* window_;
    Explorer& explorer_;
    ViewHistory& history_;
    ViewDrawer drawView_;
    DrawnPicture picture_;
    FileChooser chooseFile_;
    QAction* backAction_ = nullptr;
    QAction* forwardAction_ = nullptr;
    QAction* copyViewAction_ = nullptr;
    QAction* openAction_ = nullptr;
    std::unique_ptr<BackgroundTask> reading_;
};

} // namespace spirell::app
