#pragma once

#include "files/OutputFile.hpp"
#include "image/BandRenderer.hpp"
#include "image/ImagePlan.hpp"
#include "image/PngFile.hpp"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

namespace spirell::app {

// A poster being written in the background: the image library's renderer
// computes and encodes it on worker threads, never on the window's thread,
// into an output file that appears only when complete. Progress and the end
// reach the window as signals on its own thread. Cancelling, or destroying the
// job, stops the workers within about one band and leaves no file behind.
//
// Nothing runs before start(), so the window can connect to the signals first:
// a poster that fails at once still finishes where someone hears it.
class PosterJob : public QObject {
    Q_OBJECT
public:
    // How the poster is painted into its file: image::renderPng unless a test
    // stands in for it.
    using Renderer =
        std::function<void(const image::ImagePlan&, const image::TextChunks&, std::FILE*,
                           const image::BandOptions&, const image::ProgressSink&)>;

    // Makes the file the poster is written to. Throws base::InputError or
    // base::RenderFailure when the file cannot be started.
    PosterJob(image::ImagePlan plan, image::TextChunks texts, const QString& path,
              Renderer render = {}, QObject* parent = nullptr);
    ~PosterJob() override;

    // Starts the poster on a thread of its own; once only. Throws nothing:
    // when no thread can start, finished reports it from the event loop.
    void start();

    quint64 totalRows() const { return plan_.height(); }
    void cancel() { cancelled_ = true; }

signals:
    void progressed(quint64 rowsDone);
    // error is empty when the poster is complete; cancelled jobs end quietly.
    // Emitted exactly once for a started job.
    void finished(bool cancelled, const QString& error);

private:
    void run();

    image::ImagePlan plan_;
    image::TextChunks texts_;
    Renderer render_;
    std::unique_ptr<files::OutputFile> output_;
    std::atomic<bool> cancelled_{false};
    bool started_ = false;
    std::thread thread_;
};

} // namespace spirell::app
