// The terminal backend: real dialogs on the controlling terminal (/dev/tty).
#include "ProgressLine.h"
#include "Signals.h"
#include "UiBackend.h"
#include "VisibleText.h"
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace Services::Skarnel::Client;

namespace Ui {
namespace {

// Real dialogs on the controlling terminal.
class Terminal : public Backend {
  public:
    explicit Terminal(const nlohmann::json& settings) : Backend(settings) {
        m_tty = std::fopen("/dev/tty", "r+");
        // Unbuffered, so that what poll() says is waiting is all there is.
        if (m_tty) std::setvbuf(m_tty, nullptr, _IONBF, 0);
    }
    ~Terminal() override {
        quiet(false);
        if (m_tty) std::fclose(m_tty);
    }
    const char* name() const override { return "terminal"; }
    bool attached() const { return m_tty != nullptr; }

    unsigned show(unsigned severity, const std::string& title, const std::string& text,
                  const std::string& underneath, unsigned buttons, unsigned defaultButton) override {
        if (!m_tty) return buttons == 3 ? 2 : defaultButton;
        endBar();
        std::fprintf(m_tty, "\r\n[%s] %s\r\n", severityName(severity), visibleText(title, false).c_str());
        say(text + underneath);
        if (buttons != 3) {
            ask("Press Enter to continue.");
            return defaultButton;
        }
        for (;;) {
            std::string answer = ask(severity == 3 ? "Continue? [Y/n] " : "Yes or no? [Y/n] ");
            // Ctrl-D closes the question as no.
            if (m_endOfInput) return 2;
            if (answer.empty() || answer == "y" || answer == "Y" || answer == "yes") return 1;
            if (answer == "n" || answer == "N" || answer == "no" || Signals::received()) return 2;
            say("Answer y or n.");
        }
    }
    void waitShown(unsigned, const std::string& title, const std::string& text) override {
        if (m_tty) say(title + ": " + text);
    }
    // While a progress line is up, keys are read as commands and never echoed into it.
    void progressCreated(unsigned, const std::string& title, const std::string&, uint64_t) override {
        if (!m_tty) return;
        endBar();
        // Quiet before the line that invites keys, so that none typed after it is echoed.
        quiet(true);
        say(title + " (press c to cancel)");
        m_started = Clock::now();
        m_lastDraw = {};
    }
    void progressText(unsigned, std::string_view text) override { m_text = visibleText(text, false); }
    void progressValue(unsigned, uint64_t value, uint64_t maximum) override {
        if (!m_tty) return;
        int percent = maximum ? static_cast<int>(value * 100 / maximum) : 0;
        // An export of many small files updates the bar for every file; drawing each update would
        // make the terminal the slowest part of the work. A new percentage is always drawn.
        if (percent == m_drawnPercent && !due(m_lastDraw, redrawInterval)) return;
        m_drawnPercent = percent;
        double elapsed = std::chrono::duration<double>(Clock::now() - m_started).count();
        // The width is asked at every drawing, so the line follows a resized terminal.
        std::string line = progressLine({value, maximum, elapsed, m_text}, columns() - 1);
        std::fprintf(m_tty, "\r%s\x1b[K", line.c_str());
        m_barShown = true;
    }
    bool progressCancelled(unsigned, unsigned) override {
        // An interruption cancels too (the dialog service says so); what the run says next
        // ("User aborted") gets a line of its own as after the cancel key.
        if (m_tty && Signals::received()) endBar();
        if (!m_tty || !due(m_lastKeyCheck, keyCheckInterval)) return false;
        bool cancel = false;
        for (int c; (c = readKey(0)) >= 0;) {
            // Esc alone cancels; an arrow or function key, which begins with Esc, does not.
            if (c == escapeKey && readKey(escapeSequenceWaitMs) >= 0) {
                skipEscapeSequence();
                continue;
            }
            cancel = cancel || c == 'c' || c == 'q' || c == escapeKey;
        }
        // What the run says next ("User aborted") gets a line of its own.
        if (cancel) endBar();
        return cancel;
    }
    void progressClosed(unsigned) override {
        if (!m_tty) return;
        endBar();
        quiet(false);
    }

