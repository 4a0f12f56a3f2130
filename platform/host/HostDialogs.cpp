// The host's dialog service: the terminal, headless or scripted backend, the drives of the
// namespace, and the mounts of the drives chosen.
#include "HostDialogs.h"
#include "HostFilesystem.h"
#include "HostPlatform.h"
#include "Namespace.h"
#include "RunResults.h"
#include "Signals.h"
#include "UiBackend.h"
#include "platform/System.h"
#include "platform/Text.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

namespace Host {
namespace {

using namespace Services::Skarnel;
using Client::Parameters;
namespace Flags = Client::Flags;

// The backend the run uses. A choice that cannot be honoured is said on standard error, naming the
// setting and what the run uses instead, and the run goes on headless.
std::unique_ptr<Ui::Backend> chooseBackend(const Config& c, const FileRunState& run) {
    const char* fromEnvironment = std::getenv("ORVANE_UI");
    bool given = fromEnvironment && *fromEnvironment;
    std::string setting = given ? "ORVANE_UI" : "ui.backend";
    std::string kind = given ? fromEnvironment : c.ui.value("backend", "");
    if (kind.empty()) {
        if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO))
            if (auto terminal = Ui::makeTerminal(c.ui)) return terminal;
        return Ui::makeHeadless(c.ui, run);
    }
    if (kind == "script")
        return Ui::makeScript(environmentOr("ORVANE_UI_SCRIPT", c.ui.value("script", "")), c.ui);
    if (kind == "headless") return Ui::makeHeadless(c.ui, run);
    if (kind == "terminal") {
        if (auto terminal = Ui::makeTerminal(c.ui)) return terminal;
        std::fprintf(stderr, "scrivletv2: %s=terminal, but there is no terminal (/dev/tty); using headless\n",
                     setting.c_str());
    } else {
        std::fprintf(
            stderr,
            "scrivletv2: %s=%s is not a dialog backend (terminal, headless or script); using headless\n",
            setting.c_str(), kind.c_str());
    }
    return Ui::makeHeadless(c.ui, run);
}

