#include "app/FormulaEditor.hpp"

#include "app/RememberedFolders.hpp"
#include "base/Errors.hpp"
#include "files/OutputFile.hpp"
#include "formulas/FormulaText.hpp"

#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QShortcut>
#include <QTextBlock>
#include <QVBoxLayout>

#include <cstdio>

namespace spirell::app {

namespace {

constexpr const char* kTitle = "Your own formula";

// The margin beside the text that shows its line numbers.
class LineMargin : public QWidget {
public:
    explicit LineMargin(FormulaTextEdit* edit) : QWidget(edit), edit_(edit) {}
    QSize sizeHint() const override { return {edit_->marginWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent* event) override { edit_->paintMargin(event); }

private:
    FormulaTextEdit* edit_;
};

} // namespace

FormulaTextEdit::FormulaTextEdit(QWidget* parent)
    : QPlainTextEdit(parent), margin_(new LineMargin(this)) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::blockCountChanged, this,
            [this] { setViewportMargins(marginWidth(), 0, 0, 0); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
        if (dy != 0)
            margin_->scroll(0, dy);
        else
            margin_->update(0, rect.y(), margin_->width(), rect.height());
    });
    setViewportMargins(marginWidth(), 0, 0, 0);
}

int FormulaTextEdit::marginWidth() const {
    const int digits = QString::number(std::max(1, blockCount())).size();
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(2, digits);
}

void FormulaTextEdit::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    const QRect inside = contentsRect();
    margin_->setGeometry(QRect(inside.left(), inside.top(), marginWidth(), inside.height()));
}

void FormulaTextEdit::paintMargin(QPaintEvent* event) {
    QPainter painter(margin_);
    painter.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    while (block.isValid() && top <= event->rect().bottom()) {
        const int height = qRound(blockBoundingRect(block).height());
        if (block.isVisible() && top + height >= event->rect().top())
            painter.drawText(0, top, margin_->width() - 4, fontMetrics().height(), Qt::AlignRight,
                             QString::number(block.blockNumber() + 1));
        block = block.next();
        top += height;
    }
}

void FormulaTextEdit::markFault(int line, int column) {
    QList<QTextEdit::ExtraSelection> marks;
    const QTextBlock block = document()->findBlockByNumber(line - 1);
    if (line > 0 && block.isValid()) {
        QTextEdit::ExtraSelection wholeLine;
        wholeLine.format.setBackground(QColor(255, 230, 230));
        wholeLine.format.setProperty(QTextFormat::FullWidthSelection, true);
        wholeLine.cursor = QTextCursor(block);
        marks << wholeLine;
        // Columns count characters; the block's positions count UTF-16 units.
        QTextCursor at(block);
        at.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, column - 1);
        if (!at.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor) ||
            at.block() != block)
            at.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
        QTextEdit::ExtraSelection place;
        place.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        place.format.setUnderlineColor(Qt::red);
        place.format.setBackground(QColor(255, 180, 180));
        place.cursor = at;
        marks << place;
    }
    setExtraSelections(marks);
}

