#include "formulas/FormulaText.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace spirell::formulas {

FormulaError::FormulaError(int line, int column, const std::string& message)
    : base::InputError("line " + std::to_string(line) + ", column " + std::to_string(column) +
                       ": " + message),
      line_(line), column_(column), message_(message) {}

namespace {

// A value as the compiler knows it: worked out already, an input, or the
// result of an operation still to run.
struct Value {
    enum class Kind { Constant, Zoom, X, Y, Computed };
    Kind kind = Kind::Constant;
    double constant = 0;
    std::size_t computed = 0; // the operation's number

    bool isConstant() const { return kind == Kind::Constant; }
};

// An operation before registers are given out: its operands are values.
struct PendingOperation {
    Operation operation;
    Value a;
    Value b;
    int line; // of the statement it is part of, for messages
};

struct FunctionInfo {
    const char* name;
    Operation operation;
    int arguments;
};

constexpr FunctionInfo kFunctions[] = {
    {"sin", Operation::Sin, 1},     {"cos", Operation::Cos, 1},     {"tan", Operation::Tan, 1},
    {"abs", Operation::Abs, 1},     {"sqrt", Operation::Sqrt, 1},   {"exp", Operation::Exp, 1},
    {"log", Operation::Log, 1},     {"floor", Operation::Floor, 1}, {"pow", Operation::Pow, 2},
    {"atan2", Operation::Atan2, 2}, {"min", Operation::Min, 2},     {"max", Operation::Max, 2},
};

const FunctionInfo* findFunction(std::string_view name) {
    for (const FunctionInfo& function : kFunctions)
        if (name == function.name)
            return &function;
    return nullptr;
}

constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;

double withoutSign(double value) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) & ~kSignBit);
}

// The operations worked out on constants, exactly as the lanes do them.
std::optional<double> workedOut(Operation operation, double a, double b) {
    switch (operation) {
    case Operation::Add:
        return a + b;
    case Operation::Sub:
        return a - b;
    case Operation::Mul:
        return a * b;
    case Operation::Div:
        return a / b;
    case Operation::Neg:
        return -a;
    case Operation::Abs:
        return withoutSign(a);
    case Operation::Min:
        return b < a ? b : a;
    case Operation::Max:
        return b > a ? b : a;
    case Operation::Floor:
        return std::floor(a);
    default:
        return std::nullopt; // the lanes' own functions
    }
}

