#include "cli/DeepZoomOutput.hpp"

#include "base/Errors.hpp"
#include "base/SystemMemory.hpp"
#include "base/UserText.hpp"
#include "boxes/BoxTable.hpp"
#include "cli/ProgressLine.hpp"
#include "cli/ResolveSettings.hpp"
#include "files/OutputFile.hpp"
#include "files/OutputFolder.hpp"
#include "image/BandRenderer.hpp"
#include "image/PngFile.hpp"
#include "image/ViewCommand.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace spirell::cli {

using namespace image;

namespace {

// Where the page and OpenSeadragon are, from the program's own folder: the
// same in the build tree and wherever the program is installed.
std::string viewerFolder() {
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        throw base::RenderFailure("cannot find the viewer page: /proc/self/exe cannot be read");
    self[length] = '\0';
    return files::folderOf(self) + "/" SPIRELL_VIEWER_FROM_PROGRAM;
}

std::string readWhole(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         std::fclose);
    if (!file)
        throw base::RenderFailure("cannot read " + base::shown(path) + ": " + std::strerror(errno) +
                                  "; is the program installed whole?");
    std::string text;
    char buffer[65536];
    std::size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        text.append(buffer, read);
    if (std::ferror(file.get()))
        throw base::RenderFailure("cannot read " + base::shown(path));
    return text;
}

// Writes a file inside the hidden folder, which as a whole is named only when complete.
void writeInFolder(const std::string& path, const std::function<void(std::FILE*)>& write) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw base::RenderFailure("cannot write " + base::shown(path) + ": " +
                                  std::strerror(errno));
    try {
        write(file);
    } catch (...) {
        std::fclose(file);
        throw;
    }
    const bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed)
        throw base::RenderFailure("cannot write " + base::shown(path) + ": " +
                                  std::strerror(errno ? errno : EIO));
}

void writeText(files::OutputFile& output, const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), output.stream()) != text.size())
        throw base::RenderFailure("cannot write: " + std::string(std::strerror(errno)));
    output.commit();
}

// A string for a JSON text inside an HTML script element: "<" is escaped, so
// that no text can end the element.
std::string jsonString(const std::string& text) {
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            json += std::string("\\") + c;
        else if (byte < 0x20 || c == '<' || c == '>' || c == '&' || byte == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            json += escape;
        } else
            json += c;
    }
    return json + "\"";
}

// A name as a relative URL: every byte but the unreserved ones percent-encoded.
std::string urlPath(const std::string& name) {
    std::string url;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~')
            url += c;
        else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", byte);
            url += escape;
        }
    }
    return url;
}

// An argument as a POSIX shell reads it back, as Copy view writes them:
// plain, between single quotes, or in $'...' when it holds a control
// character, which must never reach the terminal it is pasted into.
std::string shellWord(const std::string& text) {
    const auto plain = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("+-.,/:=@_%").find(c) != std::string_view::npos;
    };
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; };
    if (!text.empty() && std::all_of(text.begin(), text.end(), plain))
        return text;
    std::string word = std::any_of(text.begin(), text.end(), control) ? "$'" : "'";
    for (const char c : text) {
        if (word[0] == '\'')
            word += c == '\'' ? std::string("'\\''") : std::string(1, c);
        else if (control(c)) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
            word += escape;
        } else
            word += (c == '\'' || c == '\\' ? "\\" : "") + std::string(1, c);
    }
    return word + "'";
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The largest level that fits within this many pixels a side: view.png's picture.
constexpr std::uint32_t kViewPictureSide = 512;

int viewPictureLevel(const DeepZoomLayout& layout) {
    int level = layout.deepestLevel();
    while (level > 0 && (layout.levelWidth(level) > kViewPictureSide ||
                         layout.levelHeight(level) > kViewPictureSide))
        --level;
    return level;
}

} // namespace

DeepZoomNames deepZoomNames(const std::string& dzi) {
    const std::string suffix = ".dzi";
    const auto slash = dzi.rfind('/');
    const std::string last = slash == std::string::npos ? dzi : dzi.substr(slash + 1);
    if (last.size() <= suffix.size() || !last.ends_with(suffix))
        throw base::InputError("--deep-zoom needs a file name ending in \".dzi\", not " +
                               base::quoted(dzi));
    const std::string base = dzi.substr(0, dzi.size() - suffix.size());
    DeepZoomNames names;
    names.dzi = dzi;
    names.files = base + "_files";
    names.filesName = last.substr(0, last.size() - suffix.size()) + "_files";
    names.html = base + ".html";
    names.viewPng = names.files + "/view.png";
    return names;
}

std::string viewCommand(const ImageSettings& settings, const char* caption) {
    std::string line = "spirell-render " + (settings.formulaText.empty()
                                                ? shellWord(caption)
                                                : shellWord("--formula=" + settings.formulaText));
    for (const boxes::BoxDescription& box : boxes::kBoxTable)
        line += " " + shellWord(std::string(box.option) + "=" + settings.boxes.*box.member);
    if (settings.scale != 1)
        line += " --scale=" + std::to_string(settings.scale);
    if (settings.frame)
        line += " --frame=" + frameSizeText(*settings.frame);
    return line + " -o " + shellWord(std::string(caption) + ".png");
}

