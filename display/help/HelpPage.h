// The texts that ship inside the program: the help page that the help window
// shows, and the About box.
#pragma once

#include <QString>

namespace audimera {

namespace HelpPage {

inline constexpr const char* ProgramName = "Audimera";
inline constexpr const char* Description =
    "Measures the frequency response of an audio chain with a PC sound card.";
inline constexpr const char* AuthorLine = "The Audimera developers";

// The help page: one self-contained HTML document for QTextBrowser, with
// headings, paragraphs, lists and tables only. No scripts, images, style
// sheets or addresses outside the page; every link points at an anchor of
// the page itself.
QString html();

// The program's version, the project's one (common/BuildInfo.h).
QString version();

// The About box: its title ("About Audimera") and its text, in lines:
// name and version, the one-line description, the author line.
QString aboutTitle();
QString aboutText();

} // namespace HelpPage

} // namespace audimera
