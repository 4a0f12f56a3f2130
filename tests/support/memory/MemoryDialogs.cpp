#include "MemoryDialogs.h"

namespace Services::Skarnel {

std::vector<MemoryDialogs::Message> MemoryDialogs::messages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::vector<unsigned> MemoryDialogs::driveFlags() const {
    std::lock_guard lock(m_mutex);
    return m_driveFlags;
}

unsigned MemoryDialogs::type(unsigned) {
    return interfaceType;
}

unsigned MemoryDialogs::show(unsigned severity, const Ref<String>& title, const Ref<String>& text, unsigned,
                             unsigned) {
    std::lock_guard lock(m_mutex);
    m_messages.push_back({severity, stdString(title), stdString(text)});
    return messageAnswer;
}

bool MemoryDialogs::createDialog(unsigned, const Ref<String>&) {
    return true;
}

void MemoryDialogs::showDialog(unsigned, unsigned, const Ref<String>&, const Ref<String>&, unsigned,
                               unsigned) {}

void MemoryDialogs::closeDialog(unsigned, unsigned) {}

bool MemoryDialogs::createProgress(unsigned, const Ref<String>&, const Ref<String>&, uint64_t, bool, bool) {
    return true;
}

void MemoryDialogs::progressText(unsigned, const Ref<String>&) {}

void MemoryDialogs::progressMaximum(unsigned, uint64_t) {}

void MemoryDialogs::progressValue(unsigned, uint64_t, uint64_t) {}

bool MemoryDialogs::progressCancelled(unsigned, bool, unsigned query) {
    return cancelAtQuery != 0 && query >= cancelAtQuery;
}

void MemoryDialogs::progressEvent(unsigned, ProgressEvent, uint64_t) {}

void MemoryDialogs::closeProgress(unsigned) {}

bool MemoryDialogs::selectDrive(Client::Parameters& parameters, Selection& selection) {
    std::lock_guard lock(m_mutex);
    m_driveFlags.push_back(parameters.flags());
    if (driveAnswer.path.empty()) {
        Error::set(driveAnswer.error);
        return false;
    }
    selection.path = String::create(driveAnswer.path);
    return true;
}

} // namespace Services::Skarnel
