// A transcript of the dialog calls: one JSON object per line, with what the call answered, for
// the tests and for anyone who wants to see what a run asked of its user.
#include "HostDialogs.h"
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace Host {
namespace {

using namespace Services::Skarnel;
using Client::Parameters;
using nlohmann::json;

json text(const Ref<String>& s) {
    return stdString(s);
}
json optionalText(const Ref<String>& s) {
    return s ? json(s->str()) : json(nullptr);
}

json describe(const Ref<Client::Elements::Element>& e) {
    using namespace Client::Elements;
    json d = {{"kind", e->kind()},
              {"id", optionalText(e->id())},
              {"text", optionalText(e->text())},
              {"hint", optionalText(e->hint())},
              {"enabled", e->enabled()}};
    if (auto* g = dynamic_cast<GroupBox*>(e.get())) {
        d["checkable"] = g->checkable();
        d["checked"] = g->checked();
        d["children"] = json::array();
        for (const auto& child : g->children())
            d["children"].push_back(describe(child));
    } else if (auto* c = dynamic_cast<CheckBox*>(e.get())) {
        d["checked"] = c->checked();
    } else if (auto* l = dynamic_cast<DropDown*>(e.get())) {
        d["items"] = json::array();
        for (size_t i = 0; i < l->itemCount(); i++)
            d["items"].push_back(text(l->itemText(i)));
        d["selected"] = l->selectedIndex();
    }
    return d;
}

json describeAll(const std::vector<Ref<Client::Elements::Element>>& elements) {
    json list = json::array();
    for (const auto& e : elements)
        list.push_back(describe(e));
    return list;
}

const char* eventName(ProgressEvent event) {
    switch (event) {
    case ProgressEvent::BeginUpdate:
        return "Progress.beginUpdate";
    case ProgressEvent::EndUpdate:
        return "Progress.endUpdate";
    case ProgressEvent::Restart:
        return "Progress.restart";
    case ProgressEvent::Step:
        return "Progress.setStep";
    case ProgressEvent::Redraw:
        return "Progress.redraw";
    }
    return "Progress.event";
}

class DialogTranscript : public DialogServiceProxy {
  public:
    DialogTranscript(std::unique_ptr<DialogService> inner, std::string path)
        : DialogServiceProxy(std::move(inner)), m_path(std::move(path)) {}

    unsigned type(unsigned query) override {
        unsigned answer = DialogServiceProxy::type(query);
        record({{"call", "Service::type"}, {"query", query}, {"answer", answer}});
        return answer;
    }
    unsigned show(unsigned severity, const Ref<String>& title, const Ref<String>& message, unsigned buttons,
                  unsigned defaultButton) override {
        unsigned answer = DialogServiceProxy::show(severity, title, message, buttons, defaultButton);
        Error pending = Error::get();
        record({{"call", "Dialog::show"},
                {"severity", severity},
                {"title", text(title)},
                {"text", text(message)},
                {"buttons", buttons},
                {"default", defaultButton},
                {"answer", answer}});
        Error::set(pending);
        return answer;
    }
    bool createDialog(unsigned id, const Ref<String>& name) override {
        json entry = {{"call", "Dialog::create"}, {"name", optionalText(name)}};
        bool created = DialogServiceProxy::createDialog(id, name);
        return finish(entry, created, "id", id);
    }
    void showDialog(unsigned id, unsigned severity, const Ref<String>& title, const Ref<String>& message,
                    unsigned buttons, unsigned defaultButton) override {
        record({{"call", "Dialog.show"},
                {"id", id},
                {"severity", severity},
                {"title", text(title)},
                {"text", text(message)},
                {"buttons", buttons},
                {"default", defaultButton}});
        DialogServiceProxy::showDialog(id, severity, title, message, buttons, defaultButton);
    }
    void closeDialog(unsigned id, unsigned result) override {
        record({{"call", "Dialog.close"}, {"id", id}, {"result", result}});
        DialogServiceProxy::closeDialog(id, result);
    }
    bool createProgress(unsigned id, const Ref<String>& title, const Ref<String>& message, uint64_t maximum,
                        bool flag1, bool flag2) override {
        json entry = {{"call", "Progress::create"},
                      {"title", text(title)},
                      {"text", text(message)},
                      {"maximum", maximum},
                      {"flags", {flag1, flag2}}};
        bool created = DialogServiceProxy::createProgress(id, title, message, maximum, flag1, flag2);
        return finish(entry, created, "id", id);
    }
    void progressText(unsigned id, const Ref<String>& message) override {
        record({{"call", "Progress.setText"}, {"id", id}, {"text", text(message)}});
        DialogServiceProxy::progressText(id, message);
    }
    void progressMaximum(unsigned id, uint64_t maximum) override {
        record({{"call", "Progress.setMaximum"}, {"id", id}, {"maximum", maximum}});
        DialogServiceProxy::progressMaximum(id, maximum);
    }
    void progressValue(unsigned id, uint64_t value, uint64_t maximum) override {
        record({{"call", "Progress.setValue"}, {"id", id}, {"value", value}});
        DialogServiceProxy::progressValue(id, value, maximum);
    }
    bool progressCancelled(unsigned id, bool flag, unsigned query) override {
        bool answer = DialogServiceProxy::progressCancelled(id, flag, query);
        record({{"call", "Progress.cancelled"},
                {"id", id},
                {"flag", flag},
                {"query", query},
                {"answer", answer}});
        return answer;
    }
    void progressEvent(unsigned id, ProgressEvent event, uint64_t step) override {
        json entry = {{"call", eventName(event)}, {"id", id}};
        if (event == ProgressEvent::Step) entry["step"] = step;
        record(entry);
        DialogServiceProxy::progressEvent(id, event, step);
    }
    void closeProgress(unsigned id) override {
        record({{"call", "Progress.close"}, {"id", id}});
        DialogServiceProxy::closeProgress(id);
    }
    bool selectDrive(Parameters& parameters, Selection& selection) override {
        json entry = {{"call", "FSItem::create"},
                      {"flags", parameters.flags()},
                      {"title", optionalText(parameters.title())},
                      {"prompt", optionalText(parameters.prompt())},
                      {"defaultName", optionalText(parameters.defaultName())},
                      {"elements", describeAll(parameters.elements())}};
        bool chosen = DialogServiceProxy::selectDrive(parameters, selection);
        if (selection.forcedBoot) entry["forcedBoot"] = true;
        entry["states"] = describeAll(parameters.elements());
        if (chosen && selection.file) entry["file"] = text(selection.path);
        if (chosen) entry["path"] = text(selection.path);
        return finish(entry, chosen, nullptr, 0);
    }

  private:
    // Records a creating call: with `key` = `value` when it succeeded, with the error when not
    // (which stays pending for the caller).
    bool finish(json& entry, bool succeeded, const char* key, unsigned value) {
        Error pending = Error::get();
        if (!succeeded)
            entry["error"] = static_cast<unsigned>(pending);
        else if (key)
            entry[key] = value;
        record(entry);
        Error::set(pending);
        return succeeded;
    }

    void record(const json& entry) const {
        std::string line = entry.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
        int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0) return;
        // One append per line, so that lines of threads and of concurrent runs never interleave.
        ssize_t written = ::write(fd, line.data(), line.size());
        (void)written;
        ::close(fd);
    }

    std::string m_path;
};

} // namespace

std::unique_ptr<DialogService> withDialogTranscript(std::unique_ptr<DialogService> inner, std::string path) {
    return std::make_unique<DialogTranscript>(std::move(inner), std::move(path));
}

} // namespace Host
