#include "app/PosterDialog.hpp"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>

namespace spirell::app {

QString fileSizeText(double bytes) {
    const char* const units[] = {"bytes", "kB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1000 && unit < 4) {
        bytes /= 1000;
        ++unit;
    }
    return unit == 0 ? QString("%1 bytes").arg(qRound(bytes))
                     : QString("%1 %2").arg(bytes, 0, 'f', bytes < 10 ? 1 : 0).arg(units[unit]);
}

PosterDialog::PosterDialog(int width, int height, double bytesPerPixel, int largestScale,
                           QWidget* parent)
    : QDialog(parent), width_(width), height_(height), bytesPerPixel_(bytesPerPixel) {
    setWindowTitle("Save poster");
    scale_ = new QSpinBox(this);
    scale_->setObjectName("posterScale");
    scale_->setRange(1, std::clamp(largestScale, 1, kLargestPosterScale));
    scale_->setValue(std::min(4, scale_->maximum()));
    scale_->setSuffix(" ×");
    scale_->setToolTip("Each pixel of the picture becomes this many pixels across and down");
    size_ = new QLabel(this);
    size_->setObjectName("posterSize");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText("Choose file...");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(scale_, &QSpinBox::valueChanged, this, &PosterDialog::showSize);

    auto* form = new QFormLayout(this);
    form->addRow("Scale:", scale_);
    form->addRow("Poster:", size_);
    form->addRow(buttons);
    showSize();
}

int PosterDialog::scale() const {
    return scale_->value();
}

void PosterDialog::setScale(int scale) {
    scale_->setValue(scale);
}

QString PosterDialog::sizeText() const {
    const qint64 wide = qint64(width_) * scale();
    const qint64 high = qint64(height_) * scale();
    return QString("%1 × %2 pixels, about %3")
        .arg(wide)
        .arg(high)
        .arg(fileSizeText(bytesPerPixel_ * double(wide) * double(high)));
}

void PosterDialog::showSize() {
    size_->setText(sizeText());
}

} // namespace spirell::app
