#include "app/MainWindow.hpp"

#include "ProgramInfo.hpp"
#include "app/PosterDialog.hpp"
#include "app/WindowControls.hpp"
#include "boxes/BoxEdits.hpp"
#include "drawing/DrawingFrame.hpp"
#include "drawing/ViewParams.hpp"
#include "files/OutputFile.hpp"
#include "image/ImagePlan.hpp"
#include "image/ImageSettings.hpp"
#include "image/PngFile.hpp"

#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QSettings>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace spirell::app {

namespace {

const QColor kFormBackground(64, 64, 64);
const QColor kFrameColour(160, 160, 160);
const QColor kFormulaButtonGrey(128, 128, 128);
const QColor kExitBlue(0, 0, 255);
const QColor kExitHover(0, 128, 255);
const QColor kLightGrey(192, 192, 192); // palette colour 7
const QColor kWhite(255, 255, 255);     // palette colour 15

QColor colourOf(TableColour colour) {
    return QColor(colour.red, colour.green, colour.blue);
}

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QColor textColour(const QWidget* widget) {
    return widget->palette().color(QPalette::WindowText);
}

// Makes one control of the table, with its place, font, colours and tooltip.
QWidget* makeControl(const ControlDescription& description, QWidget* parent) {
    QWidget* control = nullptr;
    QPalette palette = parent->palette();
    switch (description.kind) {
    case ControlKind::Button:
        control = new ColourButton(description.caption, colourOf(description.background), parent);
        palette = control->palette();
        break;
    case ControlKind::Box:
        control = new QLineEdit(description.caption, parent);
        palette = control->palette();
        palette.setColor(QPalette::Base, colourOf(description.background));
        palette.setColor(QPalette::Text, colourOf(description.text));
        break;
    case ControlKind::Label: {
        auto* label = new ClickableLabel(description.caption, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setAutoFillBackground(true);
        control = label;
        palette = control->palette();
        palette.setColor(QPalette::Window, colourOf(description.background));
        palette.setColor(QPalette::WindowText, colourOf(description.text));
        break;
    }
    }
    control->setPalette(palette);
    control->setObjectName(description.name);
    control->setFont(fontFor(description.font));
    control->setGeometry(description.place);
    control->setToolTip(description.tooltip);
    if (description.hidden)
        control->hide();
    return control;
}

// Counts a running drawing for as long as it runs.
struct DepthCount {
    explicit DepthCount(int& depth) : depth_(depth) { ++depth_; }
    ~DepthCount() { --depth_; }
    DepthCount(const DepthCount&) = delete;
    DepthCount& operator=(const DepthCount&) = delete;
    int& depth_;
};

} // namespace

MainWindow::MainWindow(const drawing::Computing& computing, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      chooseFile_([this](const QString& title, const QString& suggestedName) {
          return chooseFileInDialog(title, suggestedName);
      }),
      computing_(computing), endProgram_([] { QCoreApplication::exit(0); }) {
    setObjectName("qTac");
    setWindowTitle(QString());
    setWindowIcon(QIcon(kIconResource));
    // A one-pixel border around the client area takes the place of a frame.
    setFixedSize(kClientWidth + 2, kClientHeight + 2);
    client_ = new QWidget(this);
    client_->setGeometry(1, 1, kClientWidth, kClientHeight);
    canvas_ = new Canvas(client_->size(), kFormBackground, client_);
    createControls();
    createActions();
    boxes_.sizeBox()->setFocus();

    exitColourTimer_ = new QTimer(this);
    exitColourTimer_->setObjectName("Timer1");
    exitColourTimer_->setInterval(1000);
    connect(exitColourTimer_, &QTimer::timeout, this, &MainWindow::restoreExitColours);
    exitColourTimer_->start();
}

// A poster still being written is cancelled; its workers end before the window.
MainWindow::~MainWindow() = default;

template <typename Control> Control* MainWindow::control(const char* name) const {
    return client_->findChild<Control*>(name, Qt::FindDirectChildrenOnly);
}

void MainWindow::createControls() {
    std::vector<ControlDescription> controls = windowControls();
    for (const formulas::Formula& formula : formulas::formulaCatalogue())
        controls.push_back(formulaButtonControl(formula.index, formula.caption));

    for (const ControlDescription& description : controls) {
        QWidget* made = makeControl(description, client_);
        if (auto* button = qobject_cast<QPushButton*>(made); button && description.onClick)
            connect(button, &QPushButton::clicked, this, description.onClick);
        if (auto* label = qobject_cast<ClickableLabel*>(made)) {
            if (description.onClick)
                connect(label, &ClickableLabel::clicked, this, description.onClick);
            if (description.onHover)
                connect(label, &ClickableLabel::mouseMoved, this, description.onHover);
        }
    }
    for (const formulas::Formula& formula : formulas::formulaCatalogue()) {
        const int index = formula.index;
        formulaButtons_[index] = control<ColourButton>(formulaButtonControl(index, "").name);
        connect(formulaButtons_[index], &QPushButton::clicked, this,
                [this, index] { startFormula(index); });
    }

    boxes_ = ParameterBoxes(client_);
    boxes_.write(boxes::BoxTexts{});
    for (QLineEdit* box : boxes_.all())
        box->installEventFilter(this);
    exitLabel_ = control<ClickableLabel>("Label1");
    exitArrowLabel_ = control<ClickableLabel>("Label4");
    zoomLabel_ = control<ClickableLabel>("Label17");
    savedExitColour_ = textColour(exitLabel_); // until the first activation saves it

    const std::vector<const char*>& order = tabOrder();
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(control<QWidget>(order[i - 1]), control<QWidget>(order[i]));
}

bool MainWindow::event(QEvent* event) {
    // The start-up steps belong to the first activation only: repeated on a
    // switch back from another program, they would save the blue they set as
    // the exit label's own colour.
    if (event->type() == QEvent::WindowActivate && !activatedBefore_) {
        activatedBefore_ = true;
        firstActivation();
    }
    return QWidget::event(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // In a box, Ctrl+C copies the selected text; with nothing selected it is
    // the window's Copy image.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* box = qobject_cast<QLineEdit*>(watched);
        if (box && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy) &&
            !box->hasSelectedText())
            return true;
    }
    // Switching to another program or opening a menu is not leaving the box.
    if (watched == boxes_.sizeBox() && event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            checkSizeBox();
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(kFrameColour);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

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

image::ImageSettings settingsOf(const formulas::Formula& formula, const boxes::BoxTexts& boxes,
                                int scale) {
    return {formula.routine, boxes, scale};
}

} // namespace

QString MainWindow::chooseFileInDialog(const QString& title, const QString& suggestedName) {
    QSettings settings;
    const QString folder = settings.value("folders/save", QDir::homePath()).toString();
    QString path = QFileDialog::getSaveFileName(this, title, QDir(folder).filePath(suggestedName),
                                                "PNG images (*.png)");
    if (path.isEmpty())
        return {};
    if (QFileInfo(path).suffix().isEmpty())
        path += ".png";
    settings.setValue("folders/save", QFileInfo(path).absolutePath());
    return path;
}

// Saves what the window shows of the latest drawing, with the formula and the
// boxes the drawing read, so that spirell-render --from can paint it again.
void MainWindow::saveImage() {
    const QImage image = picture();
    if (image.isNull())
        return;
    const QString path =
        chooseFile_("Save image", QString("%1.png").arg(picture_.formula->caption));
    if (path.isEmpty())
        return;
    try {
        files::OutputFile output(path.toStdString());
        image::writePng(output.stream(), image.width(), image.height(), rgbRows(image).data(),
                        image::storedTexts(picture_.formula->routine,
                                           settingsOf(*picture_.formula, picture_.boxes, 1),
                                           kProgramName));
        output.commit();
    } catch (const std::exception& error) {
        QMessageBox::warning(this, "Save image", QString::fromStdString(error.what()));
    }
}

// Paints the latest drawing again at a larger scale into a file, in the
// background: the window goes on working, and the poster can be cancelled.
void MainWindow::savePoster() {
    const QImage image = picture();
    if (image.isNull() || poster_)
        return;
    const formulas::Formula& formula = *picture_.formula;
    const boxes::BoxTexts boxes = picture_.boxes;
    try {
        const image::ImagePlan plain = image::planImage(settingsOf(formula, boxes, 1), computing_);
        int largest = kLargestPosterScale;
        while (largest > 1 && !image::fitsTheLimits(plain.width(), plain.height(), largest))
            --largest;
        PosterDialog dialog(int(plain.width()), int(plain.height()), pngBytesPerPixel(image),
                            largest, this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        const int scale = dialog.scale();
        const QString path = chooseFile_(
            "Save poster", QString("%1-poster-x%2.png").arg(formula.caption).arg(scale));
        if (path.isEmpty() || poster_)
            return;
        const image::ImageSettings settings = settingsOf(formula, boxes, scale);
        poster_ = std::make_unique<PosterJob>(
            image::planImage(settings, computing_),
            image::storedTexts(formula.routine, settings, kProgramName), path);
    } catch (const std::exception& error) {
        QMessageBox::warning(this, "Save poster", QString::fromStdString(error.what()));
        return;
    }
    updatePictureActions();

    posterProgress_ = new QProgressDialog(this);
    posterProgress_->setObjectName("posterProgress");
    posterProgress_->setWindowModality(Qt::NonModal);
    posterProgress_->setWindowTitle("Save poster");
    posterProgress_->setLabelText("Writing the poster...");
    posterProgress_->setRange(0, int(poster_->totalRows()));
    posterProgress_->setMinimumDuration(0);
    posterProgress_->setAutoClose(false);
    posterProgress_->setAutoReset(false);
    posterProgress_->setValue(0);
    connect(posterProgress_, &QProgressDialog::canceled, poster_.get(), &PosterJob::cancel);
    connect(poster_.get(), &PosterJob::progressed, posterProgress_,
            [progress = posterProgress_](quint64 rows) { progress->setValue(int(rows)); });
    connect(poster_.get(), &PosterJob::finished, this, &MainWindow::posterFinished);
    posterProgress_->show();
}

void MainWindow::posterFinished(bool cancelled, const QString& error) {
    poster_.reset();
    if (posterProgress_) {
        posterProgress_->close();
        posterProgress_->deleteLater();
        posterProgress_ = nullptr;
    }
    updatePictureActions();
    if (!cancelled && !error.isEmpty() && !ending_)
        QMessageBox::warning(this, "Save poster", error);
}

// Closing through the window manager (Alt+F4, the task bar) ends the program
// as the "x" label does: every drawing stops after its current column.
void MainWindow::closeEvent(QCloseEvent* event) {
    endTheProgram();
    event->accept();
}

// A press on the background, wherever no control or picture takes it, moves
// the frameless window.
void MainWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
}

// --- The picture's actions ---------------------------------------------------

void MainWindow::createActions() {
    const auto action = [this](const char* name, const QString& text, const QKeySequence& keys) {
        auto* a = new QAction(text, this);
        a->setObjectName(name);
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
        return a;
    };
    haltAction_ = action("haltAction", "Halt", Qt::Key_Escape);
    quitAction_ = action("quitAction", "Quit", Qt::CTRL | Qt::Key_Q);
    // Ctrl+Q ends the program from the poster's progress window too.
    quitAction_->setShortcutContext(Qt::ApplicationShortcut);
    saveImageAction_ = action("saveImageAction", "Save image...", Qt::CTRL | Qt::Key_S);
    copyImageAction_ = action("copyImageAction", "Copy image", Qt::CTRL | Qt::Key_C);
    savePosterAction_ =
        action("savePosterAction", "Save poster...", Qt::CTRL | Qt::SHIFT | Qt::Key_S);
    connect(haltAction_, &QAction::triggered, this, &MainWindow::halt);
    connect(quitAction_, &QAction::triggered, this, &MainWindow::endTheProgram);
    connect(copyImageAction_, &QAction::triggered, this, &MainWindow::copyImage);
    connect(saveImageAction_, &QAction::triggered, this, &MainWindow::saveImage);
    connect(savePosterAction_, &QAction::triggered, this, &MainWindow::savePoster);
    connect(canvas_, &Canvas::menuRequested, this, &MainWindow::showPictureMenu);
    setPicture({});
}

void MainWindow::showPictureMenu(const QPoint& globalPosition) {
    QMenu menu(this);
    menu.addAction(saveImageAction_);
    menu.addAction(copyImageAction_);
    menu.addAction(savePosterAction_);
    menu.exec(globalPosition);
}

void MainWindow::setPicture(const DrawnPicture& picture) {
    picture_ = picture;
    canvas_->setPictureArea(picture.area);
    updatePictureActions();
}

// The actions need a picture; a poster is written one at a time.
void MainWindow::updatePictureActions() {
    const bool drawn = picture_.formula && !picture_.area.isEmpty();
    saveImageAction_->setEnabled(drawn);
    copyImageAction_->setEnabled(drawn);
    savePosterAction_->setEnabled(drawn && !poster_);
}

QImage MainWindow::picture() const {
    if (!picture_.formula || picture_.area.isEmpty())
        return {};
    return canvas_->image().copy(picture_.area);
}

void MainWindow::copyImage() {
    const QImage image = picture();
    if (!image.isNull())
        QGuiApplication::clipboard()->setImage(image);
}

// --- Drawing -------------------------------------------------------------

void MainWindow::startFormula(int index) {
    if (ending_ || drawingDepth_ >= kMaxNestedDrawings)
        return;
    haltFlag_.clear();
    for (ColourButton* button : formulaButtons_)
        button->setBackground(kFormulaButtonGrey);
    formulaButtons_[index]->setBackground(textColour(zoomLabel_));
    for (ColourButton* button : formulaButtons_)
        button->repaint();

    const formulas::Formula& formula = formulas::formulaCatalogue()[index];
    const boxes::BoxTexts texts = boxes_.texts();
    drawing::ViewParams view;
    try {
        view = drawing::readView(formula, texts);
    } catch (const boxes::RuntimeError& error) {
        showRuntimeError(error);
        return;
    }
    // The picture a save takes is the latest drawing's, as far as it shows.
    const drawing::DrawingSurface::Size shown = canvas_->shownSize();
    const QRect area(kPictureLeft, kPictureTop, int(drawing::columnRange(view).count(shown.width)),
                     int(drawing::rowRange(view).count(shown.height)));
    if (!area.isEmpty())
        setPicture({&formula, texts, area});
    {
        const DepthCount nested(drawingDepth_);
        drawing::drawFormula(formula, view, *canvas_, haltFlag_, computing_);
    }
    canvas_->flush();
}

void MainWindow::halt() {
    haltFlag_.request();
}

// --- Parameter panel -----------------------------------------------------

void MainWindow::editBoxes(const std::function<void(boxes::BoxTexts&)>& edit) {
    boxes::BoxTexts texts = boxes_.texts();
    try {
        edit(texts);
    } catch (const boxes::RuntimeError& error) {
        showRuntimeError(error);
        return;
    }
    boxes_.write(texts);
}

void MainWindow::applySmallPreset() {
    editBoxes([](boxes::BoxTexts& b) { boxes::applyPreset(boxes::Preset::Small, b); });
}
void MainWindow::applyMediumPreset() {
    editBoxes([](boxes::BoxTexts& b) { boxes::applyPreset(boxes::Preset::Medium, b); });
}
void MainWindow::applyLargePreset() {
    editBoxes([](boxes::BoxTexts& b) { boxes::applyPreset(boxes::Preset::Large, b); });
}

void MainWindow::reset() {
    haltFlag_.request();
    editBoxes(boxes::resetBoxes);
    canvas_->clear();
    setPicture({});
}

void MainWindow::checkSizeBox() {
    editBoxes([](boxes::BoxTexts& b) { boxes::checkSize(b); });
}

void MainWindow::shiftRight() {
    editBoxes([](boxes::BoxTexts& b) { boxes::shiftView(boxes::ShiftButton::Right, b); });
}
void MainWindow::shiftLeft() {
    editBoxes([](boxes::BoxTexts& b) { boxes::shiftView(boxes::ShiftButton::Left, b); });
}
void MainWindow::shiftDown() {
    editBoxes([](boxes::BoxTexts& b) { boxes::shiftView(boxes::ShiftButton::Down, b); });
}
void MainWindow::shiftUp() {
    editBoxes([](boxes::BoxTexts& b) { boxes::shiftView(boxes::ShiftButton::Up, b); });
}

void MainWindow::doubleYPosition() {
    editBoxes([](boxes::BoxTexts& b) { boxes::scalePosition(boxes::ScaleButton::DoubleY, b); });
}
void MainWindow::halveYPosition() {
    editBoxes([](boxes::BoxTexts& b) { boxes::scalePosition(boxes::ScaleButton::HalveY, b); });
}
void MainWindow::doubleXPosition() {
    editBoxes([](boxes::BoxTexts& b) { boxes::scalePosition(boxes::ScaleButton::DoubleX, b); });
}
void MainWindow::halveXPosition() {
    editBoxes([](boxes::BoxTexts& b) { boxes::scalePosition(boxes::ScaleButton::HalveX, b); });
}

void MainWindow::doubleZoom() {
    editBoxes([](boxes::BoxTexts& b) { boxes::zoomView(boxes::ZoomButton::Double, b); });
}
void MainWindow::halveZoom() {
    editBoxes([](boxes::BoxTexts& b) { boxes::zoomView(boxes::ZoomButton::Halve, b); });
}
void MainWindow::halveZoomAndMoveToHalfSize() {
    editBoxes(
        [](boxes::BoxTexts& b) { boxes::zoomView(boxes::ZoomButton::HalveAndMoveToHalfSize, b); });
}
void MainWindow::doubleZoomAndMoveToTwiceSize() {
    editBoxes([](boxes::BoxTexts& b) {
        boxes::zoomView(boxes::ZoomButton::DoubleAndMoveToTwiceSize, b);
    });
}

// --- Window labels, timer and web link -------------------------------------

void MainWindow::firstActivation() {
    savedExitColour_ = textColour(exitLabel_);
    setTextColour(exitLabel_, kExitBlue);
}

void MainWindow::minimise() {
    setWindowState(windowState() | Qt::WindowMinimized);
}

void MainWindow::lightExitLabel() {
    setTextColour(exitLabel_, kExitHover);
}
void MainWindow::lightArrowLabel() {
    setTextColour(exitArrowLabel_, kWhite);
}

void MainWindow::restoreExitColours() {
    setTextColour(exitArrowLabel_, kLightGrey);
    setTextColour(exitLabel_, savedExitColour_);
}

void MainWindow::openWebLink() {
    webLink_.open(this);
}

// Every drawing in progress, however deeply nested, sees the halt right after
// its current yield and returns without another column; then the event loop ends.
void MainWindow::endTheProgram() {
    if (ending_)
        return;
    ending_ = true;
    haltFlag_.request();
    if (poster_)
        poster_->cancel();
    exitColourTimer_->stop();
    hide();
    endProgram_();
}

void MainWindow::showRuntimeError(const boxes::RuntimeError& error) {
    QMessageBox::critical(
        this, kProgramName,
        QString("Run-time error '%1':\n\n%2").arg(error.number()).arg(error.what()));
}

} // namespace spirell::app
