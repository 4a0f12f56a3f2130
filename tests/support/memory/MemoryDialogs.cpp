#include "MemoryDialogs.h"
#include <algorithm>

namespace Services::Skarnel {

std::vector<MemoryDialogs::Message> MemoryDialogs::messages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::vector<std::string> MemoryDialogs::calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::map<unsigned, MemoryDialogs::ProgressState> MemoryDialogs::progress() const {
    std::lock_guard lock(m_mutex);
    return m_progress;
}

std::vector<unsigned> MemoryDialogs::driveFlags() const {
    std::lock_guard lock(m_mutex);
    return m_driveFlags;
}

void MemoryDialogs::note(const char* call) {
    m_calls.emplace_back(call);
}

unsigned MemoryDialogs::type(unsigned) {
    std::lock_guard lock(m_mutex);
    note("Service::type");
    return interfaceType;
}

unsigned MemoryDialogs::show(unsigned severity, const Ref<String>& title, const Ref<String>& text, unsigned,
                             unsigned) {
    std::lock_guard lock(m_mutex);
    note("Dialog::show");
    m_messages.push_back({severity, stdString(title), stdString(text)});
    return messageAnswer;
}

bool MemoryDialogs::createDialog(unsigned, const Ref<String>&) {
    std::lock_guard lock(m_mutex);
    note("Dialog::create");
    return true;
}

void MemoryDialogs::showDialog(unsigned, unsigned, const Ref<String>&, const Ref<String>&, unsigned,
                               unsigned) {
    std::lock_guard lock(m_mutex);
    note("Dialog.show");
}

void MemoryDialogs::closeDialog(unsigned, unsigned) {
    std::lock_guard lock(m_mutex);
    note("Dialog.close");
}

bool MemoryDialogs::createProgress(unsigned id, const Ref<String>& title, const Ref<String>& text,
                                   uint64_t maximum, bool, bool) {
    std::lock_guard lock(m_mutex);
    note("Progress::create");
    m_progress[id] = {stdString(title), stdString(text), 0, maximum, true};
    return true;
}

void MemoryDialogs::progressText(unsigned id, const Ref<String>& text) {
    std::lock_guard lock(m_mutex);
    note("Progress.setText");
    m_progress[id].text = stdString(text);
}

void MemoryDialogs::progressMaximum(unsigned id, uint64_t maximum) {
    std::lock_guard lock(m_mutex);
    note("Progress.setMaximum");
    m_progress[id].maximum = maximum;
}

void MemoryDialogs::progressValue(unsigned id, uint64_t value, uint64_t) {
    std::lock_guard lock(m_mutex);
    note("Progress.setValue");
    m_progress[id].value = value;
}

bool MemoryDialogs::progressCancelled(unsigned, bool, unsigned query) {
    std::lock_guard lock(m_mutex);
    note("Progress.cancelled");
    return cancelAtQuery != 0 && query >= cancelAtQuery;
}

void MemoryDialogs::progressEvent(unsigned, ProgressEvent, uint64_t) {
    std::lock_guard lock(m_mutex);
    note("Progress.event");
}

void MemoryDialogs::closeProgress(unsigned id) {
    std::lock_guard lock(m_mutex);
    note("Progress.close");
    m_progress[id].open = false;
}

bool MemoryDialogs::selectDrive(Client::Parameters& parameters, Selection& selection) {
    std::lock_guard lock(m_mutex);
    note("FSItem::create");
    m_driveFlags.push_back(parameters.flags());
    if (driveAnswer.path.empty()) {
        Error::set(driveAnswer.error);
        return false;
    }
    selection.path = String::create(driveAnswer.path);
    return true;
}

} // namespace Services::Skarnel
