#include "Host.h"
#include "HostFilesystem.h"
#include "ProgressLine.h"
#include "Signals.h"
#include "UiBackend.h"
#include "VisibleText.h"
#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using nlohmann::json;
using namespace Services::Skarnel::Client;

namespace Ui {

unsigned Backend::type() const {
    return Host::config().ui.value("type", defaultType());
}

namespace {

void collectElements(const std::vector<Ref<Elements::Element>>& elements,
                     std::vector<Elements::Element*>& out) {
    for (const Ref<Elements::Element>& e : elements) {
        out.push_back(e.get());
        if (auto* g = dynamic_cast<Elements::GroupBox*>(e.get())) collectElements(g->children(), out);
    }
}

const char* severityName(unsigned severity) {
    static const char* names[] = {"", "INFO", "QUESTION", "FAILED", "ERROR"};
    return names[severity < 5 ? severity : 0];
}

// No person present: messages are acknowledged, questions answered no, and the drive dialog takes
// the configured default drive or reports that it was closed. What a dialog would have said goes to
// standard error, so that whoever runs the tool unattended still learns where a file went or why it
// did not.
class Headless : public Backend {
  public:
    const char* name() const override { return "headless"; }
    unsigned show(unsigned severity, const std::string& title, const std::string& text, unsigned buttons,
                  unsigned) override {
        std::string body;
        for (char c : visibleText(text))
            body += c == '\n' ? std::string("\n  ") : std::string(1, c);
        std::fprintf(stderr, "scrivletv2: [%s] %s: %s%s\n", severityName(severity),
                     visibleText(title, false).c_str(), body.c_str(), buttons == 3 ? " (answered no)" : "");
        return buttons == 3 ? 2 : buttons;
    }
    // The result a script wants on standard output: the upload's tag alone, or the host path of
    // each file saved, one per line (names as they are: this is data, not a message).
    void results(const Host::RunResults& results) override {
        if (!results.tag.empty()) {
            std::printf("%s\n", results.tag.c_str());
        } else {
            for (const std::string& path : results.files)
                std::printf("%s\n", path.c_str());
        }
        std::fflush(stdout);
    }
    DriveChoice select(Parameters& parameters, const std::vector<Drive>&, const DriveWatch&) override {
        DriveChoice choice;
        std::string drive = Host::config().ui.value("defaultDrive", "");
        if (drive.empty()) return choice;
        choice.chosen = true;
        choice.drive = drive;
        if (!parameters.elements().empty()) chooseExport(parameters, drive);
        return choice;
    }
    void progressClosed(unsigned) override {
        if (!m_reportRemovals) return;
        m_reportRemovals = false;
        std::fprintf(stderr, "scrivletv2: the clearing removed %lu old file(s)\n", Host::removedFileCount());
    }

