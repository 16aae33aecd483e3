// The help of the program: an HTML book opened in the desktop's browser.
//
// HelpFolder() finds the help folder as the server always has, with its
// fixed folders mapped to the installed documentation folder
// D = <program folder>/../share/doc/aeserver/:
//   1. HKLM "Software\Quillan\Loomhall\InstallDetails\System Server" opens:
//      D + "1033/Corvane Plantwise/Help", and nothing else is asked;
//   2. else HKLM "SOFTWARE\Veltrocorp" value "CorvaneHelpLocation" (a text
//      of at most 260 bytes), which moves the help anywhere;
//   3. no such value (or an empty one): D; else the value with a "/" after it;
//   4. + "1033/Corvane Plantwise/Help".
// HelpFilePath() is that folder + "/index.html", the book's first page.
// HtmlHelpW(file, HH_DISPLAY_TOPIC, 0) opens `file`; HtmlHelpW(file,
// HH_HELP_CONTEXT, n) opens "context-<n>.html" beside it. A page that does
// not exist, or another command, shows nothing and answers false; else the
// answer is whether the desktop took the page.
//
// Threads: main thread; REQUIRES a QCoreApplication (for the program folder).
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t HH_DISPLAY_TOPIC = 0;
constexpr uint32_t HH_HELP_CONTEXT = 15;

std::string HelpFolder();
std::string HelpFilePath();
bool HtmlHelpW(const std::string& file, uint32_t command, uint32_t data);
