#pragma once
// A catalogue whose language and translations a test gives.
#include "platform/CatalogueService.h"

class MemoryCatalogue : public CatalogueService {
  public:
    std::string userLanguage = "en";
    unsigned stage = 0;
    // By catalogue name and language, the translations by English text.
    std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> catalogues;

    std::string language() override { return userLanguage; }
    unsigned releaseStage() override { return stage; }
    std::map<std::string, std::string> texts(const std::string& name, const std::string& language) override {
        auto catalogue = catalogues.find(name);
        if (catalogue == catalogues.end()) return {};
        auto translated = catalogue->second.find(language);
        return translated == catalogue->second.end() ? std::map<std::string, std::string>{}
                                                     : translated->second;
    }
};
