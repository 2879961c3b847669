#pragma once

#include "app/DrawnPicture.hpp"
#include "app/PosterJob.hpp"
#include "drawing/Computing.hpp"

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
// with their keys, the poster written in the background and its progress
// window, and the file chooser that remembers its folder. The window hands it
// each new drawing; the pixels come from the canvas.
class PictureExport : public QObject {
    Q_OBJECT
public:
    // window: where the keys work and the dialogs open; also the parent.
    // Posters are computed as computing says.
    PictureExport(QWidget* window, const Canvas& canvas, const drawing::Computing& computing);
    ~PictureExport() override;

    // Asks where to save a file; an empty answer saves nothing. Replaceable
    // so that tests need no file dialog.
    using FileChooser = std::function<QString(const QString& title, const QString& suggestedName)>;
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    // What paints posters; replaceable so that tests can make one fail.
    void setPosterRenderer(PosterJob::Renderer render) { renderPoster_ = std::move(render); }

    // Save image, Copy image and Save poster, as the picture's menu lists them.
    QList<QAction*> actions() const;

    // What the window shows of its latest drawing: the picture Save image and
    // Copy image take. Null when nothing has been drawn since start-up or the
    // last reset.
    QImage picture() const;
    // The poster being written, if any.
    const PosterJob* poster() const { return poster_.get(); }

    // The window's latest drawing, or an empty one after a reset.
    void setDrawing(const DrawnPicture& drawing);
    // The program ends: a poster being written is cancelled, without a word.
    void endQuietly();

    void saveImage();
    void copyImage();
    void savePoster();

private:
    void askForPoster();
    void showProgress(PosterJob& job);
    void posterFinished(const PosterJob* job, bool cancelled, const QString& error);
    void updateActions();
    QString chooseFileInDialog(const QString& title, const QString& suggestedName);

    QWidget* window_;
    const Canvas& canvas_;
    drawing::Computing computing_;
    DrawnPicture drawing_;
    QAction* saveImageAction_ = nullptr;
    QAction* copyImageAction_ = nullptr;
    QAction* savePosterAction_ = nullptr;
    FileChooser chooseFile_;
    PosterJob::Renderer renderPoster_;
    std::unique_ptr<PosterJob> poster_;
    QPointer<QProgressDialog> posterProgress_;
    bool ending_ = false;
};

} // namespace spirell::app