std::string viewerPage(const std::string& pageTemplate, const ImagePlan& plan,
                       const ImageSettings& settings, const DeepZoomLayout& layout,
                       const std::string& filesName) {
    std::string boxes;
    for (const boxes::BoxDescription& box : boxes::kBoxTable)
        boxes += std::string(boxes.empty() ? "" : ",\n    ") +
                 "{\"option\": " + jsonString(box.option) +
                 ", \"meaning\": " + jsonString(box.meaning) +
                 ", \"text\": " + jsonString(settings.boxes.*box.member) + "}";
    const std::string json =
        "{\n  \"formula\": " + jsonString(plan.formula->caption) +
        ",\n  \"formulaText\": " + jsonString(settings.formulaText) + ",\n  \"boxes\": [\n    " +
        boxes + "\n  ],\n  \"scale\": " + std::to_string(settings.scale) +
        ",\n  \"frame\": " + jsonString(settings.frame ? frameSizeText(*settings.frame) : "") +
        ",\n  \"command\": " + jsonString(viewCommand(settings, plan.formula->caption)) +
        ",\n  \"files\": " + jsonString(urlPath(filesName)) +
        ",\n  \"width\": " + std::to_string(layout.width) +
        ",\n  \"height\": " + std::to_string(layout.height) +
        ",\n  \"tileSize\": " + std::to_string(layout.tileSize) +
        ",\n  \"overlap\": " + std::to_string(layout.overlap) + "\n}";
    std::string page = pageTemplate;
    replaceAll(page, "@FILES@", urlPath(filesName));
    replaceAll(page, "@VIEW_JSON@", json);
    return page;
}

void renderDeepZoom(const CommandLine& line, const drawing::Computing& computing) {
    const DeepZoomNames names = deepZoomNames(line.deepZoom);
    const ImageSettings settings = resolveSettings(line);
    const ImagePlan plan = planImage(settings, computing);

    DeepZoomLayout layout;
    layout.width = plan.width();
    layout.height = plan.height();
    layout.tileSize = line.tileSize.value_or(kDefaultTileSize);
    layout.overlap = line.tileOverlap.value_or(kDefaultTileOverlap);

    // Each level holds a row of its tiles; the levels above the deepest add as
    // much again at most. The bands come on top.
    const std::uint64_t stripRows =
        std::min<std::uint64_t>(layout.tileSize + 2 * layout.overlap, layout.height);
    const std::uint64_t needed =
        2 * stripRows * plan.rowBytes() +
        3 * std::max<std::uint64_t>(kBandBytes, plan.threads * plan.rowBytes());
    if (needed > base::availableMemory())
        throw base::RenderFailure("not enough memory for the pyramid: it needs about " +
                                  base::bytesText(needed) + ", the system can give " +
                                  base::bytesText(base::availableMemory()));

    // The page and OpenSeadragon are read first, so that a program installed
    // without them fails before it computes.
    const std::string viewer = viewerFolder();
    const std::string pageTemplate = readWhole(viewer + "/viewer.html");
    const std::string script = readWhole(viewer + "/openseadragon/openseadragon.min.js");
    const std::string licence = readWhole(viewer + "/openseadragon/LICENSE.txt");

    // Made first, so that a path where nothing can be written is refused at once.
    files::OutputFile page(names.html);
    files::OutputFile dzi(names.dzi);
    files::OutputFolder folder(names.files);
    const std::string root = folder.path() + "/";
    for (int level = 0; level <= layout.deepestLevel(); ++level)
        files::makeFolder(root + std::to_string(level));

    const Compression compression = defaultCompression();
    const int pictureLevel = viewPictureLevel(layout);
    const std::uint32_t pictureWidth = layout.levelWidth(pictureLevel);
    std::vector<std::uint8_t> picture(std::size_t{3} * pictureWidth *
                                      layout.levelHeight(pictureLevel));
    DeepZoomPyramid pyramid(layout, [&](const Tile& tile) {
        writeInFolder(root + tilePath(tile.level, tile.column, tile.row), [&](std::FILE* file) {
            writePng(file, tile.rect.width, tile.rect.height, tile.rgb, {}, compression);
        });
        if (tile.level == pictureLevel)
            for (std::uint32_t y = 0; y < tile.rect.height; ++y)
                std::memcpy(
                    &picture[3 * ((std::size_t{tile.rect.y} + y) * pictureWidth + tile.rect.x)],
                    tile.rgb + std::size_t{3} * tile.rect.width * y,
                    std::size_t{3} * tile.rect.width);
    });

    const std::uint64_t rowPixels = plan.width();
    ProgressLine progress(stderr, rowPixels * plan.height(), !line.quiet && ::isatty(2));
    progress.update(0);
    BandOptions options;
    options.threads = plan.threads;
    try {
        renderRows(
            plan, options, [&](const std::uint8_t* rgb) { pyramid.addRow(rgb); },
            [&](std::uint64_t rows) { progress.update(rows * rowPixels); });
    } catch (...) {
        progress.finish();
        throw;
    }
    progress.finish();
    if (!pyramid.complete())
        throw base::RenderFailure("the pyramid was left incomplete");

    writeInFolder(root + "view.png", [&](std::FILE* file) {
        writePng(file, pictureWidth, layout.levelHeight(pictureLevel), picture.data(),
                 storedTexts(plan.formula->routine, settings), compression);
    });
    files::makeFolder(root + "openseadragon");
    writeInFolder(root + "openseadragon/openseadragon.min.js",
                  [&](std::FILE* file) { std::fwrite(script.data(), 1, script.size(), file); });
    writeInFolder(root + "openseadragon/LICENSE.txt",
                  [&](std::FILE* file) { std::fwrite(licence.data(), 1, licence.size(), file); });

    if (::unlink(names.dzi.c_str()) != 0 && errno != ENOENT)
        throw base::RenderFailure("cannot replace " + base::shown(names.dzi) + ": " +
                                  std::strerror(errno));
    folder.commit();
    writeText(page, viewerPage(pageTemplate, plan, settings, layout, names.filesName));
    writeText(dzi, deepZoomXml(layout));
}

} // namespace spirell::cli
