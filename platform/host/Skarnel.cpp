#include "platform/Skarnel.h"
#include "Host.h"
#include "Namespace.h"
#include "Signals.h"
#include "UiBackend.h"
#include "platform/Text.h"
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

using nlohmann::json;

namespace Services::Skarnel::Client {
namespace {

std::mutex uiMutex;
std::atomic<unsigned> nextDialogId{1};
std::atomic<unsigned> nextProgressId{1};

// The backend the run uses. A choice that cannot be honoured is said on standard error, naming the
// setting and what the run uses instead, and the run goes on headless.
std::unique_ptr<Ui::Backend> chooseBackend() {
    const Host::Config& c = Host::config();
    const char* fromEnvironment = std::getenv("ORVANE_UI");
    bool given = fromEnvironment && *fromEnvironment;
    std::string setting = given ? "ORVANE_UI" : "ui.backend";
    std::string kind = given ? fromEnvironment : c.ui.value("backend", "");
    if (kind.empty()) {
        if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO))
            if (auto terminal = Ui::makeTerminal()) return terminal;
        return Ui::makeHeadless();
    }
    if (kind == "script")
        return Ui::makeScript(Host::environmentOr("ORVANE_UI_SCRIPT", c.ui.value("script", "")));
    if (kind == "headless") return Ui::makeHeadless();
    if (kind == "terminal") {
        if (auto terminal = Ui::makeTerminal()) return terminal;
        std::fprintf(stderr, "scrivletv2: %s=terminal, but there is no terminal (/dev/tty); using headless\n",
                     setting.c_str());
    } else {
        std::fprintf(
            stderr,
            "scrivletv2: %s=%s is not a dialog backend (terminal, headless or script); using headless\n",
            setting.c_str(), kind.c_str());
    }
    return Ui::makeHeadless();
}

Ui::Backend& backend() {
    static std::unique_ptr<Ui::Backend> chosen = chooseBackend();
    return *chosen;
}

const std::string& transcriptPath() {
    static const std::string path =
        Host::environmentOr("ORVANE_UI_TRANSCRIPT", Host::config().ui.value("transcript", ""));
    return path;
}

// Appends one JSON object per call; the whole line is written at once. Callers test recording()
// first, so that runs without a transcript never build the entries.
bool recording() {
    return !transcriptPath().empty();
}

void record(const json& entry) {
    const std::string& path = transcriptPath();
    if (path.empty()) return;
    std::string line = entry.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    // One append per line, so that lines of threads and of concurrent runs never interleave.
    ssize_t written = ::write(fd, line.data(), line.size());
    (void)written;
    ::close(fd);
}

std::string text(const Ref<String>& s) {
    return stdString(s);
}
json optionalText(const Ref<String>& s) {
    return s ? json(s->str()) : json(nullptr);
}

json describe(const Ref<Elements::Element>& e) {
    json d = {{"kind", e->kind()},
              {"id", optionalText(e->id())},
              {"text", optionalText(e->text())},
              {"hint", optionalText(e->hint())},
              {"enabled", e->enabled()}};
    if (auto* g = dynamic_cast<Elements::GroupBox*>(e.get())) {
        d["checkable"] = g->checkable();
        d["checked"] = g->checked();
        d["children"] = json::array();
        for (const auto& child : g->children())
            d["children"].push_back(describe(child));
    } else if (auto* c = dynamic_cast<Elements::CheckBox*>(e.get())) {
        d["checked"] = c->checked();
    } else if (auto* l = dynamic_cast<Elements::DropDown*>(e.get())) {
        d["items"] = json::array();
        for (size_t i = 0; i < l->itemCount(); i++)
            d["items"].push_back(text(l->itemText(i)));
        d["selected"] = l->selectedIndex();
    }
    return d;
}

json describeAll(const std::vector<Ref<Elements::Element>>& elements) {
    json list = json::array();
    for (const auto& e : elements)
        list.push_back(describe(e));
    return list;
}

std::vector<Ui::Drive> drives() {
    std::vector<Ui::Drive> list;
    for (const Host::NodeConfig& n : Namespace::nodes()) {
        if (!n.drive) continue;
        std::string label = n.attributes.value("SUBST_NAME", n.attributes.value("DRIVELETTER", n.name));
        list.push_back({n.name, label, n.mountPoint, n.readOnly});
    }
    return list;
}

std::string bootNode() {
    return stdString(StringUtil::valueOf(Sys::bootParameter(), "boot.node"));
}

