#include "app/StartupOptions.hpp"

#include "ProgramInfo.hpp"
#include "app/Messages.hpp"

#include <QGuiApplication>

#include <algorithm>
#include <string_view>

namespace spirell::app {

StartupRequest startupRequest(int argc, const char* const argv[]) {
    StartupRequest request = StartupRequest::OpenWindow;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h")
            return StartupRequest::ShowHelp;
        if (argument == "--version")
            request = StartupRequest::ShowVersion;
    }
    return request;
}

std::string startupHelpText() {
    return R"(Usage: spirell [PICTURE.png]
       spirell --help | --version

Opens the Vortica Spirell window, which paints mathematical colour patterns.
Given a picture saved by the window or by spirell-render, it draws the view
the picture keeps.

Options:
  -h, --help     show this text
  --version      show the version

Environment:
  SPIRELL_SIMD=scalar|sse2|avx|avx512
                 instruction set (default: the widest the processor offers)
  SPIRELL_THREADS=N
                 computing threads, 1 to 1024 (default: one per core)

Exit status: 0 when the window is closed, 2 when SPIRELL_SIMD or
SPIRELL_THREADS cannot be used.

spirell-render paints a formula into a PNG file; see spirell-render --help.
)";
}

std::string startupPicture(const std::vector<std::string>& arguments) {
    for (std::size_t i = 1; i < arguments.size(); ++i)
        if (!arguments[i].empty() && arguments[i][0] != '-')
            return arguments[i];
    return {};
}

double fittingScale(int availableWidth, int availableHeight, int windowWidth, int windowHeight) {
    if (availableWidth <= 0 || availableHeight <= 0 || windowWidth <= 0 || windowHeight <= 0)
        return 1;
    return std::min(
        {1.0, double(availableWidth) / windowWidth, double(availableHeight) / windowHeight});
}

std::string startupVersionText() {
    return std::string("spirell ") + kVersion + "\n";
}

void nameTheApplication() {
    // Without an organisation, Qt keeps the settings under "Unknown Organization".
    QCoreApplication::setOrganizationName(kProgramName);
    QCoreApplication::setApplicationName(kProgramName);
    QCoreApplication::setApplicationVersion(kVersion);
    // Desktops match the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(kApplicationId);
}

} // namespace spirell::app
