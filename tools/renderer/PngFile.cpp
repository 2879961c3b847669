#include "renderer/PngFile.hpp"

#include "renderer/InputError.hpp"

#include <png.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace spirell::tool {

namespace {

// libpng reports errors through a callback that must not return. It keeps the
// message here and jumps back to the setjmp of the call that failed; every such
// call sits in a function of its own with nothing to destroy on the way.
struct ErrorSink {
    char message[256] = "";
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message);
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {} // nothing a user could act on

// libpng refuses images over a million pixels wide or high unless told otherwise.
constexpr png_uint_32 kLargestSide = PNG_UINT_31_MAX;

} // namespace

struct PngWriter::State {
    ErrorSink errors;
    std::FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
};

namespace {

bool writeHeader(png_structp png, png_infop info, std::FILE* file, png_uint_32 width,
                 png_uint_32 height, png_textp texts, int textCount) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_user_limits(png, kLargestSide, kLargestSide);
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_text(png, info, texts, textCount);
    png_write_info(png, info);
    return true;
}

bool writeOneRow(png_structp png, const std::uint8_t* row) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_write_row(png, row);
    return true;
}

bool writeEnd(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_write_end(png, info);
    return true;
}

} // namespace

PngWriter::PngWriter(std::FILE* file, std::uint32_t width, std::uint32_t height,
                     const TextChunks& texts)
    : state_(new State) {
    state_->file = file;
    state_->png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &state_->errors, onPngError, onPngWarning);
    if (state_->png)
        state_->info = png_create_info_struct(state_->png);
    if (!state_->info) {
        png_destroy_write_struct(&state_->png, nullptr);
        delete state_;
        throw RenderFailure("cannot start a PNG image: out of memory");
    }

    std::vector<png_text> chunks(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
        chunks[i].key = const_cast<char*>(texts[i].first.c_str());
        chunks[i].text = const_cast<char*>(texts[i].second.c_str());
        chunks[i].text_length = texts[i].second.size();
    }
    if (!writeHeader(state_->png, state_->info, file, width, height, chunks.data(),
                     static_cast<int>(chunks.size()))) {
        const std::string message = state_->errors.message;
        png_destroy_write_struct(&state_->png, &state_->info);
        delete state_;
        throw RenderFailure("cannot write the PNG header: " + message);
    }
}

PngWriter::~PngWriter() {
    png_destroy_write_struct(&state_->png, &state_->info);
    delete state_;
}

void PngWriter::writeRow(const std::uint8_t* rgb) {
    if (!writeOneRow(state_->png, rgb))
        fail("cannot write the image: ");
}

void PngWriter::finish() {
    if (!writeEnd(state_->png, state_->info))
        fail("cannot finish the image: ");
}

void PngWriter::fail(const char* what) {
    std::string message = what;
    message += state_->errors.message;
    // libpng only says "Write Error"; the stream knows why.
    if (std::ferror(state_->file) && errno != 0)
        message += std::string(" (") + std::strerror(errno) + ")";
    throw RenderFailure(message);
}

namespace {

struct ReadStructs {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~ReadStructs() { png_destroy_read_struct(&png, &info, nullptr); }
};

bool readInfo(png_structp png, png_infop info, std::FILE* file) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_user_limits(png, kLargestSide, kLargestSide);
    png_init_io(png, file);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    return true;
}

} // namespace

std::map<std::string, std::string> readPngTexts(const std::string& path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file)
        throw InputError("cannot read " + path + ": " + std::strerror(errno));

    png_byte signature[8] = {};
    if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
        png_sig_cmp(signature, 0, sizeof signature) != 0)
        throw InputError(path + " is not a PNG file");

    ErrorSink errors;
    ReadStructs structs;
    structs.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, onPngError, onPngWarning);
    if (structs.png)
        structs.info = png_create_info_struct(structs.png);
    if (!structs.info)
        throw RenderFailure("cannot read " + path + ": out of memory");
    if (!readInfo(structs.png, structs.info, file.get()))
        throw InputError(path + " is not a readable PNG file: " + errors.message);

    std::map<std::string, std::string> texts;
    png_textp chunks = nullptr;
    const int count = png_get_text(structs.png, structs.info, &chunks, nullptr);
    for (int i = 0; i < count; ++i)
        texts[chunks[i].key] = chunks[i].text; // libpng ends every text with a NUL
    return texts;
}

} // namespace spirell::tool
