#pragma once
// A wait dialog for the location search, shown only when the search takes longer than two seconds.
#include "Parameters.h"
#include "platform/Catalogue.h"
#include "platform/Skarnel.h"
#include "platform/System.h"
#include "platform/Text.h"
#include <cstdint>

namespace Applications::Commands::Scrivlet {

class DeterminePathDialog : public Object {
  public:
    static constexpr unsigned showDelayMs = 2000;
    static constexpr unsigned closePauseMs = 100;

    static Ref<DeterminePathDialog> create(const Ref<String>& title, const Ref<String>& text,
                                           const Parameters& parameters, const I18N& catalogue);
    ~DeterminePathDialog() override;

  private:
    DeterminePathDialog(const Ref<String>& title, const Ref<String>& text);

    // 0 undecided; 1 decided, by whichever side changed it first. The word lives in its own block,
    // which the delay thread shares, so that it stays valid until the thread is done with it, while
    // the thread holds no reference that would keep this object (and so the close) from happening.
    struct StateWord : Object {
        volatile uint64_t value = 0;
    };

    Ref<Services::Skarnel::Client::Dialog> m_dialog;
    Ref<Sem> m_semaphore;
    Ref<StateWord> m_state;
};

} // namespace Applications::Commands::Scrivlet
