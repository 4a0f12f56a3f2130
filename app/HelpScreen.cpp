// The help screen. Its lines carry the attribute markers that colorPrn turns into colours.
#include "HelpScreen.h"
#include "platform/Commandline.h"

namespace Applications::Commands::Scrivlet {
namespace {

#define H u"\xEFFC\x0FFF\xF000\x0FF0\x0008"
#define P u"\xEFFD\x0FF0\x000F"
#define O u"\xEFFD\x00FF\x0F00"
#define V u"\xEFFD\x00F0\x0F0F"
#define E u"\xEFFE"
#define S12 u"            "
#define S14 u"              "

// The table is laid out as the screen shows it; automatic formatting would split its texts.
// clang-format off
const std::u16string lines[] = {
    H u"USAGE: " P u"scrivletv2 " O u"-m" E u" " V u"<mode>" E u" [" V u"options\x2026" E u"] [" V u"<source file>" E
      u" [" V u"<destination file>" E u"]]",
    O u"-m " E u" " V u"<mode>",
    O u"--mode" E u"=" V u"<mode>",
    S12 u"Specifies the operation that should be performed. The following",
    S12 u"modes are available:",
    S12 u"- " V u"log" E u": writes the system log to a predetermined filename",
    S12 u"- " V u"screenshot" E u": writes a screenshot (or any image file) to a",
    S14 u"predetermined filename",
    S12 u"- " V u"file" E u": copies the provided file to a specified target ",
    S14 u"filename on a determined drive",
    S12 u"- " V u"log-export" E u": copies all log files to a directory on a ",
    S14 u"selectable drive",
    S12 u"- " V u"log-upload" E u": uploads the system log to the Write-Only-Online-",
    S14 u"Storage",
    S12 u"- " V u"file-upload" E u": uploads the file to the Vavaz-Odaz-Aruviz-Erozuda",
    S12 u"- " V u"screenshot-upload" E u": uploads a screenshot to the Write-Only-Online-",
    S14 u"Storage",
    u"",
    O u"<source file>" E,
    S12 u"The source file for modes " V u"screenshot" E u" and " V u"file" E u".",
    O u"<destination file>" E,
    S12 u"The destination filename for mode " V u"file" E u".",
    H u"OPTIONS: " E,
    O u"-h" E,
    O u"--help" E,
    S12 u"This help screen.",
    O u"-s" E,
    O u"--silent" E,
    S12 u"Don't show progress, error or success dialogs.",
    O u"--add-index" E,
    S12 u"Determine a unique variant of the filename by adding a three digit",
    S12 u"index in front of the file extension (or the end if none is given).",
    O u"--date" E u"=" V u"<date>",
    S12 u"Use the specified date (in format YYYYMMDD) instead of the current",
    S12 u"one.",
    O u"--suffix" E u"=" V u"<suffix>",
    S12 u"Add the specified suffix instead of " V u"user" E u". Only applicable to modes",
    S12 V u"log" E u", " V u"log-upload" E u" and " V u"screenshot" E u".",
    O u"--allow-rename" E,
    S12 u"Allow the user to change the filename using a save dialog. Only",
    S12 u"applicable for mode " V u"file" E u".",
    O u"--reuse-name" E,
    S12 u"If a previous request for the specified name had been done during",
    S12 u"this session then use the filename that was previously determined",
    S12 u"for it. Only applicable for mode " V u"log" E u" and " V u"screenshot" E u".",
    O u"--show-progress" E,
    S12 u"Show progress and error dialogs even if " O u"-s" E u"/" O u"--silent" E u" had been",
    S12 u"specified.",
    O u"--show-success" E,
    S12 u"Show success and error dialogs even if " O u"-s" E u"/" O u"--silent" E u" had been",
    S12 u"specified.",
    O u"--no-compress" E,
    S12 u"Don't compress the log file. Only applicable for mode " V u"log" E u".",
    O u"--dont-force-boot" E,
    S12 u"Don't force the usage of the boot drive even if it is available,",
    S12 u"but let the user decide the drive. Only applicable for mode " V u"file" E u".",
};
// clang-format on

// Lines 1, 20 and 22 are followed by a blank line.
bool blankAfter(size_t index) {
    return index == 0 || index == 19 || index == 21;
}

} // namespace

const std::u16string* helpLines(size_t& count) {
    count = sizeof lines / sizeof lines[0];
    return lines;
}

void printHelpScreen() {
    if (!Libraries::Commandline::initCommandline(0, {}, {}, nullptr, nullptr)) return;
    size_t count = 0;
    const std::u16string* all = helpLines(count);
    for (size_t i = 0; i < count; i++) {
        Libraries::Commandline::CharPrinter& out = Libraries::Commandline::colorPrn(all[i]);
        out.endl();
        if (blankAfter(i)) out.endl();
    }
}

} // namespace Applications::Commands::Scrivlet
