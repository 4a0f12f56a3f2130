#pragma once
// What the catalogue library's calls reach: one CatalogueService installed when the process starts
// (the host's configured language and catalogue files, or texts a unit test gives).
#include "ServiceSlot.h"
#include <functional>
#include <map>
#include <memory>
#include <string>

class CatalogueService {
  public:
    virtual ~CatalogueService() = default;
    // The user's language, as "en" or "de_AT".
    virtual std::string language() = 0;
    // The release stage of the installation.
    virtual unsigned releaseStage() = 0;
    // The translations of the catalogue `name` into `language`, by English text; empty when there
    // are none.
    virtual std::map<std::string, std::string> texts(const std::string& name,
                                                     const std::string& language) = 0;
};

// The name a use before the service is installed is reported with.
template <> inline constexpr const char* serviceName<CatalogueService> = "catalogue service";
