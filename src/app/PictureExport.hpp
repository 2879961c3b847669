#pragma once

#include "app/BackgroundTask.hpp"
#include "app/DrawnPicture.hpp"
#include "app/PictureFileJob.hpp"
#include "base/WorkerPool.hpp"
#include "drawing/Computing.hpp"
#include "image/ImagePlan.hpp"

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QProgressDialog;
class QWidget;

namespace spirell::app {

class Canvas;

// The picture's way out of the window: Save image, Copy image and Save poster,
// with their keys, the files written in the background with their progress
// windows, and the file chooser that remembers its folder. The window hands it
// each new picture. What leaves the window is always the latest picture
// complete, every row and column of it, computed afresh from its formula and
// boxes by the image library on worker threads: what the canvas shows may be
// unfinished, halted, painted over or cut by the window's edge. So a saved
// file's pixels always agree with its texts, and spirell-render --from paints
// the same file again.
class PictureExport : public QObject {
    Q_OBJECT
public:
    // window: where the keys work and the dialogs open; also the parent.
    // Pictures are computed as computing says.
    PictureExport(QWidget* window, const Canvas& canvas, const drawing::Computing& computing);
    ~PictureExport() override;

    // Asks where to save a file; an empty answer saves nothing. Replaceable
    // so that tests need no file dialog.
    using FileChooser = std::function<QString(const QString& title, const QString& suggestedName)>;
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    // What paints posters; replaceable so that tests can make one fail.
    void setPosterRenderer(PictureFileJob::Renderer render) { renderPoster_ = std::move(render); }
    // How the background work starts its thread; replaceable so that tests
    // can make it fail.
    void setThreadStarter(base::ThreadStarter startThread) {
        startThread_ = std::move(startThread);
    }

    // Save image, Copy image and Save poster, as the picture's menu lists them.
    QList<QAction*> actions() const;

    // What the window shows of its latest picture, which may be less than the
    // picture Save image writes. Null when nothing has been drawn since
    // start-up or the last reset.
    QImage shownPicture() const;
    // The image or poster being written, if any.
    const PictureFileJob* imageSave() const { return image_.job.get(); }
    const PictureFileJob* poster() const { return poster_.job.get(); }
    // The picture being computed for the clipboard, if any.
    const BackgroundTask* copy() const { return copy_.get(); }

    // The window's latest picture, or an empty one after a reset.
    void setPicture(const DrawnPicture& picture);
    // The program ends: whatever is being written or copied is cancelled,
    // without a word.
    void endQuietly();

    void saveImage();
    void copyImage();
    void savePoster();

private:
    // A file being written, with its progress window.
    struct FileSave {
        FileSave(QString titleText, QString subjectText, QString labelText, int delayMs)
            : title(std::move(titleText)), subject(std::move(subjectText)),
              label(std::move(labelText)), showAfterMs(delayMs) {}
        const QString title;   // "Save image", "Save poster"
        const QString subject; // "picture", "poster"
        const QString label;   // what the progress window says
        const int showAfterMs; // how long the file may take before its progress shows
        std::unique_ptr<PictureFileJob> job;
        QPointer<QProgressDialog> progress;
        QString path;
        bool cancelPressed = false;
    };

    image::ImagePlan planOfLatest(int scale) const;
    void askForPoster();
    void startSaving(FileSave& save, const DrawnPicture& picture, image::ImagePlan plan,
                     const QString& path, const PictureFileJob::Renderer& render);
    void showProgress(FileSave& save);
    void savingFinished(FileSave& save, const PictureFileJob* job, bool cancelled,
                        const QString& error);
    void copyFinished(quint64 serial, bool cancelled, const QString& error);
    void updateActions();
    QString chooseFileInDialog(const QString& title, const QString& suggestedName);

    QWidget* window_;
    const Canvas& canvas_;
    drawing::Computing computing_;
    DrawnPicture picture_;
    QAction* saveImageAction_ = nullptr;
    QAction* copyImageAction_ = nullptr;
    QAction* savePosterAction_ = nullptr;
    FileChooser chooseFile_;
    PictureFileJob::Renderer renderPoster_;
    base::ThreadStarter startThread_;
    // A picture takes at most a fraction of a second; its progress shows only
    // when the file takes longer, as a FIFO waiting for its reader does, so
    // that it can be cancelled.
    FileSave image_{"Save image", "picture", "Saving the picture...", 500};
    FileSave poster_{"Save poster", "poster", "Writing the poster...", 0};
    std::unique_ptr<BackgroundTask> copy_;
    std::shared_ptr<QImage> copied_; // what copy_ computes
    quint64 copySerial_ = 0;         // tells copy_'s end from that of one it replaced
    bool ending_ = false;
};

} // namespace spirell::app
