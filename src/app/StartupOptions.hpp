#pragma once

#include <string>

namespace spirell::app {

// What the command line asks the window program to do.
enum class StartupRequest { OpenWindow, ShowHelp, ShowVersion };

// Reads the arguments after the program name. --help (or -h) wins over
// --version; anything else is left to Qt, which takes its own options such
// as -platform, so the window opens.
StartupRequest startupRequest(int argc, const char* const argv[]);

std::string startupHelpText();

// "spirell 3.2014" and a line feed.
std::string startupVersionText();

// Names the organisation, the application, its version and its desktop entry
// for Qt, once the application object exists. The names place the settings:
// ~/.config/Vortica Spirell/Vortica Spirell.conf on Linux.
void nameTheApplication();

} // namespace spirell::app
