#include "app/AnimationExport.hpp"

#include "animation/FlightPlan.hpp"
#include "animation/FlightRender.hpp"
#include "animation/FlightTarget.hpp"
#include "app/AnimationDialog.hpp"
#include "app/Messages.hpp"
#include "app/ProgressWindow.hpp"
#include "app/RememberedFolders.hpp"
#include "app/ShortcutActions.hpp"
#include "app/ViewHistory.hpp"
#include "base/Errors.hpp"
#include "base/UserText.hpp"

#include <QAction>
#include <QDir>
#include <QMessageBox>
#include <QProgressDialog>
#include <QWidget>

#include <atomic>
#include <memory>

namespace spirell::app {

namespace {

constexpr const char* kTitle = "Save animation";

QString textOf(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

AnimationExport::AnimationExport(QWidget* window, const ViewHistory& history,
                                 const drawing::Computing& computing)
    : QObject(window), window_(window), history_(history), computing_(computing),
      choose_([this](const QString& title, const QString& suggested, video::OutputKind kind) {
          return chooseInDialog(title, suggested, kind);
      }) {
    action_ = addShortcutAction(window_, this, "saveAnimationAction", "Save animation...",
                                Qt::CTRL | Qt::SHIFT | Qt::Key_A);
    connect(action_, &QAction::triggered, this,
            [this] { guardSlot(window_, kTitle, [this] { saveAnimation(); }); });
    updateAction();
}

// An animation still being written is cancelled; its thread ends first.
AnimationExport::~AnimationExport() {
    ending_ = true;
    task_.reset();
}

void AnimationExport::setPicture(const DrawnPicture& picture) {
    picture_ = picture;
    updateAction();
}

void AnimationExport::updateAction() {
    action_->setEnabled(!picture_.isEmpty() && !task_);
}

void AnimationExport::endQuietly() {
    ending_ = true;
    if (task_)
        task_->cancel();
}

void AnimationExport::saveAnimation() {
    if (picture_.isEmpty() || task_)
        return;
    const formulas::Formula& formula = *picture_.formula;
    std::vector<animation::Keyframe> keys;
    int leftOut = 0;
    for (const SettledView& view : history_.upToCurrent()) {
        if (view.formula != formula.index) {
            ++leftOut;
            continue;
        }
        keys.push_back(
            {"view " + std::to_string(keys.size() + 1), image::settingsOf(formula, view.boxes)});
    }
    if (keys.size() < 2) {
        QMessageBox::information(window_, kTitle,
                                 QString("An animation flies through the views you kept of "
                                         "\"%1\": explore it, or draw it in another view, first.")
                                     .arg(formula.caption));
        return;
    }
    // The frame the flight is written at, from the same plan of it.
    const auto ownFrame = [&](int views, video::OutputKind kind) {
        try {
            const animation::Keyframe& first = keys[keys.size() - std::size_t(views)];
            const image::FrameSize frame = animation::writtenFrameSize(
                animation::ownFrame(first, first.settings.scale, computing_), kind);
            return QSize(int(frame.width), int(frame.height));
        } catch (const base::InputError&) {
            return QSize(); // a view that makes no picture; the flight says why
        }
    };
    AnimationDialog dialog(int(keys.size()), leftOut, ownFrame, window_);
    if (dialog.exec() != QDialog::Accepted)
        return;
    keys.erase(keys.begin(), keys.end() - dialog.views());

    animation::FlightChoices choices;
    choices.secondsPerMove = dialog.secondsPerMove();
    choices.framesPerSecond = dialog.framesPerSecond();
    if (!dialog.frame().isEmpty())
        choices.frame = image::FrameSize{std::uint32_t(dialog.frame().width()),
                                         std::uint32_t(dialog.frame().height())};
    const video::OutputKind kind = dialog.format();
    const QString suggested = video::isVideo(kind)
                                  ? formula.caption + textOf(video::outputKindRow(kind).extension)
                                  : QString("%1-frames").arg(formula.caption);
    const QString path = choose_(kTitle, suggested, kind);
    if (path.isEmpty() || task_)
        return;

    animation::FlightPlan plan;
    animation::FlightTarget target;
    try {
        plan = animation::planFlight(keys, choices, computing_);
        // The kind chosen decides, whatever the name's extension.
        target = animation::flightTargetAs(kind, video::isVideo(kind)
                                                     ? path.toStdString()
                                                     : QDir(path).absolutePath().toStdString());
    } catch (const base::InputError& error) {
        QMessageBox::warning(window_, kTitle, QString::fromStdString(error.what()));
        return;
    }

    const drawing::Computing computing = computing_;
    // A frame written to a FIFO waits for its reader, perhaps for ever; the
    // task is let go then, as a poster's is.
    const auto writingDirect = std::make_shared<std::atomic<bool>>(false);
    framesBeyond_ = std::make_shared<std::atomic<std::uint64_t>>(0);
    firstBeyond_ = target.frames ? target.frames->nameOf(plan.frames) : std::string();
    task_ = std::make_unique<BackgroundTask>(
        "animation",
        [plan, target, computing, writingDirect,
         beyond = framesBeyond_](BackgroundTask::Context& context) {
            animation::FlightOptions options;
            options.cancel = &context.cancelFlag();
            options.progress = [&](const animation::FlightProgress& progress) {
                context.reportProgress(progress.framesDone);
                *beyond = progress.framesBeyond;
            };
            options.software = kProgramName;
            options.writingDirect = writingDirect.get();
            animation::renderFlight(plan, target, computing, options);
        },
        [writingDirect] { return writingDirect->load(); });
    connect(task_.get(), &BackgroundTask::finished, this,
            [this](bool cancelled, const QString& error) {
                guardSlot(window_, kTitle, [&] { finished(cancelled, error); });
            });

    progress_ = openProgress(
        window_, *task_,
        {"animationProgress", kTitle, QString("Painting %1 frames...").arg(plan.frames)},
        plan.frames);
    updateAction();
    // Started only once everything listens.
    task_->start();
}

void AnimationExport::finished(bool cancelled, const QString& error) {
    deleteFinishedTask(task_, this);
    closeProgress(progress_);
    updateAction();
    if (ending_ || cancelled)
        return;
    if (!error.isEmpty())
        QMessageBox::warning(window_, kTitle, error);
    else if (const std::uint64_t beyond = *framesBeyond_; beyond > 0)
        QMessageBox::information(
            window_, kTitle,
            QString("The frames from %1 on (%2) are not this flight's: an earlier, longer "
                    "flight left them.")
                .arg(QString::fromStdString(base::shown(firstBeyond_)))
                .arg(beyond));
}

QString AnimationExport::chooseInDialog(const QString& title, const QString& suggested,
                                        video::OutputKind kind) {
    if (!video::isVideo(kind))
        return chooseInRememberedFolder(window_, FileChoice::Folder, "folders/animation", title);
    const video::OutputKindRow& row = video::outputKindRow(kind);
    return chooseInRememberedFolder(
        window_, FileChoice::SaveFile, "folders/animation", title,
        QString("%1 (*%2)").arg(textOf(row.fileType), textOf(row.extension)), suggested);
}

} // namespace spirell::app
