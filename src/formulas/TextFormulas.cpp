#include "formulas/TextFormulas.hpp"

#include "formulas/Catalogue.hpp"
#include "formulas/FormulaText.hpp"

#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>

namespace spirell::formulas {

namespace {

struct TextFormula {
    std::string text;
    FormulaProgram program;
    Formula formula{};
};

// Every formula of a text made in this process, never removed: views,
// pictures and plans keep references to them.
struct Registry {
    std::mutex mutex;
    std::deque<TextFormula> formulas; // stays where it is as it grows
    std::map<std::string, const TextFormula*, std::less<>> byText;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

} // namespace

const Formula& formulaOfText(std::string_view text) {
    Registry& known = registry();
    {
        std::lock_guard lock(known.mutex);
        if (const auto found = known.byText.find(text); found != known.byText.end())
            return found->second->formula;
    }
    CompiledFormula compiled = compileFormula(text); // throws for a bad text
    std::lock_guard lock(known.mutex);
    if (const auto found = known.byText.find(text); found != known.byText.end())
        return found->second->formula; // made meanwhile on another thread
    TextFormula& made = known.formulas.emplace_back();
    made.text = std::string(text);
    made.program = std::move(compiled.program);
    made.formula = compiled.settings;
    made.formula.index = kFormulaCount + static_cast<int>(known.formulas.size() - 1);
    made.formula.routine = kTextFormulaRoutine;
    made.formula.caption = kTextFormulaCaption;
    made.formula.program = &made.program;
    made.formula.text = made.text.c_str();
    known.byText.emplace(made.text, &made);
    return made.formula;
}

const Formula& formulaAt(int index) {
    if (index >= 0 && index < kFormulaCount)
        return formulaCatalogue()[static_cast<std::size_t>(index)];
    Registry& known = registry();
    std::lock_guard lock(known.mutex);
    const auto position = static_cast<std::size_t>(index - kFormulaCount);
    if (index < kFormulaCount || position >= known.formulas.size())
        throw std::out_of_range("no formula " + std::to_string(index));
    return known.formulas[position].formula;
}

} // namespace spirell::formulas
