#include "cli/CommandLine.hpp"

#include "animation/FlightPlan.hpp"
#include "base/Errors.hpp"
#include "base/Limits.hpp"
#include "base/UserText.hpp"
#include "base/WholeNumber.hpp"
#include "image/DeepZoom.hpp"
#include "image/ImageSettings.hpp"
#include "video/OutputKinds.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace spirell::cli {

using namespace image;

namespace {

// A whole number from low to high, written in plain decimal digits.
long long wholeNumber(const std::string& option, const std::string& text, long long low,
                      long long high) {
    const std::optional<long long> value = base::readWholeNumber(text, low, high);
    if (!value)
        throw base::InputError(option + " needs a whole number from " + std::to_string(low) +
                               " to " + std::to_string(high) + ", not " + base::quoted(text));
    return *value;
}

// A number of seconds above 0, written in decimal digits with an optional
// fraction, the same in every locale.
double seconds(const std::string& option, const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const bool digitFirst =
        !text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.');
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (!digitFirst || error != std::errc{} || stop != end || !(value > 0) || !std::isfinite(value))
        throw base::InputError(option + " needs a number of seconds above 0, such as 2.5, not " +
                               base::quoted(text));
    return value;
}

// A seed as --random takes it: a whole number from 0 to 2^64 - 1.
std::uint64_t randomSeed(const std::string& text) {
    std::uint64_t seed = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seed);
    if (text.empty() || error != std::errc{} || stop != end)
        throw base::InputError("--random needs a seed, a whole number from 0 to "
                               "18446744073709551615, not " +
                               base::quoted(text));
    return seed;
}

// An animation takes its views from the keyframes alone.
void checkAnimation(const CommandLine& line) {
    if (line.formula)
        throw base::InputError("--animate takes keyframes, not the formula " +
                               base::quoted(*line.formula) + " before it");
    if (!line.from.empty())
        throw base::InputError("--animate takes keyframes, not --from");
    if (line.formulaText || line.formulaFile || line.randomSeed)
        throw base::InputError("--animate takes keyframes, whose pictures hold the formula");
    for (std::size_t i = 0; i < boxes::kBoxTable.size(); ++i)
        if (line.boxes[i])
            throw base::InputError(std::string(boxes::kBoxTable[i].option) +
                                   " cannot go with --animate: the keyframes hold the views");
    if (line.keyframes.size() < 2)
        throw base::InputError("--animate needs at least two keyframes, not " +
                               std::to_string(line.keyframes.size()));
    if (line.output.empty())
        throw base::InputError("no output: give -o FOLDER/, -o NAME%05d.png or -o VIDEO, a video "
                               "ending in " +
                               video::videoExtensionsText());
}

// A pyramid is written instead of a PNG, from a view, and its tiles are its own.
void checkDeepZoom(const CommandLine& line) {
    if (line.deepZoom.empty()) {
        if (line.tileSize || line.tileOverlap)
            throw base::InputError(std::string(line.tileSize ? "--tile-size" : "--tile-overlap") +
                                   " belongs to a pyramid: give --deep-zoom NAME.dzi");
        return;
    }
    if (line.animate)
        throw base::InputError("--deep-zoom paints one view, not an animation");
    if (line.part || line.join)
        throw base::InputError(
            "--deep-zoom writes the whole pyramid; it takes no --part or --join");
    if (!line.output.empty())
        throw base::InputError("--deep-zoom writes the pyramid instead of -o " +
                               base::quoted(line.output) + ": give one of them");
    if (line.tileOverlap && *line.tileOverlap > line.tileSize.value_or(image::kDefaultTileSize) / 2)
        throw base::InputError("--tile-overlap may be at most half the tile size, " +
                               std::to_string(line.tileSize.value_or(image::kDefaultTileSize) / 2));
}

