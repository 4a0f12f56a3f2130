#pragma once
// What the dialog service's calls reach. Dialog, Progress and FSItem are thin handles; the work is
// done by one DialogService installed when the process starts: the host's dialogs in the program,
// an in-memory one in unit tests. Decorators (DialogServiceProxy) wrap a service to record or to
// fail its calls without the service knowing.
#include "Error.h"
#include "ServiceSlot.h"
#include "Skarnel.h"
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace Services::Skarnel {

// What a drive-selection dialog ended with.
struct Selection {
    Ref<String> path;                             // the place chosen (a file there with renaming)
    Ref<Services::Filesystem::Client::File> file; // the file created under the typed name
    Ref<Services::Mount::Client::Entry> mount;    // the chosen drive's mount, kept for the run
    bool forcedBoot = false;                      // the boot drive was taken without asking
};

// The calls of a progress dialog that change nothing a person sees on this platform.
enum class ProgressEvent { BeginUpdate, EndUpdate, Restart, Step, Redraw };

class DialogService {
  public:
    virtual ~DialogService() = default;

    virtual unsigned type(unsigned query) = 0;
    // Blocks until answered; 0 with the reason in Error::get when no dialog could be shown.
    virtual unsigned show(unsigned severity, const Ref<String>& title, const Ref<String>& text,
                          unsigned buttons, unsigned defaultButton) = 0;

    // A dialog that stays up until closed. false with the reason in Error::get.
    virtual bool createDialog(unsigned id, const Ref<String>& name) = 0;
    // Puts the dialog up and returns; the handle waits for closeDialog.
    virtual void showDialog(unsigned id, unsigned severity, const Ref<String>& title, const Ref<String>& text,
                            unsigned buttons, unsigned defaultButton) = 0;
    virtual void closeDialog(unsigned id, unsigned result) = 0;

    // false with the reason in Error::get.
    virtual bool createProgress(unsigned id, const Ref<String>& title, const Ref<String>& text,
                                uint64_t maximum, bool flag1, bool flag2) = 0;
    virtual void progressText(unsigned id, const Ref<String>& text) = 0;
    virtual void progressMaximum(unsigned id, uint64_t maximum) = 0;
    virtual void progressValue(unsigned id, uint64_t value, uint64_t maximum) = 0;
    // `query` counts the questions asked of this dialog, from 1.
    virtual bool progressCancelled(unsigned id, bool flag, unsigned query) = 0;
    virtual void progressEvent(unsigned id, ProgressEvent event, uint64_t step) = 0;
    virtual void closeProgress(unsigned id) = 0;

    // The drive-selection dialog; may change the states of the parameters' elements. false with the
    // reason in Error::get (0x2007 when the user closed it without a choice).
    virtual bool selectDrive(Client::Parameters& parameters, Selection& selection) = 0;

    // Numbers for the handles made through this service (dialogs and progress dialogs each count
    // on their own), so that each installed service starts from 1.
    unsigned newDialogId() { return m_nextDialogId++; }
    unsigned newProgressId() { return m_nextProgressId++; }

  private:
    std::atomic<unsigned> m_nextDialogId{1};
    std::atomic<unsigned> m_nextProgressId{1};
};

// Forwards every call to the service it wraps; a decorator overrides the calls it watches.
class DialogServiceProxy : public DialogService {
  public:
    explicit DialogServiceProxy(std::unique_ptr<DialogService> inner) : m_inner(std::move(inner)) {}

    unsigned type(unsigned query) override { return m_inner->type(query); }
    unsigned show(unsigned severity, const Ref<String>& title, const Ref<String>& text, unsigned buttons,
                  unsigned defaultButton) override {
        return m_inner->show(severity, title, text, buttons, defaultButton);
    }
    bool createDialog(unsigned id, const Ref<String>& name) override {
        return m_inner->createDialog(id, name);
    }
    void showDialog(unsigned id, unsigned severity, const Ref<String>& title, const Ref<String>& text,
                    unsigned buttons, unsigned defaultButton) override {
        m_inner->showDialog(id, severity, title, text, buttons, defaultButton);
    }
    void closeDialog(unsigned id, unsigned result) override { m_inner->closeDialog(id, result); }
    bool createProgress(unsigned id, const Ref<String>& title, const Ref<String>& text, uint64_t maximum,
                        bool flag1, bool flag2) override {
        return m_inner->createProgress(id, title, text, maximum, flag1, flag2);
    }
    void progressText(unsigned id, const Ref<String>& text) override { m_inner->progressText(id, text); }
    void progressMaximum(unsigned id, uint64_t maximum) override { m_inner->progressMaximum(id, maximum); }
    void progressValue(unsigned id, uint64_t value, uint64_t maximum) override {
        m_inner->progressValue(id, value, maximum);
    }
    bool progressCancelled(unsigned id, bool flag, unsigned query) override {
        return m_inner->progressCancelled(id, flag, query);
    }
    void progressEvent(unsigned id, ProgressEvent event, uint64_t step) override {
        m_inner->progressEvent(id, event, step);
    }
    void closeProgress(unsigned id) override { m_inner->closeProgress(id); }
    bool selectDrive(Client::Parameters& parameters, Selection& selection) override {
        return m_inner->selectDrive(parameters, selection);
    }

  private:
    std::unique_ptr<DialogService> m_inner;
};

} // namespace Services::Skarnel

// The name a use before the service is installed is reported with.
template <> inline constexpr const char* serviceName<Services::Skarnel::DialogService> = "dialog service";
