#include "drawing/RandomFormula.hpp"

#include "boxes/BoxTexts.hpp"
#include "drawing/Colours.hpp"
#include "drawing/ViewParams.hpp"
#include "lanes/InstructionSets.hpp"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <random>
#include <string_view>
#include <vector>

namespace spirell::drawing {

namespace {

constexpr int kLeastDistinctColours = 48;

// floor(number x n / 2^64) for n below 2^32, in 32-bit halves so that no
// wider integer type is needed. Neither sum can pass 2^64.
std::uint64_t scaledBelow(std::uint64_t number, std::uint32_t n) {
    const std::uint64_t high = (number >> 32) * n;
    const std::uint64_t low = (number & 0xffffffffu) * n;
    return (high + (low >> 32)) >> 32;
}

class Dice {
public:
    explicit Dice(const ChoiceNumbers& numbers) : numbers_(numbers) {}

    // 0 .. n - 1.
    int below(int n) { return static_cast<int>(scaledBelow(numbers_(), std::uint32_t(n))); }
    int between(int first, int last) { return first + below(last - first + 1); }
    bool percent(int chance) { return below(100) < chance; }

    // An index into weights, each picked in proportion to its weight.
    int weighted(std::initializer_list<int> weights) {
        int total = 0;
        for (const int weight : weights)
            total += weight;
        int roll = below(total);
        int index = 0;
        for (const int weight : weights) {
            if (roll < weight)
                return index;
            roll -= weight;
            ++index;
        }
        return index - 1;
    }

private:
    const ChoiceNumbers& numbers_;
};

std::string wholeText(std::uint64_t value) {
    char buffer[24];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, written.ptr);
}

// A non-negative number given in hundredths, with no trailing zeros: 250
// gives "2.5", 5 gives "0.05", 300 gives "3".
std::string hundredthsText(int hundredths) {
    std::string text = wholeText(std::uint64_t(hundredths / 100));
    const int fraction = hundredths % 100;
    if (fraction != 0) {
        text += '.';
        text += char('0' + fraction / 10);
        if (fraction % 10 != 0)
            text += char('0' + fraction % 10);
    }
    return text;
}

// A piece of a formula text: how tightly it binds (a sum, a product, or a
// primary: a number, a name, a call or something in parentheses) and how
// deeply parentheses nest in it.
struct Piece {
    enum Binding { Sum = 1, Product = 2, Primary = 3 };
    std::string text;
    Binding binding = Primary;
    int nesting = 0;
};

Piece primary(std::string text) {
    return {std::move(text), Piece::Primary, 0};
}

Piece atLeast(const Piece& piece, Piece::Binding binding) {
    if (piece.binding >= binding)
        return piece;
    return {"(" + piece.text + ")", Piece::Primary, piece.nesting + 1};
}

// a op b, with parentheses wherever the text would otherwise group
// differently: the right operand of a sum or difference is never a sum, and
// the operands of a product are primaries, except its left one that may be a
// product.
Piece combine(const Piece& a, char op, const Piece& b) {
    const bool sum = op == '+' || op == '-';
    const Piece left = atLeast(a, sum ? Piece::Sum : Piece::Product);
    const Piece right = atLeast(b, sum ? Piece::Product : Piece::Primary);
    return {left.text + ' ' + op + ' ' + right.text, sum ? Piece::Sum : Piece::Product,
            std::max(left.nesting, right.nesting)};
}

Piece call(const char* function, const Piece& argument) {
    return {std::string(function) + '(' + argument.text + ')', Piece::Primary,
            argument.nesting + 1};
}

Piece call(const char* function, const Piece& first, const Piece& second) {
    return {std::string(function) + '(' + first.text + ", " + second.text + ')', Piece::Primary,
            std::max(first.nesting, second.nesting) + 1};
}

const char* const kTermNames[] = {"Wave",  "Swirl", "Fold",  "Ring",  "Drift", "Twist",
                                  "Bloom", "Pulse", "Weave", "Shade", "Ridge", "Flow"};

class FormulaWriter {
public:
    FormulaWriter(std::uint64_t seed, const ChoiceNumbers& numbers) : seed_(seed), dice_(numbers) {}

    std::string write() {
        text_ = "# random formula, seed " + wholeText(seed_) + '\n';
        if (dice_.percent(35))
            writeSettings();
        line("AngleX", primary("zoom * ((X / 200) * (44 / 7))"));
        line("AngleY", primary("zoom * ((Y / 200) * (44 / 7))"));
        names_ = {"AngleX", "AngleY"};
        nesting_ = 3;
        if (dice_.percent(40))
            define("Radius", primary("sqrt(AngleX * AngleX + AngleY * AngleY)"));
        if (dice_.percent(25))
            define("Turn", primary("atan2(AngleY, AngleX)"));
        writeTerms();
        for (const char* channel : {"red", "green", "blue"})
            line(channel, mixture());
        return text_;
    }

    int nesting() const { return nesting_; }

private:
    void line(const std::string& name, const Piece& value) {
        text_ += name + " = " + value.text + '\n';
        nesting_ = std::max(nesting_, value.nesting);
    }

