// The catalogue library's calls: English is built in, other languages come from the installed
// CatalogueService.
#include "Catalogue.h"
#include "CatalogueService.h"

namespace {
constexpr const char* builtInLanguage = "en";
} // namespace

namespace Libraries::Environment {
Ref<String> Locale::currentLanguage() {
    return String::create(service<CatalogueService>().language());
}
unsigned Release::stage() {
    return service<CatalogueService>().releaseStage();
}
} // namespace Libraries::Environment

Ref<I18N> I18N::create(const char* name, const char*, const char*, const char* language, unsigned) {
    Ref<I18N> catalogue(new I18N);
    std::string lang = language ? language : builtInLanguage;
    if (lang.empty() || lang == builtInLanguage) return catalogue;
    catalogue->m_texts = service<CatalogueService>().texts(name, lang);
    return catalogue;
}

Ref<String> I18N::lookup(const char* key, unsigned) const {
    auto it = m_texts.find(key);
    return String::create(it == m_texts.end() ? std::string(key) : it->second);
}
