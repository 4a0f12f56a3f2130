// The catalogue library's calls: English is built in, other languages come from the installed
// CatalogueService.
#include "Catalogue.h"
#include "CatalogueService.h"
#include "ServiceSlot.h"

namespace {
ServiceSlot<CatalogueService>& installed() {
    return slotFor<CatalogueService>("catalogue service");
}
constexpr const char* builtInLanguage = "en";
} // namespace

void installCatalogueService(CatalogueServiceFactory factory) {
    installed().install(std::move(factory));
}

void installCatalogueService(std::unique_ptr<CatalogueService> service) {
    installed().install(std::move(service));
}

CatalogueService& catalogueService() {
    return installed().get();
}

namespace Libraries::Environment {
Ref<String> Locale::currentLanguage() {
    return String::create(catalogueService().language());
}
unsigned Release::stage() {
    return catalogueService().releaseStage();
}
} // namespace Libraries::Environment

Ref<I18N> I18N::create(const char* name, const char*, const char*, const char* language, unsigned) {
    Ref<I18N> catalogue(new I18N);
    std::string lang = language ? language : builtInLanguage;
    if (lang.empty() || lang == builtInLanguage) return catalogue;
    catalogue->m_texts = catalogueService().texts(name, lang);
    return catalogue;
}

Ref<String> I18N::lookup(const char* key, unsigned) const {
    auto it = m_texts.find(key);
    return String::create(it == m_texts.end() ? std::string(key) : it->second);
}