    void define(const std::string& name, const Piece& value) {
        line(name, value);
        names_.push_back(name);
    }

    // Each setting at most once, each in about half the texts that have any.
    void writeSettings() {
        if (dice_.percent(50)) {
            const char* const origins[] = {"centred", "third-width", "corner", "offset-150"};
            text_ += std::string("origin: ") + origins[dice_.below(4)] + '\n';
        }
        if (dice_.percent(50))
            text_ += "zoom-multiplier: " + hundredthsText(50 * dice_.between(1, 8)) + '\n';
        if (dice_.percent(50))
            text_ += "brightness-multiplier: " + hundredthsText(25 * dice_.between(2, 8)) + '\n';
        if (dice_.percent(50))
            text_ += "level-scale: " + hundredthsText(10 * dice_.between(5, 15)) + '\n';
        if (dice_.percent(50)) {
            text_ += "level-offsets:";
            for (int channel = 0; channel < 3; ++channel)
                text_ += ' ' + wholeText(std::uint64_t(10 * dice_.between(2, 14)));
            text_ += '\n';
        }
    }

    void writeTerms() {
        std::vector<int> unused;
        for (int i = 0; i < int(std::size(kTermNames)); ++i)
            unused.push_back(i);
        const int terms = dice_.between(2, 4);
        for (int t = 0; t < terms; ++t) {
            const int pick = dice_.below(int(unused.size()));
            const std::string name = kTermNames[unused[pick]];
            unused.erase(unused.begin() + pick);
            Piece value = expression(dice_.between(1, 3));
            // Most terms are waves, which keep them between -1 and 1; a term
            // that would only rename another is always one.
            const bool renames =
                std::find(names_.begin(), names_.end(), value.text) != names_.end();
            switch (renames ? 1 + dice_.below(2) : dice_.weighted({4, 3, 3})) {
            case 0:
                break;
            case 1:
                value = call("sin", value);
                break;
            case 2:
                value = call("cos", value);
                break;
            }
            define(name, value);
            terms_.push_back(name);
        }
    }

    Piece name() {
        // The terms are what the channels are meant to show; the angles and
        // the rest come in less often.
        if (!terms_.empty() && dice_.percent(50))
            return primary(terms_[dice_.below(int(terms_.size()))]);
        return primary(names_[dice_.below(int(names_.size()))]);
    }

    Piece whole(int first, int last) {
        return primary(wholeText(std::uint64_t(dice_.between(first, last))));
    }

    Piece small() { return primary(hundredthsText(5 * dice_.between(1, 40))); }

    Piece leaf() {
        switch (dice_.weighted({6, 4, 1})) {
        case 0:
            return name();
        case 1: {
            const Piece scaled = name();
            return combine(scaled, '*', whole(2, 7));
        }
        default:
            return combine(primary("zoom"), '*', small());
        }
    }