    DriveChoice select(Parameters& parameters, const std::vector<Drive>& offered,
                       const DriveWatch& watch) override {
        DriveChoice choice;
        if (!m_tty) return choice;
        endBar();
        say("");
        say(stdString(parameters.title()));
        say(stdString(parameters.prompt()));
        editElements(parameters);
        // Ctrl-D at any of the dialog's prompts closes it without a choice.
        if (m_endOfInput) return choice;
        std::vector<Drive> drives = offered;
        listDrives(drives);
        size_t index = 0;
        for (;;) {
            // The list follows the drives while the question waits.
            auto changed = [&] {
                auto now = watch ? watch() : std::nullopt;
                if (now) drives = std::move(*now);
                return now.has_value();
            };
            std::optional<std::string> answer = ask("Drive number (Enter to cancel): ", changed);
            if (!answer) {
                say("");
                say("The drives have changed:");
                listDrives(drives);
                continue;
            }
            std::string line = *answer;
            if (line.empty()) return choice;
            index = number(line);
            if (index >= 1 && index <= drives.size()) break;
            say("There is no drive \"" + line + "\": type a number from 1 to " +
                std::to_string(drives.size()) + ", or Enter to cancel.");
        }
        choice.chosen = true;
        choice.drive = drives[index - 1].node;
        if (parameters.flags() & Flags::AllowRename) {
            std::string name = stdString(parameters.defaultName());
            for (;;) {
                std::string typed = ask("File name [" + name + "]: ");
                if (m_endOfInput) return {};
                choice.name = typed.empty() ? name : typed;
                if (isFileName(choice.name) || Signals::received()) break;
                say(fileNameRule);
            }
        }
        return choice;
    }

    std::string anotherName(const std::string& taken) override {
        if (!m_tty) return {};
        for (;;) {
            say("A file named \"" + taken + "\" exists there already.");
            std::string typed = ask("Another file name (Enter to cancel): ");
            if (typed.empty() || isFileName(typed)) return typed;
            say(fileNameRule);
        }
    }

  private:
    static constexpr char escapeKey = 27;
    // A terminal sends a key's whole escape sequence at once; an Esc with nothing after it for this
    // long was the Esc key itself.
    static constexpr int escapeSequenceWaitMs = 50;

    // The next byte typed, waiting at most `waitMs`; -1 when none came.
    int readKey(int waitMs) {
        struct pollfd p {
            fileno(m_tty), POLLIN, 0
        };
        unsigned char c = 0;
        if (poll(&p, 1, waitMs) <= 0 || ::read(p.fd, &c, 1) != 1) return -1;
        return c;
    }
    // The rest of an escape sequence whose first byte after Esc was read ("[A", "OP", "[15~"): its
    // parameters up to the final byte, which lies between '@' and '~'.
    void skipEscapeSequence() {
        for (int c; (c = readKey(escapeSequenceWaitMs)) >= 0;)
            if (c >= '@' && c <= '~') return;
    }
    // What a typed name must be, said when it is not (see isFileName).
    static constexpr const char* fileNameRule =
        "A file name only: no \"/\", not \".\" or \"..\", and at most 255 bytes long.";
    static constexpr unsigned fallbackColumns = 80;