// Joining takes its picture from the parts alone.
void checkJoin(const CommandLine& line) {
    const bool viewGiven =
        line.formula || line.formulaText || line.formulaFile || line.randomSeed ||
        !line.from.empty() || line.scale || line.frame || line.animate || line.part ||
        std::any_of(line.boxes.begin(), line.boxes.end(), [](const auto& box) { return box; });
    if (viewGiven)
        throw base::InputError("--join takes the parts and -o alone: they hold the picture");
    if (line.parts.empty())
        throw base::InputError("--join needs the parts to join");
    if (line.output.empty())
        throw base::InputError("no output file: give -o FILE.png");
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments)
        if (argument == "--help" || argument == "-h") {
            CommandLine help;
            help.help = true;
            return help;
        }
    for (const std::string& argument : arguments)
        if (argument == "--version") {
            CommandLine version;
            version.version = true;
            return version;
        }

    CommandLine line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> attached; // the value of --name=value
        if (name.starts_with("--")) {
            if (const auto equals = name.find('='); equals != std::string::npos) {
                attached = name.substr(equals + 1);
                name.resize(equals);
            }
        }
        // Box texts may start with a minus sign, so the next argument is always the value.
        const auto value = [&]() -> std::string {
            if (attached)
                return *attached;
            if (i + 1 >= arguments.size())
                throw base::InputError(base::shown(name) + " needs a value");
            return arguments[++i];
        };
        const auto flag = [&] {
            if (attached)
                throw base::InputError(base::shown(name) + " takes no value");
        };

        const auto box =
            std::find_if(boxes::kBoxTable.begin(), boxes::kBoxTable.end(),
                         [&](const boxes::BoxDescription& b) { return name == b.option; });
        if (box != boxes::kBoxTable.end())
            line.boxes[box - boxes::kBoxTable.begin()] = value();
        else if (name == "-o" || name == "--output")
            line.output = value();
        else if (name == "--scale")
            line.scale = static_cast<int>(wholeNumber(name, value(), 1, kMaxScale));
        else if (name == "--frame") {
            const std::string text = value();
            line.frame = readFrameSize(text);
            if (!line.frame)
                throw base::InputError("--frame needs WIDTHxHEIGHT, two whole numbers from 1 to " +
                                       std::to_string(base::kMaxSide) + ", not " +
                                       base::quoted(text));
        } else if (name == "--animate") {
            flag();
            line.animate = true;
        } else if (name == "--seconds")
            line.secondsPerMove = seconds(name, value());
        else if (name == "--fps")
            line.framesPerSecond = static_cast<int>(wholeNumber(
                name, value(), animation::kMinFramesPerSecond, animation::kMaxFramesPerSecond));
        else if (name == "--frames-from") {
            line.framesFrom = value();
            if (line.framesFrom.empty())
                throw base::InputError("--frames-from needs a folder or frame names");
        } else if (name == "--lossless") {
            flag();
            line.lossless = true;
        } else if (name == "--threads")
            line.threads = static_cast<unsigned>(wholeNumber(name, value(), 1, base::kMaxThreads));
        else if (name == "--formula" || name == "--formula-file" || name == "--random") {
            if (line.formulaText || line.formulaFile || line.randomSeed)
                throw base::InputError(
                    "give one formula text: --formula, --formula-file or --random, once");
            if (name == "--random")
                line.randomSeed = randomSeed(value());
            else
                (name == "--formula" ? line.formulaText : line.formulaFile) = value();
        } else if (name == "--from") {
            line.from = value();
            if (line.from.empty())
                throw base::InputError("--from needs a file name");
        } else if (name == "--deep-zoom") {
            line.deepZoom = value();
            if (line.deepZoom.empty())
                throw base::InputError("--deep-zoom needs a file name ending in \".dzi\"");
        } else if (name == "--tile-size")
            line.tileSize = static_cast<std::uint32_t>(
                wholeNumber(name, value(), image::kMinTileSize, image::kMaxTileSize));
        else if (name == "--tile-overlap")
            line.tileOverlap =
                static_cast<std::uint32_t>(wholeNumber(name, value(), 0, image::kMaxTileSize / 2));
        else if (name == "--part") {
            const std::string text = value();
            line.part = readPartNumber(text);
            if (!line.part)
                throw base::InputError("--part needs I/N, part I of N counted from 0 (0 to N - 1), "
                                       "such as 0/4, not " +
                                       base::quoted(text));
        } else if (name == "--join") {
            flag();
            line.join = true;
        } else if (name == "--quiet" || name == "-q") {
            flag();
            line.quiet = true;
        } else if (name.starts_with("-") && name != "-")
            throw base::InputError("unknown option " + base::shown(name));
        else if (line.join)
            line.parts.push_back(name);
        else if (line.animate)
            line.keyframes.push_back(name);
        else if (line.formula)
            throw base::InputError("unexpected argument " + base::quoted(name) +
                                   " after the formula " + base::quoted(*line.formula));
        else if (line.formulaText || line.formulaFile || line.randomSeed)
            throw base::InputError("unexpected argument " + base::quoted(name) +
                                   ": the formula is the text given");
        else
            line.formula = name;
        if (line.formula && (line.formulaText || line.formulaFile || line.randomSeed))
            throw base::InputError("give a formula name or a formula text, not both");
    }

    checkDeepZoom(line);
    if (line.join) {
        checkJoin(line);
        return line;
    }
    if (line.animate) {
        checkAnimation(line);
        return line;
    }
    for (const auto& [given, option] : {std::pair{line.secondsPerMove.has_value(), "--seconds"},
                                        {line.framesPerSecond.has_value(), "--fps"},
                                        {line.lossless, "--lossless"},
                                        {!line.framesFrom.empty(), "--frames-from"}})
        if (given)
            throw base::InputError(std::string(option) +
                                   " belongs to an animation: give --animate");
    if (line.output.empty() && line.deepZoom.empty())
        throw base::InputError("no output file: give -o FILE.png");
    if (!line.formula && !line.formulaText && !line.formulaFile && !line.randomSeed &&
        line.from.empty())
        throw base::InputError("no formula: give a formula name, --formula TEXT, --formula-file "
                               "FILE, --random SEED or --from FILE.png");
    return line;
}

