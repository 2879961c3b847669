#include "app/PictureExport.hpp"

#include "app/Canvas.hpp"
#include "app/Messages.hpp"
#include "app/PosterDialog.hpp"
#include "files/OutputFile.hpp"
#include "image/ImagePlan.hpp"
#include "image/ImageSettings.hpp"
#include "image/PngFile.hpp"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>
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

image::ImageSettings settingsOf(const DrawnPicture& drawing, int scale) {
    return {drawing.formula->routine, drawing.boxes, scale};
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
        auto* made = new QAction(text, this);
        made->setObjectName(name);
        made->setShortcut(keys);
        made->setShortcutContext(Qt::WindowShortcut);
        window_->addAction(made);
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

// A poster still being written is cancelled; its workers end before the export.
PictureExport::~PictureExport() = default;

QList<QAction*> PictureExport::actions() const {
    return {saveImageAction_, copyImageAction_, savePosterAction_};
}

QImage PictureExport::picture() const {
    if (drawing_.isEmpty())
        return {};
    return canvas_.image().copy(drawing_.area);
}

void PictureExport::setDrawing(const DrawnPicture& drawing) {
    drawing_ = drawing;
    updateActions();
}

void PictureExport::endQuietly() {
    ending_ = true;
    if (poster_)
        poster_->cancel();
}

// The actions need a picture; a poster is written one at a time.
void PictureExport::updateActions() {
    const bool drawn = !drawing_.isEmpty();
    saveImageAction_->setEnabled(drawn);
    copyImageAction_->setEnabled(drawn);
    savePosterAction_->setEnabled(drawn && !poster_);
}

QString PictureExport::chooseFileInDialog(const QString& title, const QString& suggestedName) {
    QSettings settings;
    const QString folder = settings.value("folders/save", QDir::homePath()).toString();
    QString path = QFileDialog::getSaveFileName(
        window_, title, QDir(folder).filePath(suggestedName), "PNG images (*.png)");
    if (path.isEmpty())
        return {};
    if (QFileInfo(path).suffix().isEmpty())
        path += ".png";
    settings.setValue("folders/save", QFileInfo(path).absolutePath());
    return path;
}

void PictureExport::copyImage() {
    guardSlot(window_, "Copy image", [this] {
        const QImage image = picture();
        if (!image.isNull())
            QGuiApplication::clipboard()->setImage(image);
    });
}

// Saves what the window shows of the latest drawing, with the formula and the
// boxes the drawing read, so that spirell-render --from can paint it again.
void PictureExport::saveImage() {
    guardSlot(window_, "Save image", [this] {
        const QImage image = picture();
        if (image.isNull())
            return;
        // The window may draw again while the file dialog is open.
        const DrawnPicture drawing = drawing_;
        const QString path =
            chooseFile_("Save image", QString("%1.png").arg(drawing.formula->caption));
        if (path.isEmpty())
            return;
        files::OutputFile output(path.toStdString());
        image::writePng(
            output.stream(), image.width(), image.height(), rgbRows(image).data(),
            image::storedTexts(drawing.formula->routine, settingsOf(drawing, 1), kProgramName));
        output.commit();
    });
}

// Paints the latest drawing again at a larger scale into a file, in the
// background: the window goes on working, and the poster can be cancelled.
void PictureExport::savePoster() {
    guardSlot(window_, "Save poster", [this] { askForPoster(); });
}

void PictureExport::askForPoster() {
    const QImage image = picture();
    if (image.isNull() || poster_)
        return;
    const DrawnPicture drawing = drawing_;
    const image::ImagePlan plain = image::planImage(settingsOf(drawing, 1), computing_);
    int largest = kLargestPosterScale;
    while (largest > 1 && !image::fitsTheLimits(plain.width(), plain.height(), largest))
        --largest;
    PosterDialog dialog(int(plain.width()), int(plain.height()), pngBytesPerPixel(image), largest,
                        window_);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const int scale = dialog.scale();
    const QString path = chooseFile_(
        "Save poster", QString("%1-poster-x%2.png").arg(drawing.formula->caption).arg(scale));
    if (path.isEmpty() || poster_)
        return;
    const image::ImageSettings settings = settingsOf(drawing, scale);
    auto job = std::make_unique<PosterJob>(
        image::planImage(settings, computing_),
        image::storedTexts(drawing.formula->routine, settings, kProgramName), path, renderPoster_);
    showProgress(*job);
    // Started only once everything listens: a poster that fails at once is
    // heard like any other.
    poster_ = std::move(job);
    poster_->start();
    updateActions();
}

void PictureExport::showProgress(PosterJob& job) {
    auto progress = std::make_unique<QProgressDialog>(window_);
    progress->setObjectName("posterProgress");
    progress->setWindowModality(Qt::NonModal);
    progress->setWindowTitle("Save poster");
    progress->setLabelText("Writing the poster...");
    progress->setRange(0, int(job.totalRows()));
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setValue(0);
    connect(progress.get(), &QProgressDialog::canceled, &job, &PosterJob::cancel);
    connect(&job, &PosterJob::progressed, progress.get(),
            [shown = progress.get()](quint64 rows) { shown->setValue(int(rows)); });
    // Always from the event loop, so that the job is never destroyed inside
    // its own call.
    connect(
        &job, &PosterJob::finished, this,
        [this, finishing = &job](bool cancelled, const QString& error) {
            guardSlot(window_, "Save poster", [&] { posterFinished(finishing, cancelled, error); });
        },
        Qt::QueuedConnection);
    progress->show();
    posterProgress_ = progress.release();
}

void PictureExport::posterFinished(const PosterJob* job, bool cancelled, const QString& error) {
    if (job != poster_.get())
        return;
    poster_.reset();
    if (posterProgress_) {
        posterProgress_->close();
        posterProgress_->deleteLater();
        posterProgress_ = nullptr;
    }
    updateActions();
    if (!cancelled && !error.isEmpty() && !ending_)
        QMessageBox::warning(window_, "Save poster", error);
}

} // namespace spirell::app
