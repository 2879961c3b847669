#include "app/PictureExport.hpp"

#include "app/Canvas.hpp"
#include "app/Messages.hpp"
#include "app/PosterDialog.hpp"
#include "app/ProgressWindow.hpp"
#include "app/RememberedFolders.hpp"
#include "app/ShortcutActions.hpp"
#include "image/BandRenderer.hpp"
#include "image/ImagePlan.hpp"
#include "image/ImageSettings.hpp"
#include "image/PngFile.hpp"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace spirell::app {

namespace {

// The picture's rows, three bytes a pixel, one after another.
std::vector<std::uint8_t> rgbRows(const QImage& picture) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    const std::size_t rowBytes = std::size_t{3} * rgb.width();
    std::vector<std::uint8_t> rows(rowBytes * rgb.height());
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(&rows[y * rowBytes], rgb.constScanLine(y), rowBytes);
    return rows;
}

// What the picture's PNG takes a pixel, to tell how large a poster will be.
double pngBytesPerPixel(const QImage& picture) {
    const std::vector<std::uint8_t> rows = rgbRows(picture);
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* memory = ::open_memstream(&buffer, &size);
    if (!memory)
        return 3;
    try {
        image::writePng(memory, picture.width(), picture.height(), rows.data(), {});
    } catch (const std::exception&) {
    }
    std::fclose(memory);
    std::free(buffer);
    return double(size) / (double(picture.width()) * picture.height());
}

image::ImageSettings settingsOf(const DrawnPicture& picture, int scale) {
    return image::settingsOf(*picture.formula, picture.boxes, scale);
}

} // namespace

PictureExport::PictureExport(QWidget* window, const Canvas& canvas,
                             const drawing::Computing& computing)
    : QObject(window), window_(window), canvas_(canvas), computing_(computing),
      chooseFile_([this](const QString& title, const QString& suggestedName) {
          return chooseFileInDialog(title, suggestedName);
      }) {
    const auto action = [this](const char* name, const QString& text, const QKeySequence& keys,
                               void (PictureExport::*slot)()) {
        auto* made = addShortcutAction(window_, this, name, text, keys);
        connect(made, &QAction::triggered, this, slot);
        return made;
    };
    saveImageAction_ =
        action("saveImageAction", "Save image...", Qt::CTRL | Qt::Key_S, &PictureExport::saveImage);
    copyImageAction_ =
        action("copyImageAction", "Copy image", Qt::CTRL | Qt::Key_C, &PictureExport::copyImage);
    savePosterAction_ = action("savePosterAction", "Save poster...",
                               Qt::CTRL | Qt::SHIFT | Qt::Key_S, &PictureExport::savePoster);
    updateActions();
}

// Whatever is still being written or copied is cancelled; the workers end, or
// are let go when they wait for a reader, before the export is gone.
PictureExport::~PictureExport() = default;

QList<QAction*> PictureExport::actions() const {
    return {saveImageAction_, copyImageAction_, savePosterAction_};
}

QImage PictureExport::shownPicture() const {
    if (picture_.isEmpty())
        return {};
    return canvas_.image().copy(picture_.area);
}

void PictureExport::setPicture(const DrawnPicture& picture) {
    picture_ = picture;
    updateActions();
}

void PictureExport::endQuietly() {
    ending_ = true;
    for (FileSave* save : {&image_, &poster_})
        if (save->job)
            save->job->cancel();
    if (copy_)
        copy_->cancel();
}

// The actions need a picture; each kind of file is written one at a time.
void PictureExport::updateActions() {
    const bool drawn = !picture_.isEmpty();
    saveImageAction_->setEnabled(drawn && !image_.job);
    copyImageAction_->setEnabled(drawn);
    savePosterAction_->setEnabled(drawn && !poster_.job);
}

QString PictureExport::chooseFileInDialog(const QString& title, const QString& suggestedName) {
    QString path = chooseInRememberedFolder(window_, FileChoice::SaveFile, "folders/save", title,
                                            "PNG images (*.png)", suggestedName);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += ".png";
    return path;
}

// The latest picture as its formula and boxes describe it, whatever the
// canvas shows of it.
image::ImagePlan PictureExport::planOfLatest(int scale) const {
    return image::planImage(settingsOf(picture_, scale), computing_);
}

