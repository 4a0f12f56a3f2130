#include "platform/Catalogue.h"
#include "Host.h"
#include <nlohmann/json.hpp>
#include <string>

namespace Libraries::Environment {
Ref<String> Locale::currentLanguage() {
    return String::create(Host::config().language);
}
unsigned Release::stage() {
    return 3;
}
} // namespace Libraries::Environment

Ref<I18N> I18N::create(const char* name, const char*, const char*, const char* language, unsigned) {
    Ref<I18N> catalogue(new I18N);
    std::string lang = language ? language : "en";
    if (lang.empty() || lang == "en") return catalogue;
    nlohmann::json texts =
        Host::readJsonFile(Host::config().catalogueDir + "/" + name + "." + lang + ".json", "catalogue")
            .value_or(nlohmann::json());
    if (texts.is_object())
        for (const auto& [key, value] : texts.items())
            if (value.is_string()) catalogue->m_texts[key] = value.get<std::string>();
    return catalogue;
}

Ref<String> I18N::lookup(const char* key, unsigned) const {
    auto it = m_texts.find(key);
    return String::create(it == m_texts.end() ? std::string(key) : it->second);
}
