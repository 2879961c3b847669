#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace spirell::tool {

// tEXt chunks in the order they are written: key, text.
using TextChunks = std::vector<std::pair<std::string, std::string>>;

// Writes an 8-bit RGB PNG one row at a time, so the image never has to be held
// whole. The text chunks go before the image data, where a reader finds them
// without decoding any pixels. Failures throw RenderFailure.
class PngWriter {
public:
    PngWriter(std::FILE* file, std::uint32_t width, std::uint32_t height, const TextChunks& texts);
    ~PngWriter();
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    // Rows come top to bottom, three bytes (red, green, blue) per pixel.
    void writeRow(const std::uint8_t* rgb);
    // Ends the image; the file is complete once this returns.
    void finish();

private:
    [[noreturn]] void fail(const char* what);

    struct State;
    State* state_;
};

// The text chunks in front of the image data of a PNG file. Throws InputError
// when the file cannot be read or is not a PNG.
std::map<std::string, std::string> readPngTexts(const std::string& path);

} // namespace spirell::tool
