#include "app/ViewActions.hpp"

#include "app/Explorer.hpp"
#include "app/Messages.hpp"
#include "app/RememberedFolders.hpp"
#include "app/ShortcutActions.hpp"
#include "app/ViewCommand.hpp"
#include "app/ViewHistory.hpp"
#include "base/Errors.hpp"
#include "base/UserText.hpp"
#include "boxes/RuntimeError.hpp"
#include "drawing/ViewParams.hpp"
#include "image/ImageSettings.hpp"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QWidget>

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
    QGuiApplication::clipboard()->setText(
        QString::fromStdString(viewCommandLine(picture_.formula->caption, picture_.boxes)));
}

void ViewActions::openChosen() {
    const QString path = chooseFile_();
    if (!path.isEmpty())
        open(QFile::encodeName(path).toStdString());
}

void ViewActions::open(const std::string& name) {
    const formulas::Formula* formula = nullptr;
    image::ImageSettings settings;
    try {
        settings = image::readStoredSettings(name);
        formula = formulas::findFormula(settings.formula);
        if (!formula)
            throw base::InputError(base::shown(name) + " names an unknown formula " +
                                   base::quoted(settings.formula));
        drawing::readView(*formula, settings.boxes); // a view that cannot be drawn is refused
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
    drawView_(formula->index, settings.boxes);
}

QString ViewActions::chooseFileInDialog() {
    return chooseInRememberedFolder(window_, FileChoice::OpenFile, "folders/open", kOpenTitle,
                                    "PNG images (*.png)");
}

} // namespace spirell::app
