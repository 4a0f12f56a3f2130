// The dialog service's handles: each call goes to the installed DialogService.
#include "DialogService.h"
#include <mutex>
#include <vector>

namespace Services::Skarnel {

namespace Client {

unsigned Service::type(unsigned query) {
    return service<DialogService>().type(query);
}

unsigned Dialog::show(unsigned severity, const Ref<String>& title, const Ref<String>& message,
                      unsigned buttons, unsigned defaultButton) {
    return service<DialogService>().show(severity, title, message, buttons, defaultButton);
}

Ref<Dialog> Dialog::create(const Ref<String>& name) {
    unsigned id = service<DialogService>().newDialogId();
    if (!service<DialogService>().createDialog(id, name)) return {};
    return Ref<Dialog>(new Dialog(id));
}

void Dialog::showWait(unsigned severity, const Ref<String>& title, const Ref<String>& message,
                      unsigned buttons, unsigned defaultButton) const {
    service<DialogService>().showDialog(m_id, severity, title, message, buttons, defaultButton);
    std::unique_lock lock(m_mutex);
    m_closedCv.wait(lock, [this] { return m_closed; });
}

void Dialog::close(unsigned result) const {
    service<DialogService>().closeDialog(m_id, result);
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_closedCv.notify_all();
}

Ref<Progress> Progress::create(const Ref<String>& title, const Ref<String>& message, uint64_t maximum,
                               bool flag1, bool flag2) {
    unsigned id = service<DialogService>().newProgressId();
    if (!service<DialogService>().createProgress(id, title, message, maximum, flag1, flag2)) return {};
    return Ref<Progress>(new Progress(id, maximum));
}

Progress::~Progress() {
    service<DialogService>().closeProgress(m_id);
}

void Progress::setText(const Ref<String>& message) {
    service<DialogService>().progressText(m_id, message);
}

void Progress::setMaximum(uint64_t maximum) {
    m_maximum = maximum;
    service<DialogService>().progressMaximum(m_id, maximum);
}

void Progress::setValue(uint64_t value) {
    service<DialogService>().progressValue(m_id, value, m_maximum);
}

bool Progress::cancelled(bool flag) {
    unsigned query = m_queries.fetch_add(1) + 1;
    return service<DialogService>().progressCancelled(m_id, flag, query);
}

void Progress::beginUpdate() {
    service<DialogService>().progressEvent(m_id, ProgressEvent::BeginUpdate, 0);
}
void Progress::endUpdate() {
    service<DialogService>().progressEvent(m_id, ProgressEvent::EndUpdate, 0);
}
void Progress::restart() {
    service<DialogService>().progressEvent(m_id, ProgressEvent::Restart, 0);
}
void Progress::setStep(uint64_t step) {
    service<DialogService>().progressEvent(m_id, ProgressEvent::Step, step);
}
void Progress::redraw() {
    service<DialogService>().progressEvent(m_id, ProgressEvent::Redraw, 0);
}

Ref<FSItem> FSItem::create(const Ref<Parameters>& parameters) {
    Selection selection;
    if (!service<DialogService>().selectDrive(*parameters, selection)) return {};
    Ref<FSItem> item(new FSItem);
    item->m_path = selection.path;
    item->m_file = selection.file;
    item->m_mount = selection.mount;
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

} // namespace Client
} // namespace Services::Skarnel