bool isNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool isNamePart(char c) {
    return isNameStart(c) || (c >= '0' && c <= '9');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

struct Place {
    int line = 1;
    int column = 1;
};

class Compiler {
public:
    explicit Compiler(std::string_view text) : text_(text) {
        settings_.index = -1;
        settings_.routine = nullptr;
        settings_.caption = nullptr;
    }

    CompiledFormula compile() {
        if (text_.size() > kMaxFormulaBytes)
            throw FormulaError(
                1, 1, "the text is longer than " + std::to_string(kMaxFormulaBytes) + " bytes");
        for (;;) {
            skipBlanks();
            if (atEnd())
                break;
            if (peek() == '\n') {
                advance();
                continue;
            }
            statement();
        }
        for (const char* channel : {"red", "green", "blue"})
            if (!channels_.count(channel))
                throw FormulaError(place_.line, place_.column,
                                   std::string("the text defines no ") + channel + " mixture (\"" +
                                       channel + " = ...\")");
        return finish();
    }

private:
    // --- Reading characters -------------------------------------------------

    bool atEnd() const { return at_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[at_]; }

    void advance() {
        const char c = text_[at_++];
        if (c == '\n') {
            ++place_.line;
            place_.column = 1;
        } else if ((static_cast<unsigned char>(c) & 0xc0) != 0x80) {
            ++place_.column; // a character's first byte
        }
    }

    // Blanks and a comment; line ends too while a statement goes on.
    void skipBlanks(bool lineEnds = false) {
        while (!atEnd()) {
            const char c = peek();
            if (c == ' ' || c == '\t' || c == '\r' || (lineEnds && c == '\n')) {
                advance();
            } else if (c == '#') {
                while (!atEnd() && peek() != '\n')
                    advance();
            } else {
                break;
            }
        }
    }

    // Blanks within a statement: line ends count as blanks inside parentheses.
    void skipInside() { skipBlanks(depth_ > 0); }

    [[noreturn]] void fail(const Place& place, const std::string& message) const {
        throw FormulaError(place.line, place.column, message);
    }
    [[noreturn]] void fail(const std::string& message) const { fail(place_, message); }

    // What stands at the cursor, for messages.
    std::string found() const {
        if (atEnd())
            return "the end of the text";
        const char c = peek();
        if (c == '\n')
            return "the end of the line";
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return "a control character";
        if (static_cast<unsigned char>(c) >= 0x80)
            return "a character that is not part of the language";
        return std::string("\"") + c + "\"";
    }

    std::string_view word() {
        const std::size_t start = at_;
        while (!atEnd() && isNamePart(peek()))
            advance();
        return text_.substr(start, at_ - start);
    }

    // --- Statements ---------------------------------------------------------

    void statement() {
        const Place start = place_;
        statementLine_ = start.line;
        if (!isNameStart(peek()))
            fail("expected a name or a setting at the start of a statement, found " + found());
        // A setting's name may hold hyphens; a value's name may not.
        std::size_t end = at_;
        while (end < text_.size() && (isNamePart(text_[end]) || text_[end] == '-'))
            ++end;
        std::size_t after = end;
        while (after < text_.size() && (text_[after] == ' ' || text_[after] == '\t'))
            ++after;
        if (after < text_.size() && text_[after] == ':') {
            const std::string name(text_.substr(at_, end - at_));
            while (at_ < after + 1)
                advance();
            setting(name, start);
        } else {
            const std::string name(word());
            definition(name, start);
        }
        skipBlanks();
        if (!atEnd() && peek() != '\n')
            fail("expected the end of the line, found " + found());
    }

    void definition(const std::string& name, const Place& start) {
        if (name == "X" || name == "Y" || name == "zoom")
            fail(start, "\"" + name + "\" is an input and cannot be defined");
        if (findFunction(name))
            fail(start, "\"" + name + "\" is a function and cannot be defined");
        if (values_.count(name))
            fail(start, "\"" + name + "\" is defined twice");
        if (values_.size() >= kMaxFormulaNames)
            fail(start, "more than " + std::to_string(kMaxFormulaNames) + " names");
        skipBlanks();
        if (peek() != '=')
            fail("expected \"=\" after \"" + name + "\", found " + found());
        advance();
        skipBlanks(true);
        const Value value = expression();
        values_.emplace(name, value);
        if (name == "red" || name == "green" || name == "blue")
            channels_[name] = value;
    }

    void setting(const std::string& name, const Place& start) {
        if (!seenSettings_.insert(name).second)
            fail(start, "the setting \"" + name + "\" is given twice");
        skipBlanks();
        if (name == "origin") {
            const Place at = place_;
            std::size_t end = at_;
            while (end < text_.size() && (isNamePart(text_[end]) || text_[end] == '-'))
                ++end;
            const std::string_view rule = text_.substr(at_, end - at_);
            static const std::map<std::string_view, OriginRule> kRules = {
                {"centred", OriginRule::Centred},
                {"third-width", OriginRule::ThirdWidth},
                {"corner", OriginRule::Corner},
                {"offset-150", OriginRule::Offset150}};
            const auto found = kRules.find(rule);
            if (found == kRules.end())
                fail(at, "the origin is centred, third-width, corner or offset-150");
            settings_.origin = found->second;
            while (at_ < end)
                advance();
        } else if (name == "zoom-multiplier") {
            settings_.zoomMultiplier = settingNumber();
        } else if (name == "brightness-multiplier") {
            settings_.brightnessMultiplier = settingNumber();
        } else if (name == "level-scale") {
            settings_.levelScale = settingNumber();
        } else if (name == "level-offsets") {
            for (double& offset : settings_.levelOffsets) {
                skipBlanks();
                offset = settingNumber();
            }
        } else {
            fail(start, "unknown setting \"" + name +
                            "\"; the settings are origin, zoom-multiplier, "
                            "brightness-multiplier, level-scale and level-offsets");
        }
    }

    double settingNumber() {
        bool negative = false;
        if (peek() == '-') {
            negative = true;
            advance();
        }
        if (!isDigit(peek()) && peek() != '.')
            fail("expected a number, found " + found());
        const double value = number();
        return negative ? -value : value;
    }

    // --- Expressions --------------------------------------------------------

    // Parentheses, calls and unary minus, one in another.
    class Nesting {
    public:
        explicit Nesting(Compiler& compiler) : compiler_(compiler) {
            if (++compiler_.nesting_ > kMaxFormulaNesting)
                compiler_.fail("nested more than " + std::to_string(kMaxFormulaNesting) + " deep");
        }
        ~Nesting() { --compiler_.nesting_; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

    private:
        Compiler& compiler_;
    };

    Value expression() {
        Value left = term();
        for (;;) {
            skipInside();
            const char c = peek();
            if (c != '+' && c != '-')
                return left;
            advance();
            skipBlanks(true);
            const Value right = term();
            left = operate(c == '+' ? Operation::Add : Operation::Sub, left, right);
        }
    }

    Value term() {
        Value left = unary();
        for (;;) {
            skipInside();
            const char c = peek();
            if (c != '*' && c != '/')
                return left;
            advance();
            skipBlanks(true);
            const Value right = unary();
            left = operate(c == '*' ? Operation::Mul : Operation::Div, left, right);
        }
    }

    Value unary() {
        skipInside();
        if (peek() == '-') {
            const Nesting nesting(*this);
            advance();
            const Value operand = unary();
            return operate(Operation::Neg, operand, {});
        }
        return primary();
    }

    Value primary() {
        skipInside();
        const Place start = place_;
        const char c = peek();
        if (isDigit(c) || c == '.')
            return {Value::Kind::Constant, number(), 0};
        if (c == '(') {
            const Nesting nesting(*this);
            advance();
            ++depth_;
            const Value inside = expression();
            skipInside();
            if (peek() != ')')
                fail("expected \")\", found " + found());
            --depth_;
            advance();
            return inside;
        }
        if (!isNameStart(c))
            fail("expected a number, a name, a function or \"(\", found " + found());
        const std::string name(word());
        if (const FunctionInfo* function = findFunction(name))
            return call(*function, start);
        if (name == "X")
            return {Value::Kind::X, 0, 0};
        if (name == "Y")
            return {Value::Kind::Y, 0, 0};
        if (name == "zoom")
            return {Value::Kind::Zoom, 0, 0};
        const auto defined = values_.find(name);
        if (defined == values_.end())
            fail(start, "unknown name \"" + name + "\"" +
                            (name == "x" || name == "y" ? " (the inputs are X, Y and zoom)" : ""));
        return defined->second;
    }

    Value call(const FunctionInfo& function, const Place& start) {
        const Nesting nesting(*this);
        skipBlanks();
        if (peek() != '(')
            fail("expected \"(\" after the function " + std::string(function.name) + ", found " +
                 found());
        advance();
        ++depth_;
        Value arguments[2];
        for (int i = 0; i < function.arguments; ++i) {
            if (i > 0) {
                skipInside();
                if (peek() != ',')
                    fail(std::string(function.name) +
                         " takes two arguments; expected \",\", found " + found());
                advance();
            }
            arguments[i] = expression();
        }
        skipInside();
        if (peek() == ',')
            fail(start, std::string(function.name) + " takes one argument");
        if (peek() != ')')
            fail("expected \")\", found " + found());
        --depth_;
        advance();
        return operate(function.operation, arguments[0], arguments[1]);
    }

    // A decimal number, correctly rounded.
    double number() {
        const Place start = place_;
        const std::size_t first = at_;
        bool digits = false;
        while (isDigit(peek())) {
            advance();
            digits = true;
        }
        if (peek() == '.') {
            advance();
            while (isDigit(peek())) {
                advance();
                digits = true;
            }
        }
        if (!digits)
            fail(start, "expected digits in a number");
        if (peek() == 'e' || peek() == 'E') {
            advance();
            if (peek() == '+' || peek() == '-')
                advance();
            if (!isDigit(peek()))
                fail("expected the digits of an exponent, found " + found());
            while (isDigit(peek()))
                advance();
        }
        if (isNameStart(peek()))
            fail("a number followed by a letter: " + found());
        const std::string_view digitsText = text_.substr(first, at_ - first);
        double value = 0;
        const auto [end, error] =
            std::from_chars(digitsText.data(), digitsText.data() + digitsText.size(), value);
        if (error == std::errc::result_out_of_range)
            fail(start,
                 "the number " + std::string(digitsText) + " is beyond the range of a double");
        if (error != std::errc() || end != digitsText.data() + digitsText.size())
            fail(start, "a bad number " + std::string(digitsText));
        return value;
    }

    // --- Operations ---------------------------------------------------------

    Value operate(Operation operation, const Value& a, const Value& b) {
        const bool unary = operation == Operation::Neg || arity(operation) == 1;
        if (a.isConstant() && (unary || b.isConstant()))
            if (const auto result = workedOut(operation, a.constant, b.constant))
                return {Value::Kind::Constant, *result, 0};
        if (pending_.size() >= kMaxFormulaOperations)
            fail("more than " + std::to_string(kMaxFormulaOperations) + " operations");
        pending_.push_back({operation, a, unary ? Value{} : b, statementLine_});
        return {Value::Kind::Computed, 0, pending_.size() - 1};
    }

    static int arity(Operation operation) {
        switch (operation) {
        case Operation::Add:
        case Operation::Sub:
        case Operation::Mul:
        case Operation::Div:
        case Operation::Pow:
        case Operation::Atan2:
        case Operation::Min:
        case Operation::Max:
            return 2;
        default:
            return 1;
        }
    }

    // Registers for the operations the channels need, each freed after its
    // value's last use, so that a batch's registers stay few.
    CompiledFormula finish() {
        constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();
        constexpr std::size_t kEnd = kNever - 1; // a channel's value: used to the end
        std::vector<std::size_t> lastUse(pending_.size(), kNever);
        std::vector<bool> needed(pending_.size(), false);
        const auto use = [&](const Value& value, std::size_t by) {
            if (value.kind == Value::Kind::Computed) {
                needed[value.computed] = true;
                if (lastUse[value.computed] == kNever || lastUse[value.computed] < by)
                    lastUse[value.computed] = by;
            }
        };
        for (const auto& [name, value] : channels_)
            use(value, kEnd);
        // Backwards, so that an operation is known to be needed before its operands are seen.
        for (std::size_t i = pending_.size(); i-- > 0;)
            if (needed[i]) {
                use(pending_[i].a, i);
                if (arity(pending_[i].operation) == 2)
                    use(pending_[i].b, i);
            }

        CompiledFormula compiled;
        FormulaProgram& program = compiled.program;
        std::vector<std::uint16_t> registerOf(pending_.size(), 0);
        std::vector<std::uint16_t> free;
        std::map<std::uint64_t, std::uint16_t> constantIndex;
        const auto operand = [&](const Value& value) -> Operand {
            switch (value.kind) {
            case Value::Kind::Constant: {
                const std::uint64_t bits = std::bit_cast<std::uint64_t>(value.constant);
                auto [entry, added] = constantIndex.emplace(
                    bits, static_cast<std::uint16_t>(program.constants.size()));
                if (added)
                    program.constants.push_back(value.constant);
                return {Source::Constant, entry->second};
            }
            case Value::Kind::Zoom:
                return {Source::Zoom, 0};
            case Value::Kind::X:
                return {Source::Register, 0};
            case Value::Kind::Y:
                return {Source::Register, 1};
            case Value::Kind::Computed:
                return {Source::Register, registerOf[value.computed]};
            }
            return {};
        };
        const auto release = [&](const Value& value, std::size_t at) {
            if (value.kind == Value::Kind::Computed && lastUse[value.computed] == at) {
                free.push_back(registerOf[value.computed]);
                lastUse[value.computed] = kNever; // freed once, even if both operands
            }
        };
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            if (!needed[i])
                continue;
            const PendingOperation& pending = pending_[i];
            Instruction instruction;
            instruction.operation = pending.operation;
            instruction.a = operand(pending.a);
            if (arity(pending.operation) == 2)
                instruction.b = operand(pending.b);
            release(pending.a, i);
            if (arity(pending.operation) == 2)
                release(pending.b, i);
            if (!free.empty()) {
                // The lowest free register, so that the program is the same
                // whatever order registers were freed in.
                auto lowest = std::min_element(free.begin(), free.end());
                registerOf[i] = *lowest;
                free.erase(lowest);
            } else {
                if (program.registers >= kMaxProgramRegisters)
                    throw FormulaError(pending.line, 1,
                                       "more than " + std::to_string(kMaxProgramRegisters - 2) +
                                           " values are needed at once here");
                registerOf[i] = program.registers++;
            }
            instruction.target = registerOf[i];
            program.instructions.push_back(instruction);
        }
        program.channels[0] = operand(channels_.at("red"));
        program.channels[1] = operand(channels_.at("green"));
        program.channels[2] = operand(channels_.at("blue"));
        compiled.settings = settings_;
        return compiled;
    }

    std::string_view text_;
    std::size_t at_ = 0;
    Place place_;
    int depth_ = 0;   // parentheses open
    int nesting_ = 0; // parentheses, calls and unary minus open
    int statementLine_ = 1;
    std::map<std::string, Value, std::less<>> values_;
    std::map<std::string, Value> channels_;
    std::set<std::string> seenSettings_;
    std::vector<PendingOperation> pending_;
    Formula settings_{};
};

} // namespace

CompiledFormula compileFormula(std::string_view text) {
    return Compiler(text).compile();
}

} // namespace spirell::formulas