const Ui::Drive* findDrive(const std::vector<Ui::Drive>& list, const std::string& key) {
    for (const Ui::Drive& d : list)
        if (d.node == key || d.label == key || d.mountPoint == key) return &d;
    return nullptr;
}

} // namespace

unsigned Service::type(unsigned query) {
    unsigned answer = backend().type();
    if (recording()) record({{"call", "Service::type"}, {"query", query}, {"answer", answer}});
    return answer;
}

unsigned Dialog::show(unsigned severity, const Ref<String>& title, const Ref<String>& message,
                      unsigned buttons, unsigned defaultButton) {
    unsigned answer = 0;
    // What a message says ("saved", "exported") must be true of the medium when the user reads it.
    Filesystem::Client::flushWrittenFiles();
    // A failed dialog answers 0 with the reason pending, as the dialog service does.
    if (auto code = Host::fault("Dialog::show", text(title))) {
        Error::set(Error(*code));
    } else {
        std::lock_guard lock(uiMutex);
        answer = backend().show(severity, text(title), text(message), buttons, defaultButton);
    }
    if (recording())
        record({{"call", "Dialog::show"},
                {"severity", severity},
                {"title", text(title)},
                {"text", text(message)},
                {"buttons", buttons},
                {"default", defaultButton},
                {"answer", answer}});
    return answer;
}

Ref<Dialog> Dialog::create(const Ref<String>& name) {
    if (auto code = Host::fault("Dialog::create")) {
        if (recording()) record({{"call", "Dialog::create"}, {"name", optionalText(name)}, {"error", *code}});
        Error::set(*code);
        return {};
    }
    Ref<Dialog> dialog(new Dialog(nextDialogId++));
    if (recording()) record({{"call", "Dialog::create"}, {"name", optionalText(name)}, {"id", dialog->m_id}});
    return dialog;
}

void Dialog::showWait(unsigned severity, const Ref<String>& title, const Ref<String>& message,
                      unsigned buttons, unsigned defaultButton) const {
    if (recording())
        record({{"call", "Dialog.show"},
                {"id", m_id},
                {"severity", severity},
                {"title", text(title)},
                {"text", text(message)},
                {"buttons", buttons},
                {"default", defaultButton}});
    {
        std::lock_guard lock(uiMutex);
        backend().waitShown(m_id, text(title), text(message));
    }
    std::unique_lock lock(m_mutex);
    m_closedCv.wait(lock, [this] { return m_closed; });
}

void Dialog::close(unsigned result) const {
    if (recording()) record({{"call", "Dialog.close"}, {"id", m_id}, {"result", result}});
    {
        std::lock_guard lock(uiMutex);
        backend().waitClosed(m_id);
    }
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_closedCv.notify_all();
}

Ref<Progress> Progress::create(const Ref<String>& title, const Ref<String>& message, uint64_t maximum,
                               bool flag1, bool flag2) {
    json entry = {{"call", "Progress::create"},
                  {"title", text(title)},
                  {"text", text(message)},
                  {"maximum", maximum},
                  {"flags", {flag1, flag2}}};
    if (auto code = Host::fault("Progress::create")) {
        entry["error"] = *code;
        record(entry);
        Error::set(*code);
        return {};
    }
    Ref<Progress> progress(new Progress(nextProgressId++, maximum));
    entry["id"] = progress->m_id;
    record(entry);
    std::lock_guard lock(uiMutex);
    backend().progressCreated(progress->m_id, text(title), text(message), maximum);
    return progress;
}

Progress::~Progress() {
    if (recording()) record({{"call", "Progress.close"}, {"id", m_id}});
    std::lock_guard lock(uiMutex);
    backend().progressClosed(m_id);
}

void Progress::setText(const Ref<String>& message) {
    if (recording()) record({{"call", "Progress.setText"}, {"id", m_id}, {"text", text(message)}});
    std::lock_guard lock(uiMutex);
    backend().progressText(m_id, text(message));
}

void Progress::setMaximum(uint64_t maximum) {
    m_maximum = maximum;
    if (recording()) record({{"call", "Progress.setMaximum"}, {"id", m_id}, {"maximum", maximum}});
}

void Progress::setValue(uint64_t value) {
    if (recording()) record({{"call", "Progress.setValue"}, {"id", m_id}, {"value", value}});
    std::lock_guard lock(uiMutex);
    backend().progressValue(m_id, value, m_maximum);
}

