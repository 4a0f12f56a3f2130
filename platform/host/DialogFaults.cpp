// Dialog calls that fail on purpose, by the configuration's fault rules.
#include "Host.h"
#include "HostDialogs.h"

namespace Host {
namespace {

using namespace Services::Skarnel;

class DialogFaults : public DialogServiceProxy {
  public:
    using DialogServiceProxy::DialogServiceProxy;

    unsigned show(unsigned severity, const Ref<String>& title, const Ref<String>& text, unsigned buttons,
                  unsigned defaultButton) override {
        // A failed dialog answers 0 with the reason pending, as the dialog service does.
        if (failsNow("Dialog::show", stdString(title))) return 0;
        return DialogServiceProxy::show(severity, title, text, buttons, defaultButton);
    }
    bool createDialog(unsigned id, const Ref<String>& name) override {
        return !failsNow("Dialog::create") && DialogServiceProxy::createDialog(id, name);
    }
    bool createProgress(unsigned id, const Ref<String>& title, const Ref<String>& text, uint64_t maximum,
                        bool flag1, bool flag2) override {
        return !failsNow("Progress::create") &&
               DialogServiceProxy::createProgress(id, title, text, maximum, flag1, flag2);
    }
    bool selectDrive(Client::Parameters& parameters, Selection& selection) override {
        return !failsNow("FSItem::create") && DialogServiceProxy::selectDrive(parameters, selection);
    }
};

} // namespace

std::unique_ptr<DialogService> withDialogFaults(std::unique_ptr<DialogService> inner) {
    return std::make_unique<DialogFaults>(std::move(inner));
}

} // namespace Host
