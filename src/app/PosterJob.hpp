#pragma once

#include "files/OutputFile.hpp"
#include "image/ImagePlan.hpp"
#include "image/PngFile.hpp"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace spirell::app {

// A poster being written in the background: the image library's renderer
// computes and encodes it on worker threads, never on the window's thread,
// into an output file that appears only when complete. Progress and the end
// reach the window as signals on its own thread. Cancelling, or destroying the
// job, stops the workers within about one band and leaves no file behind.
class PosterJob : public QObject {
    Q_OBJECT
public:
    // Throws base::InputError or base::RenderFailure when the file cannot be
    // started.
    PosterJob(image::ImagePlan plan, image::TextChunks texts, const QString& path,
              QObject* parent = nullptr);
    ~PosterJob() override;

    quint64 totalRows() const { return plan_.height(); }
    void cancel() { cancelled_ = true; }

signals:
    void progressed(quint64 rowsDone);
    // error is empty when the poster is complete; cancelled jobs end quietly.
    void finished(bool cancelled, const QString& error);

private:
    void run();

    image::ImagePlan plan_;
    image::TextChunks texts_;
    std::unique_ptr<files::OutputFile> output_;
    std::atomic<bool> cancelled_{false};
    std::thread thread_;
};

} // namespace spirell::app