std::vector<Ui::Drive> drives(Namespace::Tree& names) {
    std::vector<Ui::Drive> list;
    for (const NodeConfig& n : names.nodes()) {
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

bool failWith(unsigned code) {
    Error::set(code);
    return false;
}

Ref<String> noName(unsigned code) {
    Error::set(code);
    return {};
}

constexpr unsigned informationSeverity = 1, continueSeverity = 3, failureSeverity = 4;

// The platform paths a message names that exist (the export's directory, a file that is in the
// way), as host paths.
std::vector<std::string> hostPathsNamedIn(Namespace::Tree& names, const std::string& text) {
    std::vector<std::string> paths;
    for (size_t start = text.find('/'); start != std::string::npos; start = text.find('/', start + 1)) {
        if (start > 0 && text[start - 1] != ' ' && text[start - 1] != '\n') continue;
        size_t end = text.find_first_of(" \n", start);
        std::string named = text.substr(start, end == std::string::npos ? end : end - start);
        std::string path = Host::hostPathOf(names, named);
        // A path that ends a sentence, or stands before "; error:", has the sentence's mark after it.
        if (path.empty() && named.size() > 1 &&
            std::string_view(".,;:").find(named.back()) != std::string_view::npos)
            path = Host::hostPathOf(names, named.substr(0, named.size() - 1));
        if (!path.empty() && std::find(paths.begin(), paths.end(), path) == paths.end())
            paths.push_back(path);
    }
    return paths;
}

// The files the run saved, and the paths the message names.
Host::RunResults resultsOf(HostPlatform& platform, const std::string& text) {
    Host::RunResults results = platform.notes().takeRunResults();
    for (const std::string& path : hostPathsNamedIn(platform.names(), text))
        if (std::find(results.files.begin(), results.files.end(), path) == results.files.end())
            results.files.push_back(path);
    return results;
}

class HostDialogs : public DialogService {
  public:
    explicit HostDialogs(HostPlatform& platform) : m_platform(platform) {}
    unsigned type(unsigned) override { return backend().type(); }

    unsigned show(unsigned severity, const Ref<String>& title, const Ref<String>& text, unsigned buttons,
                  unsigned defaultButton) override {
        // What a message says ("saved", "exported") must be true of the medium when the user reads it.
        m_platform.files().flushWrittenFiles();
        std::lock_guard lock(m_mutex);
        std::string shown = stdString(text), underneath;
        if (severity == informationSeverity && backend().showsResults()) {
            // A success: where its files are on the host, under the platform's paths.
            Host::RunResults results = resultsOf(m_platform, shown);
            for (const std::string& path : results.files)
                underneath += "\n  on the host: " + Host::shownHostPath(path);
            unsigned answer =
                backend().show(severity, stdString(title), shown, underneath, buttons, defaultButton);
            backend().results(results);
            return answer;
        }
        // Any message ends what a failure cause was noted for; a failure's shows it.
        std::string cause = m_platform.notes().takeFailureCause();
        bool failure = severity == failureSeverity || severity == continueSeverity;
        if (failure && backend().showsResults()) {
            for (const std::string& path : hostPathsNamedIn(m_platform.names(), shown))
                underneath += "\n  on the host: " + Host::shownHostPath(path);
            if (!cause.empty()) underneath += "\n  cause: " + cause;
        }
        return backend().show(severity, stdString(title), shown, underneath, buttons, defaultButton);
    }

    bool createDialog(unsigned, const Ref<String>&) override { return true; }
    void showDialog(unsigned id, unsigned, const Ref<String>& title, const Ref<String>& text, unsigned,
                    unsigned) override {
        std::lock_guard lock(m_mutex);
        backend().waitShown(id, stdString(title), stdString(text));
    }
    void closeDialog(unsigned id, unsigned) override {
        std::lock_guard lock(m_mutex);
        backend().waitClosed(id);
    }

    bool createProgress(unsigned id, const Ref<String>& title, const Ref<String>& text, uint64_t maximum,
                        bool, bool) override {
        std::lock_guard lock(m_mutex);
        backend().progressCreated(id, stdString(title), stdString(text), maximum);
        return true;
    }
    void progressText(unsigned id, const Ref<String>& text) override {
        std::lock_guard lock(m_mutex);
        // Set once for every file an export copies: the text is handed on, not copied.
        backend().progressText(id, text ? text->str() : std::string_view());
    }
    void progressMaximum(unsigned, uint64_t) override {}
    void progressValue(unsigned id, uint64_t value, uint64_t maximum) override {
        std::lock_guard lock(m_mutex);
        backend().progressValue(id, value, maximum);
    }
    bool progressCancelled(unsigned id, bool, unsigned query) override {
        std::lock_guard lock(m_mutex);
        // An interrupting signal cancels like the cancel key; the backend is still asked, so that
        // its own state (and a script's query count) moves on as usual.
        return backend().progressCancelled(id, query) || Signals::received() != 0;
    }
    void progressEvent(unsigned, ProgressEvent, uint64_t) override {}
    void closeProgress(unsigned id) override {
        std::lock_guard lock(m_mutex);
        backend().progressClosed(id);
    }

    bool selectDrive(Parameters& parameters, Selection& selection) override {
        std::vector<Ui::Drive> list = drives(m_platform.names());
        Ui::DriveChoice choice;
        const Ui::Drive* boot = findDrive(list, bootNode());
        if ((parameters.flags() & Flags::ForceBoot) && boot) {
            // The dialog uses the boot drive whenever it is available.
            choice.chosen = true;
            choice.drive = boot->node;
            selection.forcedBoot = true;
        } else {
            std::lock_guard lock(m_mutex);
            Ui::DriveWatch watch = [this]() -> std::optional<std::vector<Ui::Drive>> {
                if (!m_platform.names().refreshHostDrives()) return std::nullopt;
                return drives(m_platform.names());
            };
            choice = backend().select(parameters, list, watch);
            // The answer may name a drive that came while the dialog waited.
            list = drives(m_platform.names());
        }
        if (!choice.chosen) return failWith(choice.error);

        std::string path = choice.path;
        if (!choice.drive.empty()) {
            const Ui::Drive* drive = findDrive(list, choice.drive);
            if (!drive) return failWith(Errors::NotFound);
            selection.mount = Services::Mount::Client::Entry::create(String::create(drive->node), 0, 0, {});
            if (!selection.mount) return false;
            path = stdString(selection.mount->mountPoint()) + (choice.path.empty() ? "" : "/" + choice.path);
        }
        if (parameters.flags() & Flags::AllowRename) {
            Ref<String> full = createNamedFile(parameters, choice.name, path);
            if (!full) return false;
            selection.file = Services::Filesystem::Client::File::open(
                full, Services::Filesystem::Client::OpenMode::Exclusive);
            if (!selection.file) return false;
            path = full->str();
        }
        selection.path = String::create(path);
        return true;
    }

  private:
    Ui::Backend& backend() {
        std::call_once(m_chosen,
                       [this] { m_backend = chooseBackend(m_platform.config(), m_platform.files()); });
        return *m_backend;
    }

    // The path of the file to create under the typed name in the chosen place; null when there is
    // none (the reason in Error::get).
    Ref<String> createNamedFile(Parameters& parameters, const std::string& typed, const std::string& place) {
        std::string name = typed.empty() ? stdString(parameters.defaultName()) : typed;
        for (;;) {
            // What is typed there names a file in the chosen place, never a path to somewhere else.
            if (!Ui::isFileName(name)) return noName(Errors::InvalidPath);
            Ref<String> full =
                Services::Filesystem::Client::Service::absolute(String::create(name), String::create(place));
            if (!Services::Filesystem::Client::File::open(full,
                                                          Services::Filesystem::Client::OpenMode::Probe))
                return full;
            // An existing file is never overwritten: a person is asked for another name.
            std::lock_guard lock(m_mutex);
            name = backend().anotherName(name);
            if (name.empty()) return noName(Errors::AlreadyExists);
        }
    }

    HostPlatform& m_platform;
    std::once_flag m_chosen;
    std::unique_ptr<Ui::Backend> m_backend;
    std::mutex m_mutex; // one dialog on the screen at a time, whichever thread asks
};

} // namespace

std::unique_ptr<DialogService> makeHostDialogs(HostPlatform& platform) {
    return std::make_unique<HostDialogs>(platform);
}

std::unique_ptr<DialogService> makeConfiguredDialogs(HostPlatform& platform) {
    std::unique_ptr<DialogService> service = makeHostDialogs(platform);
    if (platform.faults().any()) service = withDialogFaults(std::move(service), platform.faults());
    std::string transcript =
        environmentOr("ORVANE_UI_TRANSCRIPT", platform.config().ui.value("transcript", ""));
    if (!transcript.empty()) service = withDialogTranscript(std::move(service), transcript);
    return service;
}

void installDialogs(HostPlatform& platform) {
    installService<DialogService>([&platform] { return makeConfiguredDialogs(platform); });
}

} // namespace Host
