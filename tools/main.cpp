// spirell-render: paints one formula into a PNG file without a window.

#include "ProgramInfo.hpp"
#include "renderer/BandRenderer.hpp"
#include "renderer/CommandLine.hpp"
#include "renderer/ImagePlan.hpp"
#include "renderer/InputError.hpp"
#include "renderer/OutputFile.hpp"
#include "renderer/PngFile.hpp"
#include "renderer/ProgressLine.hpp"
#include "renderer/Settings.hpp"

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <thread>
#include <unistd.h>

using namespace spirell::tool;

namespace {

constexpr int kBadInput = 2;
constexpr int kFailed = 1;

// Errors take exactly one line, even when a box text or a file name holds a
// line feed: control characters are shown as escapes.
int fail(int status, const char* message) {
    std::string line = "spirell-render: ";
    for (const char* c = message; *c; ++c) {
        if (*c == '\n')
            line += "\\n";
        else if (*c == '\t')
            line += "\\t";
        else if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f)
            line += '?';
        else
            line += *c;
    }
    line += '\n';
    std::fputs(line.c_str(), stderr);
    return status;
}

void render(const CommandLine& line) {
    const RenderSettings settings = resolveSettings(line);
    const ImagePlan plan = planImage(settings);

    OutputFile output(line.output);
    PngWriter png(output.stream(), plan.width(), plan.height(),
                  storedTexts(plan.formula->routine, settings));

    const std::uint64_t rowPixels = plan.width();
    ProgressLine progress(stderr, rowPixels * plan.height(), !line.quiet && ::isatty(2));
    progress.update(0);

    BandOptions options;
    options.threads = spirell::defaultComputing().threads;
    try {
        renderRows(
            plan, options, [&](const std::uint8_t* row) { png.writeRow(row); },
            [&](std::uint64_t rows) { progress.update(rows * rowPixels); });
        png.finish();
        output.commit();
    } catch (...) {
        progress.finish(); // the error message gets a line of its own
        throw;
    }
    progress.finish();
}

} // namespace

int main(int argc, char** argv) {
    try {
        const CommandLine line = parseCommandLine({argv + 1, argv + argc});
        if (line.help) {
            std::fputs(usageText().c_str(), stdout);
            return 0;
        }
        if (line.version) {
            std::printf("spirell-render %s\n", spirell::kVersion);
            return 0;
        }
        // --threads wins over SPIRELL_THREADS.
        spirell::setDefaultComputing(spirell::computingFromEnvironment(line.threads));
        render(line);
        return 0;
    } catch (const InputError& error) {
        return fail(kBadInput, error.what());
    } catch (const spirell::ComputingChoiceError& error) {
        return fail(kBadInput, error.what());
    } catch (const std::bad_alloc&) {
        return fail(kFailed, "out of memory");
    } catch (const std::exception& error) {
        return fail(kFailed, error.what());
    }
}
