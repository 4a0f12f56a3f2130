// The dialog backends without a terminal: headless (no person present) and scripted (answers
// from a file, for tests); and what every backend shares.
#include "FileRunState.h"
#include "Host.h"
#include "UiBackend.h"
#include "VisibleText.h"
#include <cstdio>
#include <nlohmann/json.hpp>

using nlohmann::json;
using namespace Services::Skarnel::Client;

namespace Ui {

unsigned Backend::type() const {
    return m_settings.value("type", defaultType());
}

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

namespace {

// No person present: messages are acknowledged, questions answered no, and the drive dialog takes
// the configured default drive or reports that it was closed. What a dialog would have said goes to
// standard error, so that whoever runs the tool unattended still learns where a file went or why it
// did not.
class Headless : public Backend {
  public:
    Headless(const nlohmann::json& settings, const Host::FileRunState& run) : Backend(settings), m_run(run) {}
    const char* name() const override { return "headless"; }
    // A message's lines after its first, indented under the "scrivletv2: " it starts with.
    static std::string indented(const std::string& text) {
        std::string lines;
        for (char c : visibleText(text))
            lines += c == '\n' ? std::string("\n  ") : std::string(1, c);
        return lines;
    }
    unsigned show(unsigned severity, const std::string& title, const std::string& text,
                  const std::string& underneath, unsigned buttons, unsigned) override {
        // The answer stands after the question, before what the host adds under the message.
        std::fprintf(stderr, "scrivletv2: [%s] %s: %s%s%s\n", severityName(severity),
                     visibleText(title, false).c_str(), indented(text).c_str(),
                     buttons == 3 ? " (answered no)" : "", indented(underneath).c_str());
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
        std::string drive = m_settings.value("defaultDrive", "");
        if (drive.empty()) return choice;
        choice.chosen = true;
        choice.drive = drive;
        if (!parameters.elements().empty()) chooseExport(parameters, drive);
        return choice;
    }
    void progressClosed(unsigned) override {
        if (!m_reportRemovals) return;
        m_reportRemovals = false;
        std::fprintf(stderr, "scrivletv2: the clearing removed %lu old file(s)\n", m_run.removedFileCount());
    }

  private:
    // Nobody is there to confirm that old files may go: the clearing stays off unless the host
    // configuration says otherwise, and what was chosen is said.
    void chooseExport(Parameters& parameters, const std::string& drive) {
        bool clearing = m_settings.value("headlessClearing", false);
        std::string categories, period;
        std::vector<Elements::Element*> all;
        collectElements(parameters.elements(), all);
        for (Elements::Element* e : all) {
            if (auto* group = dynamic_cast<Elements::GroupBox*>(e); group && group->checkable())
                group->setChecked(group->checked() && clearing);
            if (auto* box = dynamic_cast<Elements::CheckBox*>(e); box && box->checked() && box->enabled())
                categories += (categories.empty() ? "" : ", ") + stdString(box->text());
            if (auto* list = dynamic_cast<Elements::DropDown*>(e);
                list && list->selectedIndex() >= 0 &&
                static_cast<size_t>(list->selectedIndex()) < list->itemCount())
                period = stdString(list->itemText(static_cast<size_t>(list->selectedIndex())));
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
    const Host::FileRunState& m_run;
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
    Script(const std::string& path, const nlohmann::json& settings) : Backend(settings) {
        m_script = Host::readJsonFile(path, "UI script").value_or(json::object());
        if (!m_script.is_object()) m_script = json::object();
        // Read once: a progress is asked whether it was cancelled for every file an export copies.
        for (const json& rule : list("cancel"))
            if (rule.is_object())
                m_cancels.push_back({Host::parseNumber(rule.value("progress", json(1)), 0),
                                     Host::parseNumber(rule.value("query", json(1)), 1)});
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
    unsigned show(unsigned, const std::string&, const std::string&, const std::string&, unsigned buttons,
                  unsigned defaultButton) override {
        if (buttons == 0x20) return defaultButton;
        const json& answers = list("answers");
        if (m_nextAnswer < answers.size()) return Host::parseNumber(answers[m_nextAnswer++], defaultButton);
        return buttons == 3 ? 2 : defaultButton;
    }
    bool progressCancelled(unsigned id, unsigned query) override {
        for (const Cancel& cancel : m_cancels)
            if (cancel.progress == id && query >= cancel.fromQuery) return true;
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
    // A "cancel" rule: the progress dialog it cancels, from its nth query on.
    struct Cancel {
        unsigned progress;
        unsigned fromQuery;
    };
    std::vector<Cancel> m_cancels;
    size_t m_nextAnswer = 0;
    size_t m_nextSelect = 0;
};

} // namespace

std::unique_ptr<Backend> makeHeadless(const nlohmann::json& settings, const Host::FileRunState& run) {
    return std::make_unique<Headless>(settings, run);
}
std::unique_ptr<Backend> makeScript(const std::string& path, const nlohmann::json& settings) {
    return std::make_unique<Script>(path, settings);
}

} // namespace Ui
