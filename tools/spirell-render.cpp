// spirell-render: paints one formula into a PNG file without a window.

#include "ProgramInfo.hpp"
#include "base/Errors.hpp"
#include "base/UserText.hpp"
#include "cli/Animate.hpp"
#include "cli/CommandLine.hpp"
#include "cli/DeepZoomOutput.hpp"
#include "cli/ProgressLine.hpp"
#include "cli/ResolveSettings.hpp"
#include "drawing/Computing.hpp"
#include "files/OutputFile.hpp"
#include "image/BandRenderer.hpp"
#include "image/ImagePlan.hpp"
#include "image/ImageSettings.hpp"
#include "image/PosterParts.hpp"
#include "video/VideoErrors.hpp"

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <unistd.h>

using namespace spirell;
using namespace spirell::image;
using namespace spirell::cli;

namespace {

constexpr int kBadInput = 2;
constexpr int kFailed = 1;

// Errors take exactly one line. The user's texts in a message are already
// shortened and escaped; escaping the whole line again catches anything else,
// such as a message from a library.
int fail(int status, const char* message) {
    const std::string line = "spirell-render: " + base::escaped(message) + "\n";
    std::fputs(line.c_str(), stderr);
    return status;
}

void render(const CommandLine& line, const drawing::Computing& computing) {
    const ImageSettings settings = resolveSettings(line);
    const ImagePlan plan = planImage(settings, computing);
    const std::uint64_t height = line.part ? partRowsOf(plan, *line.part).count : plan.height();

    files::OutputFile output(line.output);
    const std::uint64_t rowPixels = plan.width();
    ProgressLine progress(stderr, rowPixels * height, !line.quiet && ::isatty(2));
    progress.update(0);

    BandOptions options;
    options.threads = plan.threads;
    const TextChunks texts = storedTexts(plan.formula->routine, settings);
    const ProgressSink rowsDone = [&](std::uint64_t rows) { progress.update(rows * rowPixels); };
    try {
        if (line.part)
            renderPart(plan, texts, *line.part, output.stream(), options, rowsDone);
        else
            renderPng(plan, texts, output.stream(), options, rowsDone);
        output.commit();
    } catch (...) {
        progress.finish(); // the error message gets a line of its own
        throw;
    }
    progress.finish();
}

// The parts are checked before the output is opened; a part found damaged
// later leaves nothing, as any failure does.
void join(const CommandLine& line) {
    const JoinPlan plan = planJoin(line.parts);
    files::OutputFile output(line.output);
    writeJoin(plan, output.stream());
    output.commit();
}

} // namespace

int main(int argc, char** argv) {
    files::installSignalCleanup();
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
        const drawing::Computing computing = drawing::computingFromEnvironment(line.threads);
        if (line.join)
            join(line);
        else if (line.animate)
            animate(line, computing);
        else if (!line.deepZoom.empty())
            renderDeepZoom(line, computing);
        else
            render(line, computing);
        return 0;
    } catch (const base::InputError& error) {
        return fail(kBadInput, error.what());
    } catch (const drawing::ComputingChoiceError& error) {
        return fail(kBadInput, error.what());
    } catch (const video::UnsupportedVideo& error) {
        return fail(kBadInput, error.what());
    } catch (const std::bad_alloc&) {
        return fail(kFailed, "out of memory");
    } catch (const std::exception& error) {
        return fail(kFailed, error.what());
    }
}