FormulaEditor::FormulaEditor(RandomText randomText, QWidget* window)
    : QDialog(window), randomText_(std::move(randomText)),
      chooseFile_([this](bool save) { return chooseInDialog(save); }),
      edit_(new FormulaTextEdit(this)), fault_(new QLabel(this)), seedLabel_(new QLabel(this)) {
    setObjectName("formulaEditor");
    setWindowTitle(kTitle);
    setModal(false);
    edit_->setObjectName("formulaText");
    fault_->setObjectName("formulaFault");
    fault_->setWordWrap(true);
    fault_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    seedLabel_->setObjectName("formulaSeed");
    seedLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    const auto button = [this](const char* name, const QString& caption, const QKeySequence& keys,
                               void (FormulaEditor::*slot)()) {
        auto* made = new QPushButton(caption, this);
        made->setObjectName(name);
        made->setAutoDefault(false);
        if (!keys.isEmpty()) {
            made->setToolTip(keys.toString(QKeySequence::NativeText));
            auto* shortcut = new QShortcut(keys, this);
            connect(shortcut, &QShortcut::activated, this, slot);
        }
        connect(made, &QPushButton::clicked, this, slot);
        return made;
    };
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(button("formulaDraw", "Draw", QKeySequence(Qt::CTRL | Qt::Key_Return),
                              &FormulaEditor::draw));
    buttons->addWidget(button("formulaRandom", "Random", QKeySequence(Qt::CTRL | Qt::Key_R),
                              &FormulaEditor::drawRandomFresh));
    buttons->addWidget(button("formulaOpen", "Open...", {}, &FormulaEditor::open));
    buttons->addWidget(button("formulaSave", "Save...", {}, &FormulaEditor::save));
    buttons->addStretch();
    buttons->addWidget(seedLabel_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(edit_, 1);
    layout->addWidget(fault_);
    layout->addLayout(buttons);
    resize(560, 520);
    fault_->hide();

    // A start that draws as it stands: the first formula's opening lines.
    setText("# A formula of your own: name values, then give red, green and blue.\n"
            "AngleX = zoom * ((X / 200) * (44 / 7))\n"
            "AngleY = zoom * ((Y / 200) * (44 / 7))\n"
            "red = abs(tan(sin(AngleX * AngleY))) * 0.05\n"
            "green = abs(cos(AngleX + AngleY)) * 0.04\n"
            "blue = abs(sin(AngleX - AngleY)) * 0.06\n");
}

QString FormulaEditor::text() const {
    return edit_->toPlainText();
}

void FormulaEditor::setText(const QString& text, std::optional<std::uint64_t> seed) {
    edit_->setPlainText(text);
    seed_ = seed;
    seedLabel_->setText(seed ? QString("seed %1").arg(*seed) : QString());
    showFault(0, 0, {});
}

void FormulaEditor::showFault(int line, int column, const QString& message) {
    edit_->markFault(line, column);
    fault_->setText(line > 0 ? QString("line %1, column %2: %3").arg(line).arg(column).arg(message)
                             : QString());
    fault_->setVisible(line > 0);
    if (line > 0) {
        // The cursor goes to the fault, so that typing mends it.
        QTextCursor cursor(edit_->document()->findBlockByNumber(line - 1));
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, column - 1);
        edit_->setTextCursor(cursor);
    }
}

QString FormulaEditor::shownFault() const {
    return fault_->isVisible() ? fault_->text() : QString();
}

void FormulaEditor::draw() {
    emit drawAsked(text());
}

void FormulaEditor::drawRandomFresh() {
    drawRandom();
}

void FormulaEditor::drawRandom(std::optional<std::uint64_t> seed) {
    const std::uint64_t chosen = seed ? *seed : QRandomGenerator::global()->generate64();
    setText(QString::fromStdString(randomText_(chosen)), chosen);
    draw();
}

void FormulaEditor::open() {
    const QString path = chooseFile_(false);
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        QMessageBox::warning(this, kTitle,
                             QString("Cannot read %1: %2").arg(path, file.errorString()));
        return;
    }
    const QByteArray bytes = file.read(qint64(formulas::kMaxFormulaBytes) + 1);
    if (bytes.size() > qsizetype(formulas::kMaxFormulaBytes)) {
        QMessageBox::warning(this, kTitle,
                             QString("%1 is longer than a formula text may be (%2 bytes).")
                                 .arg(path)
                                 .arg(formulas::kMaxFormulaBytes));
        return;
    }
    setText(QString::fromUtf8(bytes));
}

void FormulaEditor::save() {
    const QString path = chooseFile_(true);
    if (path.isEmpty())
        return;
    try {
        files::OutputFile output(QFile::encodeName(path).toStdString());
        const QByteArray bytes = text().toUtf8();
        if (std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), output.stream()) !=
            std::size_t(bytes.size()))
            throw base::RenderFailure("cannot write " + path.toStdString());
        output.commit();
    } catch (const std::exception& failure) {
        QMessageBox::warning(this, kTitle, QString::fromStdString(failure.what()));
    }
}

QString FormulaEditor::chooseInDialog(bool save) {
    return chooseInRememberedFolder(this, save ? FileChoice::SaveFile : FileChoice::OpenFile,
                                    "folders/formulas", save ? "Save formula" : "Open formula",
                                    "Formula texts (*.txt)", "formula.txt");
}

} // namespace spirell::app