    unsigned columns() const {
        struct winsize size {};
        if (ioctl(fileno(m_tty), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
        return fallbackColumns;
    }
    // Keys typed while the run works are neither echoed nor left for the next question.
    void quiet(bool on) {
        if (!m_tty) return;
        int fd = fileno(m_tty);
        if (on && !m_quiet) {
            if (tcgetattr(fd, &m_saved) != 0) return;
            struct termios raw = m_saved;
            raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
            raw.c_cc[VMIN] = 0;
            raw.c_cc[VTIME] = 0;
            tcsetattr(fd, TCSANOW, &raw);
            Signals::restoreTerminalOnAbruptEnd(fd, &m_saved);
            m_quiet = true;
        } else if (!on && m_quiet) {
            tcsetattr(fd, TCSANOW, &m_saved);
            Signals::restoreTerminalOnAbruptEnd(fd, nullptr);
            m_quiet = false;
        }
    }
    void endBar() {
        if (!m_barShown) return;
        std::fputs("\r\n", m_tty);
        m_barShown = false;
        m_drawnPercent = -1;
    }
    // Every text shown goes through here, its control characters made visible: names in it
    // (of files, drives, labels) are anybody's.
    void say(const std::string& text) {
        std::string shown = visibleText(text);
        for (size_t at; (at = shown.find('\n')) != std::string::npos;) {
            std::fprintf(m_tty, "%s\r\n", shown.substr(0, at).c_str());
            shown.erase(0, at + 1);
        }
        std::fprintf(m_tty, "%s\r\n", shown.c_str());
    }
    void listDrives(const std::vector<Drive>& drives) {
        for (size_t i = 0; i < drives.size(); i++)
            say("  " + std::to_string(i + 1) + ") " + drives[i].label + "  (" + drives[i].mountPoint +
                (drives[i].readOnly ? ", read-only" : "") + ")");
    }
    // A question: what was typed before it was asked is dropped, so that it answers nothing.
    std::string ask(const std::string& question) { return ask(question, {}).value_or(""); }
    // The same, giving up (nothing) when `changed` says, while waiting, that the question is out of date.
    // A question asked while a progress line is up (a copy that failed) is typed, echoed and ended by
    // Enter like any other; the keys of the work that goes on after it are quiet again.
    std::optional<std::string> ask(const std::string& question, const std::function<bool()>& changed) {
        bool duringProgress = m_quiet;
        quiet(false);
        tcflush(fileno(m_tty), TCIFLUSH);
        std::fputs(visibleText(question).c_str(), m_tty);
        m_endOfInput = false;
        std::optional<std::string> answer = readLine(changed);
        if (duringProgress) quiet(true);
        return answer;
    }
    // The whole line as a number from 1 up, or 0.
    static size_t number(const std::string& line) {
        if (line.empty() || line.find_first_not_of("0123456789") != std::string::npos || line.size() > 9)
            return 0;
        return std::stoul(line);
    }

    // A line typed on the terminal; an empty answer when an interrupting signal came while waiting,
    // which every prompt takes as "no choice"; nothing when `changed` said the question is out of date.
    std::optional<std::string> readLine(const std::function<bool()>& changed) {
        constexpr int signalCheckMs = 100;
        constexpr int changeCheckEvery = 5; // half a second
        struct pollfd p {
            fileno(m_tty), POLLIN, 0
        };
        for (int waited = 1;; waited++) {
            if (Signals::received()) return "";
            int ready = poll(&p, 1, signalCheckMs);
            if (ready > 0) break;
            if (ready < 0 && errno != EINTR) return "";
            if (changed && waited % changeCheckEvery == 0 && changed()) return std::nullopt;
        }
        char buffer[1024];
        if (!std::fgets(buffer, sizeof buffer, m_tty)) {
            // Ctrl-D on an empty line: the end of input, which a prompt takes as closing its dialog.
            m_endOfInput = std::feof(m_tty) != 0;
            std::clearerr(m_tty);
            say("");
            return "";
        }
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        return line;
    }

    // Text wrapped at word boundaries to the terminal's width, each line indented.
    void wrapped(const std::string& text, const std::string& indent) {
        size_t width = columns() > indent.size() + 20 ? columns() - indent.size() - 1 : 20;
        std::string line;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find(' ', start);
            if (end == std::string::npos) end = text.size();
            std::string word = text.substr(start, end - start);
            if (!line.empty() && line.size() + 1 + word.size() > width) {
                say(indent + line);
                line.clear();
            }
            line += (line.empty() ? "" : " ") + word;
            start = end + 1;
        }
        if (!line.empty()) say(indent + line);
    }

    // The export dialog's elements: only what can be changed is numbered; the drop-down's rows are
    // listed. "N" toggles row N, "d N" chooses period N, Enter ends.
    void editElements(Parameters& parameters) {
        std::vector<Elements::Element*> all;
        collectElements(parameters.elements(), all);
        if (all.empty()) return;
        Elements::DropDown* periods = nullptr;
        for (;;) {
            std::vector<Elements::Element*> numbered;
            for (Elements::Element* e : all)
                listElement(e, numbered, periods);
            std::string question = "Toggle a number";
            if (periods)
                question += ", 'd N' for the period (1-" + std::to_string(periods->itemCount()) + ")";
            std::string line = ask(question + ", Enter when done: ");
            if (line.empty()) return;
            if (line[0] == 'd' && periods) {
                size_t row = number(line.substr(line.find_first_not_of("d ") == std::string::npos
                                                    ? line.size()
                                                    : line.find_first_not_of("d ")));
                if (row >= 1 && row <= periods->itemCount())
                    periods->select(static_cast<long>(row) - 1);
                else
                    say("There is no period \"" + line.substr(1) + "\": type d and a number from 1 to " +
                        std::to_string(periods->itemCount()) + ".");
                continue;
            }
            size_t n = number(line);
            if (n < 1 || n > numbered.size()) {
                say("There is no row \"" + line + "\": type a number from 1 to " +
                    std::to_string(numbered.size()) + (periods ? ", d and a period" : "") + ", or Enter.");
                continue;
            }
            if (auto* c = dynamic_cast<Elements::CheckBox*>(numbered[n - 1])) c->setChecked(!c->checked());
            if (auto* g = dynamic_cast<Elements::GroupBox*>(numbered[n - 1])) g->setChecked(!g->checked());
        }
    }

    void listElement(Elements::Element* e, std::vector<Elements::Element*>& numbered,
                     Elements::DropDown*& periods) {
        std::string text = stdString(e->text());
        auto* box = dynamic_cast<Elements::CheckBox*>(e);
        auto* group = dynamic_cast<Elements::GroupBox*>(e);
        auto* list = dynamic_cast<Elements::DropDown*>(e);
        bool changeable = e->enabled() && (box || (group && group->checkable()));
        std::string mark = box                           ? (box->checked() ? "[x] " : "[ ] ")
                           : group && group->checkable() ? (group->checked() ? "[x] " : "[ ] ")
                                                         : "";
        if (changeable) {
            numbered.push_back(e);
            char number[8];
            std::snprintf(number, sizeof number, "  %2zu ", numbered.size());
            say(number + mark + text);
        } else if (list) {
            periods = list;
            std::string rows;
            for (size_t i = 0; i < list->itemCount(); i++)
                rows += (i ? "  " : "") + std::to_string(i + 1) + ") " + stdString(list->itemText(i)) +
                        (static_cast<long>(i) == list->selectedIndex() ? " [chosen]" : "");
            wrapped("Periods: " + rows, "      ");
            return;
        } else {
            say("     " + mark + text + (e->enabled() ? "" : " (unavailable)"));
        }
        if (e->hint()) wrapped(stdString(e->hint()), "        ");
        // The one choice here that deletes something, said in plain words beside it.
        if (group && group->checkable())
            wrapped(std::string(
                        "When this is checked, the files older than the chosen period are deleted from the "
                        "boot drive after the export") +
                        (group->checked()
                             ? " (checked now: type " + std::to_string(numbered.size()) + " to keep them)."
                             : "."),
                    "        ");
    }

    using Clock = std::chrono::steady_clock;
    static constexpr auto redrawInterval = std::chrono::milliseconds(100);
    static constexpr auto keyCheckInterval = std::chrono::milliseconds(50);
    // Whether `interval` has passed since `last`, which then becomes now.
    static bool due(Clock::time_point& last, Clock::duration interval) {
        Clock::time_point now = Clock::now();
        if (now - last < interval) return false;
        last = now;
        return true;
    }

    FILE* m_tty = nullptr;
    std::string m_text;
    int m_drawnPercent = -1;
    bool m_barShown = false;
    bool m_quiet = false;
    bool m_endOfInput = false; // the last prompt was answered with Ctrl-D
    struct termios m_saved {};
    Clock::time_point m_started{};
    Clock::time_point m_lastDraw{};
    Clock::time_point m_lastKeyCheck{};
};

} // namespace

std::unique_ptr<Backend> makeTerminal(const nlohmann::json& settings) {
    auto terminal = std::make_unique<Terminal>(settings);
    if (!terminal->attached()) return {};
    return terminal;
}

} // namespace Ui