bool Progress::cancelled(bool flag) {
    unsigned query;
    {
        std::lock_guard lock(m_mutex);
        query = ++m_queries;
    }
    bool answer;
    {
        std::lock_guard lock(uiMutex);
        // An interrupting signal cancels like the cancel key; the backend is still asked, so that
        // its own state (and a script's query count) moves on as usual.
        answer = backend().progressCancelled(m_id, query) || Signals::received() != 0;
    }
    if (recording())
        record({{"call", "Progress.cancelled"},
                {"id", m_id},
                {"flag", flag},
                {"query", query},
                {"answer", answer}});
    return answer;
}

void Progress::beginUpdate() {
    if (recording()) record({{"call", "Progress.beginUpdate"}, {"id", m_id}});
}
void Progress::endUpdate() {
    if (recording()) record({{"call", "Progress.endUpdate"}, {"id", m_id}});
}
void Progress::restart() {
    if (recording()) record({{"call", "Progress.restart"}, {"id", m_id}});
}
void Progress::setStep(uint64_t step) {
    if (recording()) record({{"call", "Progress.setStep"}, {"id", m_id}, {"step", step}});
}
void Progress::redraw() {
    if (recording()) record({{"call", "Progress.redraw"}, {"id", m_id}});
}

Ref<FSItem> FSItem::create(const Ref<Parameters>& parameters) {
    json entry = {{"call", "FSItem::create"},
                  {"flags", parameters->flags()},
                  {"title", optionalText(parameters->title())},
                  {"prompt", optionalText(parameters->prompt())},
                  {"defaultName", optionalText(parameters->defaultName())},
                  {"elements", describeAll(parameters->elements())}};
    auto fail = [&](unsigned code) {
        entry["error"] = code;
        record(entry);
        Error::set(code);
        return Ref<FSItem>();
    };
    if (auto code = Host::fault("FSItem::create")) return fail(*code);

    std::vector<Ui::Drive> list = drives();
    Ui::DriveChoice choice;
    const Ui::Drive* boot = findDrive(list, bootNode());
    if ((parameters->flags() & Flags::ForceBoot) && boot) {
        // The dialog uses the boot drive whenever it is available.
        choice.chosen = true;
        choice.drive = boot->node;
        entry["forcedBoot"] = true;
    } else {
        std::lock_guard lock(uiMutex);
        Ui::DriveWatch watch = []() -> std::optional<std::vector<Ui::Drive>> {
            if (!Namespace::refreshHostDrives()) return std::nullopt;
            return drives();
        };
        choice = backend().select(*parameters, list, watch);
        // The answer may name a drive that came while the dialog waited.
        list = drives();
    }
    entry["states"] = describeAll(parameters->elements());
    if (!choice.chosen) return fail(choice.error);

    Ref<FSItem> item(new FSItem);
    std::string path = choice.path;
    if (!choice.drive.empty()) {
        const Ui::Drive* drive = findDrive(list, choice.drive);
        if (!drive) return fail(Errors::NotFound);
        item->m_mount = Mount::Client::Entry::create(String::create(drive->node), 0, 0, {});
        if (!item->m_mount) return fail(Error::get());
        path = item->m_mount->mountPoint()->str() + (choice.path.empty() ? "" : "/" + choice.path);
    }
    if (parameters->flags() & Flags::AllowRename) {
        std::string name = choice.name.empty() ? text(parameters->defaultName()) : choice.name;
        Ref<String> full;
        for (;;) {
            // What is typed there names a file in the chosen place, never a path to somewhere else.
            if (!Ui::isFileName(name)) return fail(Errors::InvalidPath);
            full = Filesystem::Client::Service::absolute(String::create(name), String::create(path));
            if (!Filesystem::Client::File::open(full, 4)) break;
            // An existing file is never overwritten: a person is asked for another name.
            std::lock_guard lock(uiMutex);
            name = backend().anotherName(name);
            if (name.empty()) return fail(Errors::AlreadyExists);
        }
        item->m_file = Filesystem::Client::File::open(full, 0x113);
        if (!item->m_file) return fail(Error::get());
        path = full->str();
        entry["file"] = path;
    }
    item->m_path = String::create(path);
    entry["path"] = path;
    record(entry);
    return item;
}

FSItem::~FSItem() {
    if (!m_mount) return;
    // Kept for the rest of the process and never destroyed: unmounting during the process's own
    // teardown could meet the namespace already gone.
    static std::mutex lingeringMutex;
    static auto* lingering = new std::vector<Ref<Mount::Client::Entry>>;
    std::lock_guard lock(lingeringMutex);
    lingering->push_back(std::move(m_mount));
}

} // namespace Services::Skarnel::Client
