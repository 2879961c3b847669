#include "cli/ResolveSettings.hpp"

#include "base/Errors.hpp"
#include "base/UserText.hpp"
#include "cli/DeepZoomOutput.hpp"
#include "drawing/RandomFormula.hpp"
#include "formulas/FormulaText.hpp"
#include "formulas/TextFormulas.hpp"
#include "image/ImageSettings.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace spirell::cli {

using namespace image;

namespace {

// A formula file's text, "-" standard input's; no more than a formula may hold.
std::string readFormulaFile(const std::string& path) {
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!file)
        throw base::InputError("cannot read the formula file " + base::shown(path) + ": " +
                               std::strerror(errno));
    std::string text(formulas::kMaxFormulaBytes + 1, '\0');
    const std::size_t read = std::fread(text.data(), 1, text.size(), file);
    const bool failed = std::ferror(file);
    if (file != stdin)
        std::fclose(file);
    if (failed)
        throw base::InputError("cannot read the formula file " + base::shown(path));
    if (read > formulas::kMaxFormulaBytes)
        throw base::InputError("the formula file " + base::shown(path) + " is longer than " +
                               std::to_string(formulas::kMaxFormulaBytes) + " bytes");
    text.resize(read);
    return text;
}

} // namespace

ImageSettings resolveSettings(const CommandLine& line) {
    ImageSettings settings;
    if (!line.from.empty())
        // A pyramid keeps its view in the view.png beside its tiles.
        settings = readStoredSettings(line.from.ends_with(".dzi") ? deepZoomNames(line.from).viewPng
                                                                  : line.from);
    if (line.formula) {
        settings.formula = *line.formula;
        settings.formulaText.clear(); // a name given replaces a stored text
    }
    if (line.formulaText || line.formulaFile || line.randomSeed) {
        settings.formula = formulas::kTextFormulaRoutine;
        // A random formula's text names its seed in its first line.
        settings.formulaText = line.randomSeed    ? drawing::randomFormulaText(*line.randomSeed)
                               : line.formulaText ? *line.formulaText
                                                  : readFormulaFile(*line.formulaFile);
        // Compiled here, so that a bad text is refused before anything is made.
        try {
            formulas::formulaOfText(settings.formulaText);
        } catch (const formulas::FormulaError& error) {
            throw base::InputError((line.formulaText
                                        ? std::string("the formula text")
                                        : "the formula file " + base::shown(*line.formulaFile)) +
                                   ": " + error.what());
        }
    }
    for (std::size_t i = 0; i < boxes::kBoxTable.size(); ++i)
        if (line.boxes[i])
            settings.boxes.*boxes::kBoxTable[i].member = *line.boxes[i];
    if (line.scale)
        settings.scale = *line.scale;
    if (line.frame)
        settings.frame = *line.frame;
    return settings;
}

} // namespace spirell::cli
