#include "app/ViewActions.hpp"

#include "app/BackgroundTask.hpp"
#include "app/Explorer.hpp"
#include "app/Messages.hpp"
#include "app/RememberedFolders.hpp"
#include "app/ShortcutActions.hpp"
#include "app/ViewHistory.hpp"
#include "base/Errors.hpp"
#include "base/UserText.hpp"
#include "boxes/BoxTable.hpp"
#include "boxes/RuntimeError.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/FormulaText.hpp"
#include "image/ImagePlan.hpp"
#include "image/ImageSettings.hpp"
#include "image/ViewCommand.hpp"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QStringList>
#include <QWidget>

#include <memory>

namespace spirell::app {

namespace {

constexpr const char* kOpenTitle = "Open picture";

} // namespace

ViewActions::ViewActions(QWidget* window, Explorer& explorer, ViewHistory& history,
                         ViewDrawer drawView)
    : QObject(window), window_(window), explorer_(explorer), history_(history),
      drawView_(std::move(drawView)), chooseFile_([this] { return chooseFileInDialog(); }) {
    const auto action = [this](const char* name, const QString& text, const QKeySequence& keys,
                               void (ViewActions::*slot)()) {
        auto* made = addShortcutAction(window_, this, name, text, keys);
        connect(made, &QAction::triggered, this,
                [this, slot] { guardSlot(window_, kProgramName, [&] { (this->*slot)(); }); });
        return made;
    };
    backAction_ = action("backAction", "Back", Qt::ALT | Qt::Key_Left, &ViewActions::back);
    forwardAction_ =
        action("forwardAction", "Forward", Qt::ALT | Qt::Key_Right, &ViewActions::forward);
    copyViewAction_ = action("copyViewAction", "Copy view", Qt::CTRL | Qt::SHIFT | Qt::Key_C,
                             &ViewActions::copyView);
    openAction_ =
        action("openAction", "Open picture...", Qt::CTRL | Qt::Key_O, &ViewActions::openChosen);
    connect(&history_, &ViewHistory::changed, this, &ViewActions::updateActions);
    connect(&explorer_, &Explorer::stepAsked, this, &ViewActions::step);
    updateActions();
}

ViewActions::~ViewActions() = default;

QList<QAction*> ViewActions::actions() const {
    return {backAction_, forwardAction_, copyViewAction_, openAction_};
}

void ViewActions::setPicture(const DrawnPicture& picture) {
    picture_ = picture;
    updateActions();
}

void ViewActions::updateActions() {
    // A step needs a picture to explore, and a view to step to.
    const bool drawn = !picture_.isEmpty();
    backAction_->setEnabled(drawn && history_.canGoBack());
    forwardAction_->setEnabled(drawn && history_.canGoForward());
    copyViewAction_->setEnabled(drawn);
}

void ViewActions::back() {
    step(true);
}

void ViewActions::forward() {
    step(false);
}

void ViewActions::step(bool back) {
    if (!explorer_.acceptsInput())
        return;
    explorer_.settlePending();
    if (const auto view = back ? history_.back() : history_.forward())
        explorer_.showView(view->formula, view->boxes);
}

void ViewActions::copyView() {
    if (picture_.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(QString::fromStdString(image::viewCommandLine(
        picture_.formula->caption, image::settingsOf(*picture_.formula, picture_.boxes))));
    // The window draws views larger than any image; their line is copied all
    // the same, since with a frame it paints a part of them.
    try {
        image::planImage(image::settingsOf(*picture_.formula, picture_.boxes),
                         drawing::Computing{});
    } catch (const base::InputError& error) {
        QMessageBox::information(
            window_, "Copy view",
            QString("The view is copied, but spirell-render refuses to paint all of it: %1. "
                    "With --frame WIDTHxHEIGHT added, it paints the middle of it.")
                .arg(QString::fromStdString(error.what())));
    } catch (const base::RenderFailure&) {
        // Memory is the painting machine's own concern.
    }
}

void ViewActions::openChosen() {
    const QString path = chooseFile_();
    if (!path.isEmpty())
        open(QFile::encodeName(path).toStdString());
}

void ViewActions::open(const std::string& name) {
    // Read on a thread of its own: a file stuffed with chunks, or on a disk
    // that does not answer, must not stop the window. Reading changes
    // nothing, so a read that is replaced or outlives the window is let go.
    auto settings = std::make_shared<image::ImageSettings>();
    reading_ = std::make_unique<BackgroundTask>(
        "picture reading",
        [name, settings](BackgroundTask::Context&) { *settings = image::readStoredSettings(name); },
        [] { return true; });
    connect(reading_.get(), &BackgroundTask::finished, this,
            [this, name, settings](bool cancelled, const QString& error) {
                deleteFinishedTask(reading_, this);
                if (cancelled)
                    return;
                if (!error.isEmpty()) {
                    QMessageBox::warning(window_, kOpenTitle, error);
                    return;
                }
                guardSlot(window_, kOpenTitle, [&] { restore(name, *settings); });
            });
    reading_->start();
}

void ViewActions::restore(const std::string& name, const image::ImageSettings& settings) {
    const formulas::Formula* formula = nullptr;
    try {
        formula = image::formulaOf(settings);
        if (!formula)
            throw base::InputError(base::shown(name) + " names an unknown formula " +
                                   base::quoted(settings.formula));
        drawing::readView(*formula, settings.boxes); // a view that cannot be drawn is refused
    } catch (const formulas::FormulaError& error) {
        QMessageBox::warning(
            window_, kOpenTitle,
            QString::fromStdString(base::shown(name) +
                                   " holds a formula text that cannot be drawn: " + error.what()));
        return;
    } catch (const base::InputError& error) {
        QMessageBox::warning(window_, kOpenTitle, QString::fromStdString(error.what()));
        return;
    } catch (const boxes::RuntimeError& error) {
        QMessageBox::warning(
            window_, kOpenTitle,
            QString::fromStdString(base::shown(name) +
                                   " keeps a view that cannot be drawn: " + error.what()));
        return;
    }
    // What a box cannot show is replaced where the user sees it, and said.
    boxes::BoxTexts shown = settings.boxes;
    QStringList replaced;
    for (const boxes::BoxDescription& box : boxes::kBoxTable) {
        std::string& text = shown.*box.member;
        if (const std::string showable = base::showable(text); showable != text) {
            text = showable;
            replaced << box.meaning;
        }
    }
    drawView_(formula->index, shown);
    if (!replaced.isEmpty())
        QMessageBox::information(
            window_, kOpenTitle,
            QString::fromStdString(base::shown(name)) +
                QString(" keeps texts that the boxes cannot show as they are, in the %1: they "
                        "are shown with \"\uFFFD\" for bytes that are not UTF-8 and with "
                        "symbols such as \"\u2403\" for control characters. The numbers "
                        "they give are the same.")
                    .arg(replaced.join(", ")));
}

QString ViewActions::chooseFileInDialog() {
    return chooseInRememberedFolder(window_, FileChoice::OpenFile, "folders/open", kOpenTitle,
                                    "PNG images (*.png)");
}

} // namespace spirell::app
