#pragma once

#include <QDialog>
#include <QPlainTextEdit>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;

namespace spirell::app {

// A text box for formula texts with the line numbers in a margin.
class FormulaTextEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit FormulaTextEdit(QWidget* parent = nullptr);
    int marginWidth() const;
    void paintMargin(QPaintEvent* event);

    // Marks the character at a line and column (from 1) as the place of a
    // fault; none when line is 0.
    void markFault(int line, int column);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* margin_;
};

// The window's editor of formulas of your own: not modal, so that the
// picture can be explored while the text is edited. Draw (Ctrl+Return) asks
// the window to draw the text; Random (Ctrl+R) writes a new random formula
// and draws it; Open and Save read and write formula text files.
class FormulaEditor : public QDialog {
    Q_OBJECT
public:
    // Makes the text of a random formula from its seed.
    using RandomText = std::function<std::string(std::uint64_t seed)>;
    // Asks which file to open (save) a formula text from (to); empty for none.
    using FileChooser = std::function<QString(bool save)>;

    FormulaEditor(RandomText randomText, QWidget* window);

    QString text() const;
    // Replaces the text; a random formula's seed is shown.
    void setText(const QString& text, std::optional<std::uint64_t> seed = std::nullopt);
    // Shows where the text is wrong and why; a line of 0 clears it.
    void showFault(int line, int column, const QString& message);
    QString shownFault() const;
    std::optional<std::uint64_t> seed() const { return seed_; }

    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

    void draw();
    // A new random formula, from the seed given or a fresh one; drawn.
    void drawRandom(std::optional<std::uint64_t> seed = std::nullopt);
    void open();
    void save();

signals:
    void drawAsked(const QString& text);

private:
    QString chooseInDialog(bool save);
    void drawRandomFresh();

    RandomText randomText_;
    FileChooser chooseFile_;
    FormulaTextEdit* edit_;
    QLabel* fault_;
    QLabel* seedLabel_;
    std::optional<std::uint64_t> seed_;
};

} // namespace spirell::app
