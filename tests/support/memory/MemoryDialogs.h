#pragma once
// A dialog service that shows nothing: it keeps the messages and drive questions it was asked in
// memory and answers as told, so that tests drive the program's dialogs without a terminal, a
// script file or a process. Progress dialogs are taken and cancelled when told, nothing more.
#include "platform/DialogService.h"
#include <mutex>
#include <string>
#include <vector>

namespace Services::Skarnel {

class MemoryDialogs : public DialogService {
  public:
    struct Message {
        unsigned severity;
        std::string title;
        std::string text;
    };
    // How the next drive-selection dialog ends: with `path` chosen, or with `error`.
    struct DriveAnswer {
        std::string path;
        unsigned error = Errors::DialogClosed;
    };

    // What the service answers.
    unsigned interfaceType = Client::Service::ownInterface;
    unsigned messageAnswer = Client::Dialog::Ok;
    unsigned cancelAtQuery = 0; // a progress dialog is cancelled from this question on; 0: never
    DriveAnswer driveAnswer;

    // What it was asked, in order.
    std::vector<Message> messages() const;
    // The flags of each drive-selection dialog.
    std::vector<unsigned> driveFlags() const;

    unsigned type(unsigned query) override;
    unsigned show(unsigned severity, const Ref<String>& title, const Ref<String>& text, unsigned buttons,
                  unsigned defaultButton) override;
    bool createDialog(unsigned id, const Ref<String>& name) override;
    void showDialog(unsigned id, unsigned severity, const Ref<String>& title, const Ref<String>& text,
                    unsigned buttons, unsigned defaultButton) override;
    void closeDialog(unsigned id, unsigned result) override;
    bool createProgress(unsigned id, const Ref<String>& title, const Ref<String>& text, uint64_t maximum,
                        bool flag1, bool flag2) override;
    void progressText(unsigned id, const Ref<String>& text) override;
    void progressMaximum(unsigned id, uint64_t maximum) override;
    void progressValue(unsigned id, uint64_t value, uint64_t maximum) override;
    bool progressCancelled(unsigned id, bool flag, unsigned query) override;
    void progressEvent(unsigned id, ProgressEvent event, uint64_t step) override;
    void closeProgress(unsigned id) override;
    bool selectDrive(Client::Parameters& parameters, Selection& selection) override;

  private:
    mutable std::mutex m_mutex;
    std::vector<Message> m_messages;
    std::vector<unsigned> m_driveFlags;
};

} // namespace Services::Skarnel
