// The box edits behind the buttons and labels beside the boxes, in any order
// on any box texts. The first line of the input names the edits, one byte
// each: 'a' is the first in kEdits below, 'b' the second and so on, any other
// byte wraps around. The next five lines are the box texts, top to bottom; a
// missing line keeps the text a new window starts with.
//
// Every edit either fails with Overflow and leaves every box as it was, or
// changes only its own boxes and writes each of them in the boxes' own number
// form. checkSize leaves a size from 1 to 1024 or "100".
#include "FuzzSupport.hpp"

#include "boxes/BoxEdits.hpp"
#include "boxes/NumberText.hpp"
#include "boxes/RuntimeError.hpp"

#include <array>

using namespace spirell;
using namespace spirell::boxes;
using namespace spirell::fuzz;

namespace {

enum Box : unsigned { One = 1, Two = 2, Three = 4, Four = 8, Five = 16 };

// What an edit leaves besides numbers in its own boxes.
enum class After { Numbers, Reset, SizeInRange };

struct Edit {
    const char* name;
    void (*apply)(BoxTexts&);
    unsigned changes; // the boxes the edit may write
    bool mayFail;     // whether it reads numbers that can overflow
    After after = After::Numbers;
};

const std::array kEdits{
    Edit{"small preset", [](BoxTexts& b) { applyPreset(Preset::Small, b); }, Three, false},
    Edit{"medium preset", [](BoxTexts& b) { applyPreset(Preset::Medium, b); },
         One | Two | Three | Four, false},
    Edit{"large preset", [](BoxTexts& b) { applyPreset(Preset::Large, b); }, Three | Four, false},
    Edit{"reset", [](BoxTexts& b) { resetBoxes(b); }, One | Two | Three | Four | Five, false,
         After::Reset},
    Edit{"check size", [](BoxTexts& b) { checkSize(b); }, Three, false, After::SizeInRange},
    Edit{"shift right", [](BoxTexts& b) { shiftView(ShiftButton::Right, b); }, One, true},
    Edit{"shift left", [](BoxTexts& b) { shiftView(ShiftButton::Left, b); }, One, true},
    Edit{"shift down", [](BoxTexts& b) { shiftView(ShiftButton::Down, b); }, Two, true},
    Edit{"shift up", [](BoxTexts& b) { shiftView(ShiftButton::Up, b); }, Two, true},
    Edit{"double y", [](BoxTexts& b) { scalePosition(ScaleButton::DoubleY, b); }, Two, true},
    Edit{"halve y", [](BoxTexts& b) { scalePosition(ScaleButton::HalveY, b); }, Two, true},
    Edit{"double x", [](BoxTexts& b) { scalePosition(ScaleButton::DoubleX, b); }, One, true},
    Edit{"halve x", [](BoxTexts& b) { scalePosition(ScaleButton::HalveX, b); }, One, true},
    Edit{"double zoom", [](BoxTexts& b) { zoomView(ZoomButton::Double, b); }, Four, true},
    Edit{"halve zoom", [](BoxTexts& b) { zoomView(ZoomButton::Halve, b); }, Four, true},
    Edit{"halve zoom and centre",
         [](BoxTexts& b) { zoomView(ZoomButton::HalveAndMoveToHalfSize, b); }, One | Two | Four,
         true},
    Edit{"double zoom and centre",
         [](BoxTexts& b) { zoomView(ZoomButton::DoubleAndMoveToTwiceSize, b); }, One | Two | Four,
         true},
};

// Edits write numbers as writeNumber does: text that reads back and writes as
// itself again. Kept texts may be anything the user typed.
void checkWrittenBox(const std::string& text, const std::string& about) {
    FUZZ_CHECK(text.find(',') == std::string::npos, about);
    double value = 0;
    try {
        value = readNumber(text);
    } catch (const RuntimeError&) {
        fail("a written box reads back", about, __FILE__, __LINE__);
    }
    FUZZ_CHECK(writeNumber(value) == text, about + ", read as " + exact(value));
}

void checkEdit(const Edit& edit, const BoxTexts& before, const BoxTexts& after) {
    const std::string about =
        std::string(edit.name) + " on " + describe(before) + " gave " + describe(after);
    for (std::size_t i = 0; i < kBoxTable.size(); ++i) {
        const unsigned box = 1u << i; // One, Two, ... in the table's order
        const auto text = kBoxTable[i].member;
        if (before.*text == after.*text)
            continue;
        FUZZ_CHECK((edit.changes & box) != 0, about + ": changed box " + std::to_string(box));
        // A size in range stays as typed; checkSizeRange looks at it.
        if (edit.after != After::SizeInRange)
            checkWrittenBox(after.*text, about);
    }
}

void checkSizeRange(const BoxTexts& before, const BoxTexts& after) {
    const std::string about = "check size on " + describe(before) + " gave " + describe(after);
    if (after.size == "100")
        return;
    FUZZ_CHECK(after.size == before.size, about);
    double size = 0;
    try {
        size = readNumber(after.size);
    } catch (const RuntimeError&) {
        fail("a kept size reads", about, __FILE__, __LINE__);
    }
    FUZZ_CHECK(size >= 1 && size <= 1024, about);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    useEnvironmentLocale();
    const std::vector<std::string_view> parts = lines(data, size);
    BoxTexts boxes = boxesFromLines(parts, 1);
    constexpr int kEditCount = static_cast<int>(kEdits.size());

    for (const char code : parts[0]) {
        const int index =
            ((static_cast<unsigned char>(code) - 'a') % kEditCount + kEditCount) % kEditCount;
        const Edit& edit = kEdits[index];
        const BoxTexts before = boxes;
        try {
            edit.apply(boxes);
        } catch (const RuntimeError& error) {
            const std::string about = std::string(edit.name) + " on " + describe(before);
            FUZZ_CHECK(edit.mayFail, about + " failed");
            FUZZ_CHECK(error.number() == kOverflowErrorNumber,
                       about + ": " + std::string(error.what()));
            FUZZ_CHECK(boxes == before, about + " failed but left " + describe(boxes));
            continue;
        }
        checkEdit(edit, before, boxes);
        if (edit.after == After::Reset)
            FUZZ_CHECK((boxes == BoxTexts{"1", "1", "100", "1", "150"}), describe(boxes));
        if (edit.after == After::SizeInRange)
            checkSizeRange(before, boxes);
    }
    return 0;
}