  private:
    // Nobody is there to confirm that old files may go: the clearing stays off unless the host
    // configuration says otherwise, and what was chosen is said.
    void chooseExport(Parameters& parameters, const std::string& drive) {
        bool clearing = Host::config().ui.value("headlessClearing", false);
        std::string categories, period;
        std::vector<Elements::Element*> all;
        collectElements(parameters.elements(), all);
        for (Elements::Element* e : all) {
            if (auto* group = dynamic_cast<Elements::GroupBox*>(e); group && group->checkable())
                group->setChecked(group->checked() && clearing);
            if (auto* box = dynamic_cast<Elements::CheckBox*>(e); box && box->checked() && box->enabled())
                categories += (categories.empty() ? "" : ", ") + text(box->text());
            if (auto* list = dynamic_cast<Elements::DropDown*>(e);
                list && list->selectedIndex() >= 0 &&
                static_cast<size_t>(list->selectedIndex()) < list->itemCount())
                period = text(list->itemText(static_cast<size_t>(list->selectedIndex())));
        }
        bool clearingOn = false;
        for (Elements::Element* e : all)
            if (auto* group = dynamic_cast<Elements::GroupBox*>(e); group && group->checkable())
                clearingOn = clearingOn || group->checked();
        std::string clearingText = clearingOn ? "clearing files older than " + period
                                              : "no clearing of old files (ui.headlessClearing is not set)";
        std::fprintf(stderr, "scrivletv2: exporting %s to %s; %s\n",
                     categories.empty() ? "nothing" : visibleText(categories).c_str(),
                     visibleText(drive).c_str(), visibleText(clearingText).c_str());
        m_reportRemovals = clearingOn;
    }
    static std::string text(const Ref<String>& s) { return s ? s->str() : std::string(); }
    bool m_reportRemovals = false;
};

void applyStates(const std::vector<Ref<Elements::Element>>& elements, const json& states) {
    if (!states.is_object()) return;
    for (const Ref<Elements::Element>& e : elements) {
        const json state = states.value(e->id() ? e->id()->str() : "", json());
        // {"checked": b} and {"selected": n}, or the bare value.
        auto field = [&](const char* key) { return state.is_object() ? state.value(key, json()) : json(); };
        if (auto* group = dynamic_cast<Elements::GroupBox*>(e.get())) {
            if (field("checked").is_boolean()) group->setChecked(field("checked").get<bool>());
            applyStates(group->children(), states);
        } else if (auto* box = dynamic_cast<Elements::CheckBox*>(e.get())) {
            if (state.is_boolean()) box->setChecked(state.get<bool>());
            if (field("checked").is_boolean()) box->setChecked(field("checked").get<bool>());
        } else if (auto* list = dynamic_cast<Elements::DropDown*>(e.get())) {
            if (state.is_number_integer()) list->select(state.get<long>());
            if (field("selected").is_number_integer()) list->select(field("selected").get<long>());
        }
    }
}

// Answers from a script file (see docs/hosted-platform.md): one queue for questions and messages,
// one for drive dialogs, and the cancel queries that answer yes.
class Script : public Backend {
  public:
    explicit Script(const std::string& path) {
        m_script = Host::readJsonFile(path, "UI script").value_or(json::object());
        if (!m_script.is_object()) m_script = json::object();
    }
    const char* name() const override { return "script"; }
    // The transcript keeps the texts exactly as the program gave them.
    bool showsResults() const override { return false; }
    // Scripts stand in for the graphical dialog service unless they say otherwise.
    unsigned defaultType() const override { return graphicalType; }
    unsigned type() const override {
        auto found = m_script.find("type");
        return found != m_script.end() ? Host::parseNumber(*found, Backend::type()) : Backend::type();
    }
    // Only dialogs that offer a choice take an answer; a plain message is acknowledged.
    unsigned show(unsigned, const std::string&, const std::string&, unsigned buttons,
                  unsigned defaultButton) override {
        if (buttons == 0x20) return defaultButton;
        const json& answers = list("answers");
        if (m_nextAnswer < answers.size()) return Host::parseNumber(answers[m_nextAnswer++], defaultButton);
        return buttons == 3 ? 2 : defaultButton;
    }
    bool progressCancelled(unsigned id, unsigned query) override {
        for (const json& rule : list("cancel")) {
            if (!rule.is_object()) continue;
            if (Host::parseNumber(rule.value("progress", json(1)), 0) == id &&
                query >= Host::parseNumber(rule.value("query", json(1)), 1))
                return true;
        }
        return false;
    }
    DriveChoice select(Parameters& parameters, const std::vector<Drive>&, const DriveWatch&) override {
        DriveChoice choice;
        const json& selects = list("select");
        if (m_nextSelect >= selects.size()) return choice;
        const json answer = selects[m_nextSelect++];
        if (!answer.is_object()) {
            warn("a \"select\" entry is not an object");
            return choice;
        }
        if (answer.contains("error")) {
            choice.error = Host::parseNumber(answer["error"], Errors::DialogClosed);
            return choice;
        }
        applyStates(parameters.elements(), answer.value("elements", json::object()));
        choice.chosen = true;
        choice.drive = text(answer, "drive");
        choice.path = text(answer, "path");
        choice.name = text(answer, "name");
        return choice;
    }

  private:
    // A script of the wrong shape answers as if the part in question were absent, and says so.
    void warn(const char* what) {
        if (!m_warned) std::fprintf(stderr, "scrivletv2: UI script: %s; answering as without it\n", what);
        m_warned = true;
    }
    // Asked on every progress update, so the list is lent, not copied.
    const json& list(const char* key) {
        static const json none = json::array();
        auto found = m_script.find(key);
        if (found == m_script.end()) return none;
        if (found->is_array()) return *found;
        warn("an entry that must be a list is not one");
        return none;
    }
    static std::string text(const json& object, const char* key) {
        auto found = object.find(key);
        return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
    }
    bool m_warned = false;
    json m_script;
    size_t m_nextAnswer = 0;
    size_t m_nextSelect = 0;
};

// Real dialogs on the controlling terminal.
class Terminal : public Backend {
  public:
    Terminal() {
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

    unsigned show(unsigned severity, const std::string& title, const std::string& text, unsigned buttons,
                  unsigned defaultButton) override {
        if (!m_tty) return buttons == 3 ? 2 : defaultButton;
        endBar();
        std::fprintf(m_tty, "\r\n[%s] %s\r\n", severityName(severity), visibleText(title, false).c_str());
        say(text);
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
    void progressText(unsigned, const std::string& text) override { m_text = visibleText(text, false); }
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
        say(parameters.title() ? parameters.title()->str() : "");
        say(parameters.prompt() ? parameters.prompt()->str() : "");
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
            std::string name = parameters.defaultName() ? parameters.defaultName()->str() : "";
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
    std::optional<std::string> ask(const std::string& question, const std::function<bool()>& changed) {
        tcflush(fileno(m_tty), TCIFLUSH);
        std::fputs(visibleText(question).c_str(), m_tty);
        m_endOfInput = false;
        return readLine(changed);
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
        std::string text = e->text() ? e->text()->str() : "";
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
                rows += (i ? "  " : "") + std::to_string(i + 1) + ") " + list->itemText(i)->str() +
                        (static_cast<long>(i) == list->selectedIndex() ? " [chosen]" : "");
            wrapped("Periods: " + rows, "      ");
            return;
        } else {
            say("     " + mark + text + (e->enabled() ? "" : " (unavailable)"));
        }
        if (e->hint()) wrapped(e->hint()->str(), "        ");
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

std::unique_ptr<Backend> makeHeadless() {
    return std::make_unique<Headless>();
}
std::unique_ptr<Backend> makeScript(const std::string& path) {
    return std::make_unique<Script>(path);
}
std::unique_ptr<Backend> makeTerminal() {
    auto terminal = std::make_unique<Terminal>();
    if (!terminal->attached()) return {};
    return terminal;
}

} // namespace Ui
