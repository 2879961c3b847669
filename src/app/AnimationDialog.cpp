#include "app/AnimationDialog.hpp"

#include "animation/Flight.hpp"
#include "animation/FlightPlan.hpp"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace spirell::app {

namespace {

const QSize kFrameSizes[] = {QSize(), QSize(1280, 720), QSize(1920, 1080)};

} // namespace

AnimationDialog::AnimationDialog(int views, int leftOut, OwnFrame ownFrame, QWidget* parent)
    : QDialog(parent), ownFrame_(std::move(ownFrame)) {
    setWindowTitle("Save animation");
    views_ = new QSpinBox(this);
    views_->setObjectName("animationViews");
    views_->setRange(2, std::max(2, views));
    views_->setValue(views_->maximum());
    views_->setToolTip("The flight goes through this many of the latest views, up to the "
                       "current one");
    const animation::FlightTiming defaults;
    seconds_ = new QDoubleSpinBox(this);
    seconds_->setObjectName("animationSeconds");
    seconds_->setRange(0.1, 600);
    seconds_->setDecimals(1);
    seconds_->setValue(defaults.secondsPerMove);
    seconds_->setSuffix(" s");
    framesPerSecond_ = new QSpinBox(this);
    framesPerSecond_->setObjectName("animationFramesPerSecond");
    framesPerSecond_->setRange(animation::kMinFramesPerSecond, animation::kMaxFramesPerSecond);
    framesPerSecond_->setValue(defaults.framesPerSecond);
    frame_ = new QComboBox(this);
    frame_->setObjectName("animationFrame");
    frame_->addItem(QString()); // the first view's own, as showOwnFrame says
    frame_->addItem("1280 × 720");
    frame_->addItem("1920 × 1080");
    format_ = new QComboBox(this);
    format_->setObjectName("animationFormat");
    for (const video::OutputKindRow& row : video::kOutputKinds)
        format_->addItem(QString::fromUtf8(row.choice.data(), qsizetype(row.choice.size())),
                         int(row.kind));
    flight_ = new QLabel(this);
    flight_->setObjectName("animationFlight");

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText("Choose where...");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(views_, &QSpinBox::valueChanged, this, &AnimationDialog::showFlight);
    connect(seconds_, &QDoubleSpinBox::valueChanged, this, &AnimationDialog::showFlight);
    connect(framesPerSecond_, &QSpinBox::valueChanged, this, &AnimationDialog::showFlight);
    // The first view, and so its frame, changes with the number of views;
    // videos that keep colour for 2 x 2 pixels grow odd sides.
    connect(views_, &QSpinBox::valueChanged, this, &AnimationDialog::showOwnFrame);
    connect(format_, &QComboBox::currentIndexChanged, this, &AnimationDialog::showOwnFrame);

    auto* form = new QFormLayout(this);
    form->addRow("Views:", views_);
    form->addRow("A move:", seconds_);
    form->addRow("Frames a second:", framesPerSecond_);
    form->addRow("Frame:", frame_);
    form->addRow("Format:", format_);
    form->addRow("Flight:", flight_);
    // Only the views of the picture's formula take part.
    if (leftOut > 0) {
        auto* note = new QLabel(QString("%1 of the views kept show another formula and are "
                                        "left out.")
                                    .arg(leftOut),
                                this);
        note->setObjectName("animationLeftOut");
        note->setWordWrap(true);
        form->addRow(note);
    }
    form->addRow(buttons);
    showFlight();
    showOwnFrame();
}

int AnimationDialog::views() const {
    return views_->value();
}

double AnimationDialog::secondsPerMove() const {
    return seconds_->value();
}

int AnimationDialog::framesPerSecond() const {
    return framesPerSecond_->value();
}

QSize AnimationDialog::frame() const {
    return kFrameSizes[frame_->currentIndex()];
}

video::OutputKind AnimationDialog::format() const {
    return video::OutputKind(format_->currentData().toInt());
}

QString AnimationDialog::flightText() const {
    const animation::FlightTiming timing{secondsPerMove(), framesPerSecond()};
    const std::uint64_t frames = animation::frameCount(std::size_t(views()), timing);
    return QString("%1 frames, %2 s")
        .arg(frames)
        .arg(double(frames) / framesPerSecond(), 0, 'f', 1);
}

void AnimationDialog::setViews(int views) {
    views_->setValue(views);
}

void AnimationDialog::setSecondsPerMove(double seconds) {
    seconds_->setValue(seconds);
}

void AnimationDialog::setFramesPerSecond(int frames) {
    framesPerSecond_->setValue(frames);
}

void AnimationDialog::setFrame(int choice) {
    frame_->setCurrentIndex(choice);
}

void AnimationDialog::setFormat(video::OutputKind format) {
    format_->setCurrentIndex(format_->findData(int(format)));
}

void AnimationDialog::showFlight() {
    flight_->setText(flightText());
}

void AnimationDialog::showOwnFrame() {
    const QSize size = ownFrame_(views(), format());
    frame_->setItemText(
        0, size.isEmpty()
               ? QString("The first view's own")
               : QString("The first view's own, %1 × %2").arg(size.width()).arg(size.height()));
}

} // namespace spirell::app
