#include "Filesystem.h"
#include "Host.h"
#include "Signals.h"
#include "UiBackend.h"
#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <poll.h>
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
        for (char c : text)
            body += c == '\n' ? std::string("\n  ") : std::string(1, c);
        std::fprintf(stderr, "scrivletv2: [%s] %s: %s%s\n", severityName(severity), title.c_str(),
                     body.c_str(), buttons == 3 ? " (answered no)" : "");
        return buttons == 3 ? 2 : buttons;
    }
    DriveChoice select(Parameters& parameters, const std::vector<Drive>&) override {
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
        std::fprintf(stderr, "scrivletv2: the clearing removed %lu old file(s)\n",
                     Services::Filesystem::Client::removedFileCount());
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
                     categories.empty() ? "nothing" : categories.c_str(), drive.c_str(),
                     clearingText.c_str());
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
    DriveChoice select(Parameters& parameters, const std::vector<Drive>&) override {
        DriveChoice choice;
        const json& selects = list("select");
        if (m_nextSelect >= selects.size()) return choice;
        const json answer = selects[m_nextSelect++];
        if (!answer.is_object()) {
            warn("a \"select\" entry is not an object");
            return choice;
        }
        if (answer.contains("error")) {
            choice.error = Host::parseNumber(answer["error"], 0x2007);
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
        if (m_tty) std::fclose(m_tty);
    }
    const char* name() const override { return "terminal"; }
    bool attached() const { return m_tty != nullptr; }

    unsigned show(unsigned severity, const std::string& title, const std::string& text, unsigned buttons,
                  unsigned defaultButton) override {
        if (!m_tty) return buttons == 3 ? 2 : defaultButton;
        std::fprintf(m_tty, "\r\n[%s] %s\r\n%s\r\n", severityName(severity), title.c_str(), text.c_str());
        if (buttons != 3) {
            std::fputs("Press Enter to continue.", m_tty);
            readLine();
            return defaultButton;
        }
        std::fputs(severity == 3 ? "Continue? [Y/n] " : "Yes or no? [Y/n] ", m_tty);
        std::string answer = readLine();
        return answer.empty() || answer[0] == 'y' || answer[0] == 'Y' ? 1 : 2;
    }
    void waitShown(unsigned, const std::string& title, const std::string& text) override {
        if (m_tty) std::fprintf(m_tty, "%s: %s\r\n", title.c_str(), text.c_str());
    }
    void progressCreated(unsigned, const std::string& title, const std::string&, uint64_t) override {
        if (m_tty) std::fprintf(m_tty, "%s (press c to cancel)\r\n", title.c_str());
    }
    void progressText(unsigned, const std::string& text) override { m_text = text; }
    void progressValue(unsigned, uint64_t value, uint64_t maximum) override {
        if (!m_tty) return;
        int percent = maximum ? static_cast<int>(value * 100 / maximum) : 0;
        // An export of many small files updates the bar for every file; drawing each update would
        // make the terminal the slowest part of the work. A new percentage is always drawn.
        if (percent == m_drawnPercent && !due(m_lastDraw, redrawInterval)) return;
        m_drawnPercent = percent;
        std::string bar(static_cast<size_t>(percent / 5), '#');
        bar.resize(20, ' ');
        std::fprintf(m_tty, "\r[%s] %3d%% %s\x1b[K", bar.c_str(), percent, m_text.c_str());
        std::fflush(m_tty);
    }
    bool progressCancelled(unsigned, unsigned) override {
        if (!m_tty || !due(m_lastKeyCheck, keyCheckInterval)) return false;
        int fd = fileno(m_tty);
        struct termios saved {};
        if (tcgetattr(fd, &saved) != 0) return false;
        struct termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        tcsetattr(fd, TCSANOW, &raw);
        bool cancel = false;
        struct pollfd p {
            fd, POLLIN, 0
        };
        while (poll(&p, 1, 0) > 0) {
            char c = 0;
            if (::read(fd, &c, 1) != 1) break;
            cancel = cancel || c == 'c' || c == 'q' || c == 27;
        }
        tcsetattr(fd, TCSANOW, &saved);
        return cancel;
    }
    void progressClosed(unsigned) override {
        if (m_tty) std::fputs("\r\n", m_tty);
    }

    DriveChoice select(Parameters& parameters, const std::vector<Drive>& drives) override {
        DriveChoice choice;
        if (!m_tty) return choice;
        std::fprintf(m_tty, "\r\n%s\r\n%s\r\n", parameters.title() ? parameters.title()->c_str() : "",
                     parameters.prompt() ? parameters.prompt()->c_str() : "");
        editElements(parameters);
        for (size_t i = 0; i < drives.size(); i++)
            std::fprintf(m_tty, "  %zu) %s  (%s)\r\n", i + 1, drives[i].label.c_str(),
                         drives[i].mountPoint.c_str());
        std::fputs("Drive number (Enter to cancel): ", m_tty);
        std::string line = readLine();
        size_t index = line.empty() ? 0 : std::strtoul(line.c_str(), nullptr, 10);
        if (index < 1 || index > drives.size()) return choice;
        choice.chosen = true;
        choice.drive = drives[index - 1].node;
        if (parameters.flags() & Flags::AllowRename) {
            std::string name = parameters.defaultName() ? parameters.defaultName()->str() : "";
            for (;;) {
                std::fprintf(m_tty, "File name [%s]: ", name.c_str());
                std::string typed = readLine();
                choice.name = typed.empty() ? name : typed;
                if (isFileName(choice.name)) break;
                std::fputs("A file name only: no \"/\", and not \".\" or \"..\".\r\n", m_tty);
            }
        }
        return choice;
    }

  private:
    // A line typed on the terminal; an empty answer when an interrupting signal came while waiting,
    // which every prompt takes as "no choice".
    std::string readLine() {
        constexpr int signalCheckMs = 100;
        struct pollfd p {
            fileno(m_tty), POLLIN, 0
        };
        for (;;) {
            if (Signals::received()) return {};
            int ready = poll(&p, 1, signalCheckMs);
            if (ready > 0) break;
            if (ready < 0 && errno != EINTR) return {};
        }
        char buffer[1024];
        if (!std::fgets(buffer, sizeof buffer, m_tty)) return {};
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        return line;
    }

    // Lists the elements; a number toggles a check box or checkable group, "d N" picks drop-down row N.
    void editElements(Parameters& parameters) {
        std::vector<Elements::Element*> all;
        collectElements(parameters.elements(), all);
        if (all.empty()) return;
        for (;;) {
            for (size_t i = 0; i < all.size(); i++) {
                Elements::Element* e = all[i];
                std::string state;
                if (auto* c = dynamic_cast<Elements::CheckBox*>(e)) state = c->checked() ? "[x]" : "[ ]";
                if (auto* g = dynamic_cast<Elements::GroupBox*>(e); g && g->checkable())
                    state = g->checked() ? "[x]" : "[ ]";
                if (auto* d = dynamic_cast<Elements::DropDown*>(e))
                    state =
                        d->selectedIndex() >= 0 && static_cast<size_t>(d->selectedIndex()) < d->itemCount()
                            ? "<" + d->itemText(static_cast<size_t>(d->selectedIndex()))->str() + ">"
                            : "<none>";
                std::fprintf(m_tty, "  %2zu %s %s%s%s\r\n", i + 1, state.c_str(),
                             e->text() ? e->text()->c_str() : "", e->enabled() ? "" : " (unavailable)",
                             e->hint() ? ("  - " + e->hint()->str()).c_str() : "");
            }
            std::fputs("Toggle number, 'd ROW' for the period (1-5), Enter when done: ", m_tty);
            std::string line = readLine();
            if (line.empty()) return;
            if (line[0] == 'd') {
                for (Elements::Element* e : all)
                    if (auto* d = dynamic_cast<Elements::DropDown*>(e))
                        d->select(std::strtol(line.c_str() + 1, nullptr, 10) - 1);
                continue;
            }
            size_t n = std::strtoul(line.c_str(), nullptr, 10);
            if (n < 1 || n > all.size() || !all[n - 1]->enabled()) continue;
            if (auto* c = dynamic_cast<Elements::CheckBox*>(all[n - 1])) c->setChecked(!c->checked());
            if (auto* g = dynamic_cast<Elements::GroupBox*>(all[n - 1]); g && g->checkable())
                g->setChecked(!g->checked());
        }
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
