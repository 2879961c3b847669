#include "app/PictureFileJob.hpp"

#include "files/OutputFile.hpp"

#include <sys/stat.h>

#include <atomic>
#include <string>

namespace spirell::app {

namespace {

enum class Phase { NotOpened, Opening, Open };

} // namespace

// The file being written, as far as the window's thread may look at it.
struct PictureFileJob::Target {
    explicit Target(const QString& name) : path(name.toStdString()) {}
    const std::string path;
    std::atomic<Phase> phase{Phase::NotOpened};
    std::atomic<bool> direct{false}; // open, and a FIFO or a device

    // While the file is opened, the path itself tells: it may turn into a
    // FIFO after any earlier look.
    bool mayWaitForever() const {
        switch (phase.load()) {
        case Phase::NotOpened:
            return false;
        case Phase::Opening:
            return files::isFifoOrDevice(path);
        case Phase::Open:
            return direct.load();
        }
        return false;
    }
};

PictureFileJob::PictureFileJob(image::ImagePlan plan, image::TextChunks texts, const QString& path,
                               Renderer render, const QString& subject)
    : PictureFileJob(std::make_shared<Target>(path), std::move(plan), std::move(texts),
                     std::move(render), subject) {}

PictureFileJob::PictureFileJob(const std::shared_ptr<Target>& target, image::ImagePlan plan,
                               image::TextChunks texts, Renderer render, const QString& subject)
    : BackgroundTask(
          subject,
          [target, plan, texts = std::move(texts), render = std::move(render)](Context& context) {
              target->phase = Phase::Opening;
              files::OutputFile output(target->path);
              struct stat opened = {};
              target->direct = ::fstat(output.descriptor(), &opened) == 0 &&
                               files::isFifoOrDevice(opened.st_mode);
              target->phase = Phase::Open;
              // Cancelled while a FIFO waited for its reader: nothing is written.
              context.stopIfCancelled();

              image::BandOptions options;
              options.threads = plan.threads;
              options.cancel = &context.cancelFlag();
              const image::ProgressSink progress = [&](std::uint64_t rows) {
                  context.reportProgress(rows);
              };
              if (render)
                  render(plan, texts, output.stream(), options, progress);
              else
                  image::renderPng(plan, texts, output.stream(), options, progress);
              // Cancel pressed during the last write still leaves no file;
              // once committed the file is complete, and the window says so.
              context.stopIfCancelled();
              output.commit();
          },
          [target] { return target->mayWaitForever(); }),
      totalRows_(plan.height()) {}

} // namespace spirell::app
