#pragma once
// What every mode reads of the application: the parsed command line, the message catalogue and the
// kind of user interface. The application fills it once at start-up; the modes, the storage
// helpers and the notifications take it instead of the application itself, so that nothing below
// the application depends on it.
#include "Parameters.h"
#include "platform/Catalogue.h"

namespace Applications::Commands::Scrivlet {

class RunContext {
  public:
    Ref<String> text(const char* key, unsigned number) const { return catalogue->lookup(key, number); }

    bool uiTypeOther = false;
    Ref<Parameters> parameters;
    Ref<I18N> catalogue;
};

} // namespace Applications::Commands::Scrivlet
