#include "app/PosterJob.hpp"

#include "base/Errors.hpp"
#include "image/BandRenderer.hpp"

#include <new>

namespace spirell::app {

PosterJob::PosterJob(image::ImagePlan plan, image::TextChunks texts, const QString& path,
                     QObject* parent)
    : QObject(parent), plan_(std::move(plan)), texts_(std::move(texts)),
      output_(std::make_unique<files::OutputFile>(path.toStdString())) {
    thread_ = std::thread([this] { run(); });
}

PosterJob::~PosterJob() {
    cancel();
    thread_.join();
}

void PosterJob::run() {
    bool cancelled = false;
    QString error;
    try {
        image::BandOptions options;
        options.threads = plan_.threads;
        options.cancel = &cancelled_;
        image::renderPng(plan_, texts_, output_->stream(), options,
                         [this](std::uint64_t rows) { emit progressed(rows); });
        output_->commit();
    } catch (const base::Cancelled&) {
        cancelled = true;
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::exception& failure) {
        error = QString::fromStdString(failure.what());
    }
    if (cancelled || !error.isEmpty())
        output_.reset(); // removes the temporary file
    emit finished(cancelled, error);
}

} // namespace spirell::app
