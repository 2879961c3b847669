#pragma once

#include "app/BackgroundTask.hpp"
#include "image/BandRenderer.hpp"
#include "image/ImagePlan.hpp"
#include "image/PngFile.hpp"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

namespace spirell::app {

// A picture written to a file in the background: Save image writes one at
// scale 1, Save poster at the scale chosen. The file is opened, computed,
// encoded, written and committed on the job's own thread and the image
// library's worker threads, never on the window's thread, into an output file
// that appears only when complete. Progress and the end reach the window as
// signals on its own thread. Cancelling, or destroying the job, stops the
// workers within about one band and leaves no file behind; a job writing to a
// FIFO or a device, which may wait for its reader indefinitely, is let go at
// once (see BackgroundTask).
//
// Nothing runs before start(), so the window can connect to the signals first:
// a job that fails at once still finishes where someone hears it.
class PictureFileJob : public BackgroundTask {
    Q_OBJECT
public:
    // How the picture is painted into its file: image::renderPng unless a test
    // stands in for it.
    using Renderer =
        std::function<void(const image::ImagePlan&, const image::TextChunks&, std::FILE*,
                           const image::BandOptions&, const image::ProgressSink&)>;

    // subject names the job in messages. The file is only opened once started.
    PictureFileJob(image::ImagePlan plan, image::TextChunks texts, const QString& path,
                   Renderer render = {}, const QString& subject = "poster");

    quint64 totalRows() const { return totalRows_; }

private:
    struct Target;
    PictureFileJob(const std::shared_ptr<Target>& target, image::ImagePlan plan,
                   image::TextChunks texts, Renderer render, const QString& subject);

    quint64 totalRows_ = 0;
};

} // namespace spirell::app
