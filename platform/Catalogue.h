#pragma once
// The catalogue library: the user's language and the program's translated messages.
#include "String.h"
#include <map>
#include <string>

namespace Libraries::Environment {
namespace Locale {
Ref<String> currentLanguage();
}
namespace Release {
unsigned stage();
}
} // namespace Libraries::Environment

// A message catalogue: English is built in (the key is the text); another language is read from
// "<catalogue dir>/<name>.<language>.json", an object from English key to translated text.
class I18N : public Object {
  public:
    static Ref<I18N> create(const char* name, const char* major, const char* minor, const char* language,
                            unsigned stage);
    Ref<String> lookup(const char* key, unsigned number) const;

  private:
    I18N() = default;
    std::map<std::string, std::string> m_texts;
};