    // The operands of every call below are drawn one statement at a time: the
    // order in which a function's arguments are worked out is the compiler's
    // choice, and the text must not depend on it.
    Piece expression(int depth) {
        if (depth == 0)
            return leaf();
        const auto inner = [&] { return expression(depth - 1); };
        const int kind = dice_.weighted({2, 5, 5, 4, 3, 4, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
        if (kind == 0)
            return leaf();
        const Piece a = inner();
        switch (kind) {
        case 1:
        case 2: {
            // A wave of a name is sped up; one of anything longer as it stands.
            const char* wave = kind == 1 ? "sin" : "cos";
            return call(wave, a.binding == Piece::Primary ? combine(a, '*', whole(2, 5)) : a);
        }
        case 8:
            return call("abs", a);
        case 9:
            return call("sqrt", call("abs", a));
        case 10:
            return call("tan", a);
        case 11:
            return call("exp", combine(primary("0"), '-', call("abs", a)));
        case 12:
            return call("log", combine(primary("1"), '+', call("abs", a)));
        case 13: {
            const Piece steps = whole(2, 6);
            return combine(call("floor", combine(a, '*', steps)), '/', steps);
        }
        case 14:
            return call("pow", call("abs", a), small());
        default:
            break;
        }
        const Piece b = inner();
        switch (kind) {
        case 3:
            return combine(a, '+', b);
        case 4:
            return combine(a, '-', b);
        case 5:
            return combine(a, '*', b);
        case 6:
            return combine(a, '/', combine(primary("1"), '+', call("abs", b)));
        case 7:
            return combine(a, '/', b);
        case 15:
            return call("atan2", a, b);
        default:
            return call(dice_.percent(50) ? "min" : "max", a, b);
        }
    }

    // A weighted sum of one to three parts, each a term, a product of two
    // terms or a wave of one; sometimes a constant on top.
    Piece mixture() {
        const int parts = dice_.between(1, 3);
        Piece sum;
        for (int i = 0; i < parts; ++i) {
            Piece part;
            switch (dice_.weighted({6, 2, 2})) {
            case 0:
                part = name();
                break;
            case 1: {
                const Piece first = name();
                part = combine(first, '*', name());
                break;
            }
            case 2: {
                const char* wave = dice_.percent(50) ? "sin" : "cos";
                const Piece waved = name();
                part = call(wave, combine(waved, '*', whole(2, 5)));
                break;
            }
            }
            const bool negative = dice_.percent(30);
            Piece weighted = combine(primary(hundredthsText(5 * dice_.between(2, 18))), '*', part);
            if (i == 0) {
                sum = weighted;
                if (negative)
                    sum = {"-" + sum.text, Piece::Sum, sum.nesting + 1};
            } else {
                sum = combine(sum, negative ? '-' : '+', weighted);
            }
        }
        if (dice_.percent(20)) {
            const char sign = dice_.percent(50) ? '+' : '-';
            sum = combine(sum, sign, primary(hundredthsText(5 * dice_.between(1, 10))));
        }
        return sum;
    }

    std::uint64_t seed_;
    Dice dice_;
    std::string text_;
    std::vector<std::string> names_;
    std::vector<std::string> terms_;
    int nesting_ = 0;
};

} // namespace

bool ColourVariety::isVaried() const {
    return distinctColours >= kLeastDistinctColours && mostCommonColour * 2 <= samples;
}

ViewGrid varietySamples(const formulas::Formula& settings) {
    const ViewParams view = readView(settings, boxes::BoxTexts{});
    const ViewGrid whole =
        viewGrid(view, {static_cast<int>(view.imageWidth), static_cast<int>(view.imageHeight)});
    const auto spread = [](const std::vector<double>& values, int count) {
        std::vector<double> picked;
        if (values.empty())
            return picked;
        const std::size_t last = values.size() - 1;
        for (int i = 0; i < count; ++i)
            picked.push_back(values[last * std::size_t(i) / std::size_t(count - 1)]);
        return picked;
    };
    return {spread(whole.columnX, kVarietyColumns), spread(whole.rowY, kVarietyRows)};
}

// The scalar lanes give the same bits on every machine, so whether a
// candidate is flat, and with it the text a seed gives, does not depend on
// the machine either.
ColourVariety colourVariety(const formulas::CompiledFormula& formula) {
    const ViewParams view = readView(formula.settings, boxes::BoxTexts{});
    const ViewGrid samples = varietySamples(formula.settings);
    std::vector<double> X, Y;
    for (const double y : samples.rowY)
        for (const double x : samples.columnX) {
            X.push_back(x);
            Y.push_back(y);
        }
    lanes::LevelRule rule = levelRule(formula.settings, view);
    rule.program = &formula.program;
    std::vector<formulas::Colour> colours(X.size());
    const lanes::PixelBatch pixels{X.data(), 1, Y.data(), 1, X.size()};
    lanes::kernelsFor(lanes::InstructionSet::Scalar).programColours(rule, pixels, colours.data());

    std::vector<std::uint32_t> values;
    for (const formulas::Colour colour : colours)
        values.push_back(colourValue(colour));
    std::sort(values.begin(), values.end());
    ColourVariety variety;
    variety.samples = int(values.size());
    for (std::size_t first = 0; first < values.size();) {
        std::size_t end = first;
        while (end < values.size() && values[end] == values[first])
            ++end;
        ++variety.distinctColours;
        variety.mostCommonColour = std::max(variety.mostCommonColour, int(end - first));
        first = end;
    }
    return variety;
}

std::string randomFormulaCandidate(std::uint64_t seed, const ChoiceNumbers& numbers) {
    return FormulaWriter(seed, numbers).write();
}

std::string fallbackFormulaText(std::uint64_t seed) {
    return "# random formula, seed " + wholeText(seed) +
           "\n"
           "# no candidate was varied enough: the fallback\n"
           "AngleX = zoom * ((X / 200) * (44 / 7))\n"
           "AngleY = zoom * ((Y / 200) * (44 / 7))\n"
           "red = 0.5 * sin(AngleX * 3) + 0.3 * cos(AngleY * 2)\n"
           "green = 0.5 * cos(AngleX + AngleY)\n"
           "blue = 0.5 * sin(AngleX * AngleY)\n";
}

RandomFormula randomFormula(std::uint64_t seed) {
    std::mt19937_64 engine(seed);
    const ChoiceNumbers numbers = [&engine] { return std::uint64_t(engine()); };
    RandomFormula result;
    for (int candidate = 1; candidate <= kRandomFormulaCandidates; ++candidate) {
        FormulaWriter writer(seed, numbers);
        std::string text = writer.write();
        formulas::CompiledFormula compiled;
        try {
            compiled = formulas::compileFormula(text);
        } catch (const formulas::FormulaError&) {
            ++result.malformed;
            continue;
        }
        if (text.size() > kRandomFormulaMaxBytes || writer.nesting() > kRandomFormulaMaxNesting ||
            compiled.program.instructions.size() > kRandomFormulaMaxOperations) {
            ++result.malformed;
            continue;
        }
        if (colourVariety(compiled).isVaried()) {
            result.text = std::move(text);
            result.candidate = candidate;
            return result;
        }
    }
    result.text = fallbackFormulaText(seed);
    return result;
}

std::string randomFormulaText(std::uint64_t seed) {
    return randomFormula(seed).text;
}

} // namespace spirell::drawing
