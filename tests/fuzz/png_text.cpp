// The PNG text reader behind spirell-render --from, on any file. The input is
// the file, and it is read as --from reads it: readPngTexts under the keys the
// settings are kept under, settingsFromTexts on what that gives and planImage
// on those settings. Each step may fail with InputError alone, its message one
// plain line. The texts read keep to the reader's limits, hold no zero byte
// and are those libpng itself finds in the file; settings read from a file,
// saved again as the window saves them, read back the same; and every plan
// passes the checks of PlanChecks.hpp.
//
// A mutation inside a chunk breaks its checksum, and the reader refuses such a
// file before looking at the chunk. So an input with a wrong checksum is read
// a second time with every checksum put right, which lets the fuzzer reach the
// parsing behind them.
#include "FuzzSupport.hpp"
#include "PlanChecks.hpp"

#include "base/Errors.hpp"
#include "image/PngFile.hpp"

#include <png.h>

#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <sys/mman.h>
#include <unistd.h>

using namespace spirell;
using namespace spirell::base;
using namespace spirell::fuzz;
using namespace spirell::image;

namespace {

using Texts = std::map<std::string, std::string>;

// A file in memory with a path that open() takes, so that the reader sees a
// regular file, as it does for --from, without anything left on disk.
class MemoryFile {
public:
    MemoryFile() : descriptor_(::memfd_create("png_text", MFD_CLOEXEC)) {
        if (descriptor_ < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        path_ = "/proc/self/fd/" + std::to_string(descriptor_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    ~MemoryFile() { ::close(descriptor_); }

    // Makes the file hold these bytes and nothing else.
    void hold(std::span<const std::uint8_t> bytes) {
        bool written = ::ftruncate(descriptor_, 0) == 0;
        for (std::size_t done = 0; written && done < bytes.size();) {
            const ssize_t now = ::pwrite(descriptor_, bytes.data() + done, bytes.size() - done,
                                         static_cast<off_t>(done));
            written = now > 0;
            done += written ? static_cast<std::size_t>(now) : 0;
        }
        if (!written) {
            std::perror("cannot write the input file");
            std::abort();
        }
    }

    const std::string& path() const { return path_; }

private:
    int descriptor_;
    std::string path_;
};

// A message for the user is one plain line: no line break, no control
// character, no C1 control in UTF-8.
bool isOnePlainLine(std::string_view message) {
    for (std::size_t i = 0; i < message.size(); ++i) {
        const auto byte = static_cast<unsigned char>(message[i]);
        if (byte < 0x20 || byte == 0x7f)
            return false;
        if (byte == 0xc2 && i + 1 < message.size() &&
            static_cast<unsigned char>(message[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(message[i + 1]) <= 0x9f)
            return false;
    }
    return !message.empty();
}

// Runs step, which may fail with InputError alone, and that with a plain line.
// Returns whether it succeeded.
template <typename Step> bool succeeds(const char* what, Step&& step) {
    try {
        step();
        return true;
    } catch (const InputError& error) {
        FUZZ_CHECK(isOnePlainLine(error.what()),
                   std::string(what) + " failed with the message " + quoted(error.what()));
    } catch (const std::exception& error) {
        fail("only InputError", std::string(what) + " threw " + error.what(), __FILE__, __LINE__);
    }
    return false;
}

// libpng's own reading, for comparison: the file in memory, read as far as
// the image data with the reader's bounds and its refusal of wrong checksums,
// every text decoded by libpng itself.
struct MemoryReader {
    std::span<const std::uint8_t> bytes;
    std::size_t offset = 0;
};

void readFromMemory(png_structp png, png_bytep data, std::size_t length) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (length > reader->bytes.size() - reader->offset)
        png_error(png, "the file ends early");
    std::memcpy(data, reader->bytes.data() + reader->offset, length);
    reader->offset += length;
}

[[noreturn]] void onLibpngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void onLibpngWarning(png_structp, png_const_charp) {}

// In a function of its own, with nothing to destroy, for libpng's longjmp.
bool libpngReadsInfo(png_structp png, png_infop info, MemoryReader* reader) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    png_set_read_fn(png, reader, readFromMemory);
    png_read_info(png, info);
    return true;
}

// The last text under each of the wanted keys that libpng finds ahead of the
// image data, as a C string as far as its first zero byte; nothing when libpng
// cannot read so far.
std::optional<Texts> libpngTexts(std::span<const std::uint8_t> bytes,
                                 const std::vector<std::string>& keys) {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onLibpngError, onLibpngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        std::fprintf(stderr, "libpng is out of memory\n");
        std::abort();
    }
    MemoryReader reader{bytes};
    std::optional<Texts> texts;
    if (libpngReadsInfo(png, info, &reader)) {
        texts.emplace();
        png_textp found = nullptr;
        int count = 0;
        png_get_text(png, info, &found, &count);
        for (int i = 0; i < count; ++i)
            if (std::find(keys.begin(), keys.end(), found[i].key) != keys.end())
                (*texts)[found[i].key] = found[i].text ? found[i].text : "";
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return texts;
}

std::string describe(const Texts& texts) {
    std::string text;
    for (const auto& [key, value] : texts)
        text += (text.empty() ? "{" : ", ") + key + ": " + quoted(value.substr(0, 100));
    return text + "}";
}

void checkTexts(const Texts& texts, const std::vector<std::string>& keys,
                std::span<const std::uint8_t> bytes) {
    std::size_t total = 0;
    for (const auto& [key, text] : texts) {
        FUZZ_CHECK(std::find(keys.begin(), keys.end(), key) != keys.end(),
                   "a text under the key " + quoted(key) + ", which was not asked for");
        FUZZ_CHECK(text.size() <= kMaxTextBytes,
                   quoted(key) + " has " + std::to_string(text.size()) + " bytes");
        FUZZ_CHECK(text.find('\0') == std::string::npos, quoted(key) + " holds a zero byte");
        total += text.size();
    }
    FUZZ_CHECK(total <= kMaxAllTextBytes, std::to_string(total) + " bytes of texts");

    // The reader refuses what libpng would only warn about, a damaged text
    // under one of the keys say, so only a file both read is compared.
    if (const std::optional<Texts> expected = libpngTexts(bytes, keys))
        FUZZ_CHECK(texts == *expected,
                   "read " + describe(texts) + ", libpng reads " + describe(*expected));
}

std::string describe(const ImageSettings& settings) {
    return quoted(settings.formula) + " " + spirell::fuzz::describe(settings.boxes) + " scale " +
           std::to_string(settings.scale);
}

bool operator==(const ImageSettings& a, const ImageSettings& b) {
    for (const boxes::BoxDescription& box : boxes::kBoxTable)
        if (a.boxes.*box.member != b.boxes.*box.member)
            return false;
    return a.formula == b.formula && a.scale == b.scale;
}

// The settings saved as the window saves them, in a picture of one pixel, and
// read back.
void checkSavedAgain(const ImageSettings& settings, MemoryFile& file) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* memory = ::open_memstream(&buffer, &size);
    FUZZ_CHECK(memory, "open_memstream failed");
    const std::uint8_t pixel[3] = {};
    try {
        writePng(memory, 1, 1, pixel,
                 storedTexts(settings.formula.c_str(), settings, "Vortica Spirell"));
    } catch (const std::exception& error) {
        fail("saving works", describe(settings) + ": " + error.what(), __FILE__, __LINE__);
    }
    std::fclose(memory);
    file.hold({reinterpret_cast<const std::uint8_t*>(buffer), size});
    std::free(buffer);

    ImageSettings again;
    try {
        again = settingsFromTexts(readPngTexts(file.path(), storedKeys()), file.path());
    } catch (const std::exception& error) {
        fail("saved settings read back", describe(settings) + ": " + error.what(), __FILE__,
             __LINE__);
    }
    FUZZ_CHECK(again == settings, describe(settings) + " read back as " + describe(again));
}

void readAsFrom(std::span<const std::uint8_t> bytes) {
    static MemoryFile file;
    static const std::vector<std::string> keys = storedKeys();
    static const drawing::Computing computing = drawing::computingFromEnvironment();

    file.hold(bytes);
    Texts texts;
    if (!succeeds("readPngTexts", [&] { texts = readPngTexts(file.path(), keys); }))
        return;
    checkTexts(texts, keys, bytes);

    ImageSettings settings;
    if (!succeeds("settingsFromTexts", [&] { settings = settingsFromTexts(texts, file.path()); }))
        return;
    FUZZ_CHECK(settings.scale >= 1 && settings.scale <= kMaxScale, describe(settings));
    checkSavedAgain(settings, file);

    if (!isQuickToPlan(settings))
        return;
    ImagePlan plan;
    if (succeeds("planImage", [&] { plan = planImage(settings, computing); }))
        checkPlan(plan, computing, describe(settings));
}

// The bytes with the checksum of every whole chunk after the signature made
// right.
std::vector<std::uint8_t> withRightChecksums(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> fixed(bytes.begin(), bytes.end());
    std::size_t at = 8;
    while (at + 12 <= fixed.size()) {
        const std::uint32_t length = png_get_uint_32(&fixed[at]);
        if (length > fixed.size() - at - 12)
            break;
        const uLong crc = crc32(0, &fixed[at + 4], static_cast<uInt>(length) + 4);
        png_save_uint_32(&fixed[at + 8 + length], static_cast<png_uint_32>(crc));
        at += 12 + std::size_t{length};
    }
    return fixed;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    useEnvironmentLocale();
    const std::span<const std::uint8_t> bytes(data, size);
    readAsFrom(bytes);
    if (size > 8) {
        const std::vector<std::uint8_t> fixed = withRightChecksums(bytes);
        if (!std::equal(fixed.begin(), fixed.end(), bytes.begin()))
            readAsFrom(fixed);
    }
    return 0;
}
