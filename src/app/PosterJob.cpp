#include "app/PosterJob.hpp"

#include "base/Errors.hpp"
#include "image/BandRenderer.hpp"

#include <QMetaObject>

#include <new>

namespace spirell::app {

PosterJob::PosterJob(image::ImagePlan plan, image::TextChunks texts, const QString& path,
                     Renderer render, QObject* parent)
    : QObject(parent), plan_(std::move(plan)), texts_(std::move(texts)), render_(std::move(render)),
      output_(std::make_unique<files::OutputFile>(path.toStdString())) {}

PosterJob::~PosterJob() {
    cancel();
    if (thread_.joinable())
        thread_.join();
}

void PosterJob::start() {
    if (started_)
        return;
    started_ = true;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::exception& failure) {
        // Reported later, as a failing thread would: whoever hears finished
        // may destroy the job, which must not happen inside start().
        output_.reset(); // removes the temporary file
        QMetaObject::invokeMethod(
            this,
            [this, error = QString("cannot start the poster: %1").arg(failure.what())] {
                emit finished(false, error);
            },
            Qt::QueuedConnection);
    }
}

void PosterJob::run() {
    bool cancelled = false;
    QString error;
    try {
        image::BandOptions options;
        options.threads = plan_.threads;
        options.cancel = &cancelled_;
        const image::ProgressSink progress = [this](std::uint64_t rows) { emit progressed(rows); };
        if (render_)
            render_(plan_, texts_, output_->stream(), options, progress);
        else
            image::renderPng(plan_, texts_, output_->stream(), options, progress);
        output_->commit();
    } catch (const base::Cancelled&) {
        cancelled = true;
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::exception& failure) {
        error = QString::fromStdString(failure.what());
    } catch (...) {
        error = "the poster failed for an unknown reason";
    }
    if (cancelled || !error.isEmpty())
        output_.reset(); // removes the temporary file
    emit finished(cancelled, error);
}

} // namespace spirell::app
