// The host's catalogue: the configured language, and translations read from
// "<catalogue dir>/<name>.<language>.json", an object from English text to translated text.
#include "HostPlatform.h"
#include "HostServices.h"
#include "platform/CatalogueService.h"
#include <nlohmann/json.hpp>

namespace Host {
namespace {

// A released installation (the stage the catalogue of a release build is made for).
constexpr unsigned releasedStage = 3;

class HostCatalogue : public CatalogueService {
  public:
    explicit HostCatalogue(const Config& config) : m_config(config) {}
    std::string language() override { return m_config.language; }
    unsigned releaseStage() override { return releasedStage; }
    std::map<std::string, std::string> texts(const std::string& name, const std::string& language) override {
        std::map<std::string, std::string> translated;
        nlohmann::json file =
            readJsonFile(m_config.catalogueDir + "/" + name + "." + language + ".json", "catalogue")
                .value_or(nlohmann::json());
        if (file.is_object())
            for (const auto& [key, value] : file.items())
                if (value.is_string()) translated[key] = value.get<std::string>();
        return translated;
    }

  private:
    const Config& m_config;
};

} // namespace

void installCatalogue(HostPlatform& platform) {
    installService<CatalogueService>(
        [&platform] { return std::make_unique<HostCatalogue>(platform.config()); });
}

} // namespace Host
