#pragma once

#include "boxes/BoxTable.hpp"
#include "image/ImageSettings.hpp"
#include "image/PosterParts.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace spirell::cli {

// What the command line asks for. Options that were not given stay empty, so
// that the values stored in a --from file can fill them.
struct CommandLine {
    std::optional<std::string> formula;
    // A formula written as text (--formula), or the file that holds one
    // (--formula-file, "-" for standard input).
    std::optional<std::string> formulaText;
    std::optional<std::string> formulaFile;
    // A random formula's seed (--random).
    std::optional<std::uint64_t> randomSeed;
    // The five boxes, in the order of kBoxTable.
    std::array<std::optional<std::string>, boxes::kBoxTable.size()> boxes;
    std::optional<int> scale;
    std::optional<image::FrameSize> frame;
    std::optional<unsigned> threads;
    std::string output;
    std::string from;
    // A flight through keyframes (--animate), its timing and its video.
    bool animate = false;
    std::vector<std::string> keyframes;
    std::optional<double> secondsPerMove;
    std::optional<int> framesPerSecond;
    bool lossless = false;
    // PNG frames a video takes its frames from where they hold them (--frames-from).
    std::string framesFrom;
    // A Deep Zoom pyramid written instead of a PNG (--deep-zoom NAME.dzi), and its tiles.
    std::string deepZoom;
    std::optional<std::uint32_t> tileSize;
    std::optional<std::uint32_t> tileOverlap;
    // A poster in parts: one band of the picture (--part I/N), or the parts
    // to join into the whole picture (--join).
    std::optional<image::PartNumber> part;
    bool join = false;
    std::vector<std::string> parts;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Reads the arguments that follow the program name. Throws InputError for an
// unknown option, a missing or malformed value, or a missing output or formula;
// with --animate, for fewer than two keyframes, a formula, --from or a box
// option beside it; without it, for the options of an animation.
// When --help or --version is among them nothing else is checked; --help wins.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

std::string usageText();

} // namespace spirell::cli
