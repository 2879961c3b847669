#pragma once

#include <string>
#include <vector>

namespace spirell::app {

// What the command line asks the window program to do.
enum class StartupRequest { OpenWindow, ShowHelp, ShowVersion };

// Reads the arguments after the program name. --help (or -h) wins over
// --version; anything else is left to Qt, which takes its own options such
// as -platform, so the window opens.
StartupRequest startupRequest(int argc, const char* const argv[]);

std::string startupHelpText();

// The picture to open at start: the first argument left after Qt took its own
// options that is not an option itself, or empty.
std::string startupPicture(const std::vector<std::string>& arguments);

// How much the whole window must shrink to fit into the screen's available
// area: 1 where it fits, less where it does not.
double fittingScale(int availableWidth, int availableHeight, int windowWidth, int windowHeight);

// "spirell 3.2014" and a line feed.
std::string startupVersionText();

// Names the organisation, the application, its version and its desktop entry
// for Qt, once the application object exists. The names place the settings:
// ~/.config/Vortica Spirell/Vortica Spirell.conf on Linux.
void nameTheApplication();

} // namespace spirell::app
