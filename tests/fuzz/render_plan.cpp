// spirell-render's command line and image plan. Each line of the input is one
// argument after the program name. The arguments are parsed and the settings
// planned as the renderer does (without --from, which reads a file, --animate,
// which reads keyframes, and --help and --version, which plan nothing); a bad
// request may fail only with InputError. A plan must keep to the pixel limits,
// and for a small image its rows, at any scale and in any frame, must hold at
// every plain pixel of the view's picture that they show the colour the
// window's drawing frame gives it.
#include "FuzzSupport.hpp"
#include "PlanChecks.hpp"

#include "cli/CommandLine.hpp"
#include "cli/ResolveSettings.hpp"

using namespace spirell;
using namespace spirell::base;
using namespace spirell::drawing;
using namespace spirell::cli;
using namespace spirell::fuzz;
using namespace spirell::image;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    useEnvironmentLocale();
    const std::vector<std::string_view> parts = lines(data, size);
    const std::vector<std::string> arguments(parts.begin(), parts.end());
    std::string about = "spirell-render";
    for (const std::string& argument : arguments)
        about += " " + quoted(argument);

    try {
        CommandLine line;
        expectOnlyInputError(about, [&] { line = parseCommandLine(arguments); });
        // Files to read (a formula file, standard input, parts) are not the fuzzer's.
        if (line.help || line.version || !line.from.empty() || line.animate || line.join ||
            line.formulaFile)
            return 0;
        FUZZ_CHECK(!line.output.empty() && (line.formula || line.formulaText || line.randomSeed),
                   about);
        const ImageSettings settings = resolveSettings(line);
        if (!isQuickToPlan(settings))
            return 0;
        const Computing computing = computingFromEnvironment();
        ImagePlan plan;
        expectOnlyInputError(about, [&] { plan = planImage(settings, computing); });
        checkPlan(plan, computing, about);
    } catch (const InputError&) {
    }
    return 0;
}
