// Dialog calls that fail on purpose, by the configuration's fault rules.
#include "Host.h"
#include "HostDialogs.h"

namespace Host {
namespace {

using namespace Services::Skarnel;

class DialogFaults : public DialogServiceProxy {
  public:
    DialogFaults(std::unique_ptr<DialogService> inner, FaultRules& rules)
        : DialogServiceProxy(std::move(inner)), m_rules(rules) {}

    unsigned show(unsigned severity, const Ref<String>& title, const Ref<String>& text, unsigned buttons,
                  unsigned defaultButton) override {
        // A failed dialog answers 0 with the reason pending, as the dialog service does.
        if (m_rules.failsNow("Dialog::show", stdString(title))) return 0;
        return DialogServiceProxy::show(severity, title, text, buttons, defaultButton);
    }
    bool createDialog(unsigned id, const Ref<String>& name) override {
        return !m_rules.failsNow("Dialog::create") && DialogServiceProxy::createDialog(id, name);
    }
    bool createProgress(unsigned id, const Ref<String>& title, const Ref<String>& text, uint64_t maximum,
                        bool flag1, bool flag2) override {
        return !m_rules.failsNow("Progress::create") &&
               DialogServiceProxy::createProgress(id, title, text, maximum, flag1, flag2);
    }
    bool selectDrive(Client::Parameters& parameters, Selection& selection) override {
        return !m_rules.failsNow("FSItem::create") && DialogServiceProxy::selectDrive(parameters, selection);
    }

  private:
    FaultRules& m_rules;
};

} // namespace

std::unique_ptr<DialogService> withDialogFaults(std::unique_ptr<DialogService> inner, FaultRules& rules) {
    return std::make_unique<DialogFaults>(std::move(inner), rules);
}

} // namespace Host
