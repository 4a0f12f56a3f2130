#include "DeterminePathDialog.h"
#include "FunctionThd.h"
#include "Log.h"
#include "Notifications.h"
#include "platform/Catalogue.h"

namespace Applications::Commands::Scrivlet {

using Services::Skarnel::Client::Dialog;

namespace {
// The wait dialog's thread only shows a dialog; a small stack is plenty.
constexpr unsigned threadStack = 4096;
} // namespace

Ref<DeterminePathDialog> DeterminePathDialog::create(const Ref<String>& title, const Ref<String>& text,
                                                     const Parameters& parameters, const I18N& catalogue) {
    if (!progressRule(parameters)) return {};
    Ref<String> t = isEmpty(title) ? catalogue.lookup("Determining file locations", 65) : title;
    Ref<String> x =
        isEmpty(text)
            ? catalogue.lookup("Determining the locations to use for the file; this will take a while", 66)
            : text;
    Ref<DeterminePathDialog> dialog(new DeterminePathDialog(t, x));
    if (!dialog->m_dialog || !dialog->m_semaphore) return {};
    return dialog;
}

DeterminePathDialog::DeterminePathDialog(const Ref<String>& title, const Ref<String>& text) {
    m_dialog = Dialog::create(Ref<String>());
    m_semaphore = Sem::create(0);
    m_state = Ref<StateWord>(new StateWord);
    if (!m_dialog || !m_semaphore) return;

    Ref<StateWord> state = m_state;
    Ref<Sem> semaphore = m_semaphore;
    Ref<Dialog> dialog = m_dialog;
    auto body = [title, text, state, semaphore, dialog] {
        if (semaphore->wait(showDelayMs)) {
            LogLine(LogLevel::Trace) << "Not showing wait dialog (semaphore signalled)";
            return;
        }
        if (!Atomic::cas(&state->value, 0, 1)) {
            LogLine(LogLevel::Trace) << "Not showing wait dialog (atomic CAS failed)";
            return;
        }
        LogLine(LogLevel::Trace) << "Showing wait dialog";
        dialog->showWait(Dialog::Information, title, text, 0, 0);
    };
    Ref<Libraries::STL::FunctionThd> exec(new Libraries::STL::FunctionThd(std::function<void()>(body)));
    Ref<Thd> thread =
        Thd::create(exec, Thd::defaultPriority, threadStack, threadStack, "DeterminePathDialog");
    if (thread) thread->start();
}

DeterminePathDialog::~DeterminePathDialog() {
    // A dialog whose semaphore could not be made was never shown and has no thread to stop.
    if (!m_dialog || !m_semaphore) return;
    LogLine(LogLevel::Trace) << "Closing wait dialog";
    if (!Atomic::cas(&m_state->value, 0, 1)) Thd::sleep(closePauseMs);
    m_dialog->close(0);
    m_semaphore->signal();
    m_dialog.reset();
    m_semaphore.reset();
}

} // namespace Applications::Commands::Scrivlet
