#pragma once

#include "app/BackgroundTask.hpp"
#include "app/DrawnPicture.hpp"
#include "drawing/Computing.hpp"
#include "video/OutputKinds.hpp"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QProgressDialog;
class QWidget;

namespace spirell::app {

class ViewHistory;

// Save animation: a flight through the views of the view history, from the
// oldest kept to the current one (or the last few), as a video or numbered
// PNG frames. Only the views of the current picture's formula take part. It
// is written in the background like a poster, with a progress window whose
// Cancel, like the program's end, leaves no video behind.
class AnimationExport : public QObject {
    Q_OBJECT
public:
    // window: where the key works and the dialogs open; also the parent.
    AnimationExport(QWidget* window, const ViewHistory& history,
                    const drawing::Computing& computing);
    ~AnimationExport() override;

    // Asks where to write the kind chosen: a file, or a folder for PNG
    // frames; an empty answer writes nothing. Replaceable so that tests need
    // no file dialog.
    using Chooser = std::function<QString(const QString& title, const QString& suggested,
                                          video::OutputKind kind)>;
    void setChooser(Chooser chooser) { choose_ = std::move(chooser); }

    QAction* action() const { return action_; }
    // The animation being written, if any.
    const BackgroundTask* task() const { return task_.get(); }

    // The window's latest picture, whose formula the flight keeps to.
    void setPicture(const DrawnPicture& picture);
    // The program ends: an animation being written is cancelled quietly.
    void endQuietly();

    void saveAnimation();

private:
    void finished(bool cancelled, const QString& error);
    void updateAction();
    QString chooseInDialog(const QString& title, const QString& suggested, video::OutputKind kind);

    QWidget* window_;
    const ViewHistory& history_;
    drawing::Computing computing_;
    DrawnPicture picture_;
    QAction* action_ = nullptr;
    Chooser choose_;
    std::unique_ptr<BackgroundTask> task_;
    QPointer<QProgressDialog> progress_;
    // Frame files of an earlier, longer flight found past this one's end,
    // counted by the task, and the first of their names.
    std::shared_ptr<std::atomic<std::uint64_t>> framesBeyond_;
    std::string firstBeyond_;
    bool ending_ = false;
};

} // namespace spirell::app