// The complete picture reaches the clipboard once it is computed; a later
// Copy image replaces one still being computed.
void PictureExport::copyImage() {
    guardSlot(window_, "Copy image", [this] {
        if (picture_.isEmpty())
            return;
        copy_.reset();
        auto result = std::make_shared<QImage>();
        auto job = std::make_unique<BackgroundTask>(
            "picture", [plan = planOfLatest(1), result](BackgroundTask::Context& context) {
                QImage image(int(plan.width()), int(plan.height()), QImage::Format_RGB888);
                if (image.isNull())
                    throw std::bad_alloc();
                image::BandOptions options;
                options.threads = plan.threads;
                options.cancel = &context.cancelFlag();
                int row = 0;
                image::renderRows(plan, options, [&](const std::uint8_t* rgb) {
                    std::memcpy(image.scanLine(row++), rgb, plan.rowBytes());
                });
                *result = std::move(image);
            });
        connect(job.get(), &BackgroundTask::finished, this,
                [this, serial = ++copySerial_](bool cancelled, const QString& error) {
                    guardSlot(window_, "Copy image",
                              [&] { copyFinished(serial, cancelled, error); });
                });
        copy_ = std::move(job);
        copied_ = std::move(result);
        copy_->start(startThread_);
    });
}

void PictureExport::copyFinished(quint64 serial, bool cancelled, const QString& error) {
    if (serial != copySerial_ || !copy_)
        return;
    deleteFinishedTask(copy_, this);
    const std::shared_ptr<QImage> copied = std::move(copied_);
    if (ending_ || cancelled)
        return;
    if (!error.isEmpty())
        QMessageBox::warning(window_, "Copy image", error);
    else
        QGuiApplication::clipboard()->setImage(*copied);
}

// Saves the latest picture, complete, with the formula and the boxes it was
// drawn from, so that spirell-render --from paints the same file again.
void PictureExport::saveImage() {
    guardSlot(window_, image_.title, [this] {
        if (picture_.isEmpty() || image_.job)
            return;
        // The window may draw again while the file dialog is open.
        const DrawnPicture picture = picture_;
        image::ImagePlan plan = planOfLatest(1);
        const QString path =
            chooseFile_(image_.title, QString("%1.png").arg(picture.formula->caption));
        if (path.isEmpty() || image_.job)
            return;
        startSaving(image_, picture, std::move(plan), path, {});
    });
}

// Paints the latest picture again at a larger scale into a file, in the
// background: the window goes on working, and the poster can be cancelled.
void PictureExport::savePoster() {
    guardSlot(window_, poster_.title, [this] { askForPoster(); });
}

void PictureExport::askForPoster() {
    const QImage image = shownPicture();
    if (image.isNull() || poster_.job)
        return;
    const DrawnPicture picture = picture_;
    const image::ImagePlan plain = planOfLatest(1);
    int largest = kLargestPosterScale;
    while (largest > 1 && !image::fitsTheLimits(plain.width(), plain.height(), largest))
        --largest;
    PosterDialog dialog(int(plain.width()), int(plain.height()), pngBytesPerPixel(image), largest,
                        window_);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const int scale = dialog.scale();
    const QString path = chooseFile_(
        poster_.title, QString("%1-poster-x%2.png").arg(picture.formula->caption).arg(scale));
    if (path.isEmpty() || poster_.job)
        return;
    startSaving(poster_, picture, image::planImage(settingsOf(picture, scale), computing_), path,
                renderPoster_);
}

void PictureExport::startSaving(FileSave& save, const DrawnPicture& picture, image::ImagePlan plan,
                                const QString& path, const PictureFileJob::Renderer& render) {
    image::TextChunks texts =
        image::storedTexts(picture.formula->routine, settingsOf(picture, plan.scale), kProgramName);
    save.job = std::make_unique<PictureFileJob>(std::move(plan), std::move(texts), path, render,
                                                save.subject);
    save.path = path;
    save.cancelPressed = false;
    connect(save.job.get(), &PictureFileJob::finished, this,
            [this, &save, finishing = save.job.get()](bool cancelled, const QString& error) {
                guardSlot(window_, save.title,
                          [&] { savingFinished(save, finishing, cancelled, error); });
            });
    showProgress(save);
    updateActions();
    // Started only once everything listens: a file that fails at once is
    // heard like any other.
    save.job->start(startThread_);
}

void PictureExport::showProgress(FileSave& save) {
    PictureFileJob& job = *save.job;
    save.progress = openProgress(
        window_, job, {save.subject + "Progress", save.title, save.label, save.showAfterMs},
        job.totalRows(), [&save, &job] {
            save.cancelPressed = true;
            job.cancel();
        });
}

void PictureExport::savingFinished(FileSave& save, const PictureFileJob* job, bool cancelled,
                                   const QString& error) {
    if (job != save.job.get())
        return;
    deleteFinishedTask(save.job, this);
    closeProgress(save.progress);
    updateActions();
    if (ending_ || cancelled)
        return;
    if (!error.isEmpty())
        QMessageBox::warning(window_, save.title, error);
    else if (save.cancelPressed)
        // Cancel came while the complete file was given its name.
        QMessageBox::information(
            window_, save.title,
            QString("The %1 was already complete when Cancel was pressed: it is saved as %2.")
                .arg(save.subject, QDir::toNativeSeparators(save.path)));
}

} // namespace spirell::app
