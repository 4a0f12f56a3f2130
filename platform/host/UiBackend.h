#pragma once
// The backends behind the user-interface service.
#include "RunResults.h"
#include "platform/Error.h"
#include "platform/Skarnel.h"
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace Host {
class FileRunState;
} // namespace Host

namespace Ui {

// Answers of Service::type: 1 for the graphical dialog service, anything else for a console.
inline constexpr unsigned graphicalType = 1;
inline constexpr unsigned consoleType = 2;

struct Drive {
    std::string node;
    std::string label;
    std::string mountPoint;
    bool readOnly = false;
};

struct DriveChoice {
    bool chosen = false;
    unsigned error = Errors::DialogClosed;
    std::string drive; // node name or label of a drive to mount, or empty
    std::string path;  // a platform path, used as it is
    std::string name;  // the name typed when renaming is allowed
};

// Asked while the drive dialog waits for an answer: the drives as they are now, when they have
// changed since the last asking (a stick plugged in or pulled out), else nothing.
using DriveWatch = std::function<std::optional<std::vector<Drive>>()>;

class Backend {
  public:
    // `settings`: the host configuration's "ui" section, which outlives the backend.
    explicit Backend(const nlohmann::json& settings) : m_settings(settings) {}
    virtual ~Backend() = default;
    virtual const char* name() const = 0;
    // `underneath`: what the host adds below the message's own text, one "\n  " line each (where
    // its files are on the host, why it failed), or nothing.
    virtual unsigned show(unsigned severity, const std::string& title, const std::string& text,
                          const std::string& underneath, unsigned buttons, unsigned defaultButton) = 0;
    virtual void waitShown(unsigned, const std::string&, const std::string&) {}
    virtual void waitClosed(unsigned) {}
    virtual void progressCreated(unsigned, const std::string&, const std::string&, uint64_t) {}
    virtual void progressText(unsigned, std::string_view) {}
    virtual void progressValue(unsigned, uint64_t, uint64_t) {}
    virtual bool progressCancelled(unsigned, unsigned) { return false; }
    virtual void progressClosed(unsigned) {}
    // Shows the drive-selection dialog; may change the states of the parameters' elements.
    virtual DriveChoice select(Services::Skarnel::Client::Parameters& parameters,
                               const std::vector<Drive>& drives, const DriveWatch& watch) = 0;
    // The drive dialog's typed name exists already: another one, or "" to give up (the dialog then
    // fails with "already exists"). Only a person can answer.
    virtual std::string anotherName(const std::string&) { return {}; }
    // Whether success messages show where their files are on the host (a person or a script reads
    // them), and what the backend does with the run's results after the message.
    virtual bool showsResults() const { return true; }
    virtual void results(const Host::RunResults&) {}
    // What Service::type answers: ui.type in the host configuration, else the backend's own.
    virtual unsigned type() const;

  protected:
    // A console shows plain text; only a graphical dialog wants the display table's breaks.
    virtual unsigned defaultType() const { return consoleType; }
    const nlohmann::json& m_settings;
};

// The longest file name a Linux filesystem takes, in bytes.
inline constexpr size_t longestFileName = 255;

// Whether a name typed for a file is a file name: not empty, no "/", not "." or "..", and not
// longer than a filesystem takes.
inline bool isFileName(const std::string& name) {
    return !name.empty() && name.size() <= longestFileName && name.find('/') == std::string::npos &&
           name != "." && name != "..";
}

// The dialog parameters' elements, group boxes' children included, in order.
void collectElements(const std::vector<Ref<Services::Skarnel::Client::Elements::Element>>& elements,
                     std::vector<Services::Skarnel::Client::Elements::Element*>& out);
// "INFO", "QUESTION", "FAILED", "ERROR".
const char* severityName(unsigned severity);

// `run`: the run's files, to say how many the clearing removed.
std::unique_ptr<Backend> makeHeadless(const nlohmann::json& settings, const Host::FileRunState& run);
std::unique_ptr<Backend> makeScript(const std::string& path, const nlohmann::json& settings);
// Nothing when no terminal (/dev/tty) can be opened.
std::unique_ptr<Backend> makeTerminal(const nlohmann::json& settings);

} // namespace Ui