namespace {

// "  --size TEXT         image size box; ... (default "150")", one line per box.
std::string boxOptionLines() {
    std::string lines;
    for (const boxes::BoxDescription& box : boxes::kBoxTable) {
        std::string line = std::string("  ") + box.option + " TEXT";
        line.resize(22, ' ');
        lines += line + box.meaning + " (default \"" + box.defaultText() + "\")\n";
    }
    return lines;
}

// The kinds of video, as the help lists them: ".mp4" (H.264), ...
std::string videoKindLines() {
    std::string line = std::string(22, ' ');
    for (const video::OutputKindRow& row : video::kOutputKinds)
        if (video::isVideo(row.kind))
            line += (line.size() > 22 ? ", \"" : "\"") + std::string(row.extension) + "\" (" +
                    std::string(row.codec) + ")";
    return line + "\n";
}

// The extensions of the videos that need even sides: ".mp4 and .webm".
std::string evenSidedExtensions() {
    std::string text;
    for (const video::OutputKindRow& row : video::kOutputKinds)
        if (video::isVideo(row.kind) && row.evenSides)
            text += (text.empty() ? "" : " and ") + std::string(row.extension);
    return text;
}

} // namespace

// The help text names the limit.
static_assert(animation::kMaxFrames == 100000);

std::string usageText() {
    return R"(Usage: spirell-render FORMULA -o FILE.png [options]
       spirell-render --formula TEXT | --formula-file F.txt | --random SEED
                      -o FILE.png [options]
       spirell-render --from OLD.png -o FILE.png [options]
       spirell-render FORMULA --deep-zoom POSTER.dzi [options]
       spirell-render --animate KEY1.png KEY2.png [...] -o OUTPUT [options]
       spirell-render --join PART-0.png PART-1.png [...] -o FILE.png

Paints one Vortica Spirell formula into a PNG file, pixel for pixel as the
window would draw it for the same five boxes, or a flight through views.

FORMULA is a button caption ("ripple"), a routine name ("aries") or an index (0-18).
A formula of your own is a text (see the manual page for its language):
  --formula TEXT      the formula's text itself
  --formula-file F    the file that holds it; "-" reads standard input
  --random SEED       the random formula of a seed, 0 to 18446744073709551615,
                      the same on every machine
The image keeps the text, as it keeps the view; a text that does not compile
is refused with its line and column.

Options:
  -o, --output FILE   the PNG file to write, replaced only when complete; a
                      symbolic link is followed. "-" (standard output), a FIFO
                      or a device such as /dev/null is written directly
)" + boxOptionLines() +
           R"(  --scale K           K x K pixels per world unit, K a whole number (default 1)
  --frame WxH         an image of W x H pixels around the centre of the view's
                      picture: the picture's pixels where they overlap, its
                      columns and rows continued past its edges, its middle
                      where the frame is smaller; an odd pixel left over goes
                      to the right or the bottom. Sides up to 2147483647, at
                      most 2147483648 pixels; stored, as the view is
  --from FILE         take the formula, boxes, scale and frame stored in an
                      earlier image; options given here override them. Only
                      its own texts are read, each up to 64 KiB and 256 KiB in
                      all; a chunk over 1 MiB before the image data is refused
  --deep-zoom F.dzi   instead of -o: a Deep Zoom pyramid of the image, F.dzi,
                      its tiles F_files/LEVEL/COLUMN_ROW.png down to 1 x 1,
                      and F.html, a page that shows it with OpenSeadragon
                      (copied into F_files) from a folder or any web server.
                      The deepest level is the PNG's pixels; each level
                      above is the 2 x 2 means of the one below, rounded half
                      up, an odd edge averaged with itself (as vips dzsave
                      does). F_files/view.png keeps the view for --from
                      (--from F.dzi reads it). Written in bands, holding
                      about two rows of tiles; F_files appears when whole,
                      F.dzi last
  --tile-size N       the pyramid's tiles, 16 to 8192 pixels (default 254)
  --tile-overlap N    pixels a tile reaches into each neighbour, at most
                      half the tile size (default 1)
  --threads N         computing and compressing threads (default: one per
                      core; at most four per core and one per image row).
                      Memory grows with them: three bands of rows, each about
                      the larger of 1 MiB and N x 3 x width bytes, and at
                      most as much again compressed
  --part I/N          only part I (0 to N - 1) of N: a band of the picture's
                      rows, a PNG of its own that keeps the picture's texts
                      and "spirell:part" (I/N) and "spirell:part-rows"
                      (FIRST-LAST of HEIGHT). The rows go in pieces of about
                      256 KiB of pixels; the parts share them as evenly as
                      whole pieces allow, so N is at most the pieces' count.
                      With --animate and PNG frames: frames from
                      F x I / N to F x (I + 1) / N - 1 of the flight's F
  --join PART...      join parts, given in any order, into the whole picture,
                      the very bytes a render on one machine writes, without
                      decoding them. Every part must be there once, whole and
                      undamaged (each chunk's CRC, the end chunk), with the
                      same texts and N; else nothing is written
  -q, --quiet         no progress line
  -h, --help          show this text
  --version           show the version

Animation:
  --animate KEY.png...  a flight through two or more keyframes, pictures saved
                      by the window or spirell-render (the same formula in
                      all); every frame is a view of its own, stored in PNG
                      frames as in any image. OUTPUT is a folder (existing or
                      ending in "/") or frame names with one "%d" or "%05d"
                      ending in ".png": numbered PNG frames, where complete
                      frames from a stopped run are kept; or a video:
)" + videoKindLines() +
           R"(  --seconds S         seconds a move from one keyframe to the next (default 4)
  --fps N             frames a second, 1 to 240 (default 30)
  --lossless          lossless video; only ")" +
           std::string(video::losslessVideo().extension) + R"("
  --frames-from DIR   a video takes each frame from the PNG frames in DIR (or
                      named NAME%05d.png) that holds it, complete and of the
                      very view the flight gives it, and computes the others;
                      it says how many. A video that adds a column or row to
                      odd frames computes every frame
                      Frames are the size of the first keyframe's picture
                      (or of its frame, if it has one) at the scale (default:
                      its own) unless --frame says otherwise; )" +
           evenSidedExtensions() + R"(
                      keep colour for 2 x 2 pixels, so an odd width or height
                      gets one more column or row of the frame. A flight has
                      at most 100000 frames.

Environment: SPIRELL_SIMD=scalar|sse2|avx|avx512 chooses the instruction-set
width (default: the widest this processor has), SPIRELL_THREADS=N the threads
when --threads is not given. Every choice writes the same file.

Exit status: 0 on success, 2 for bad input (nothing is written), 1 when
writing fails or the system runs short (disk, memory, threads).
)";
}

} // namespace spirell::cli
