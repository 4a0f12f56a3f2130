#include "CurlLibrary.h"
#include "LoadedLibrary.h"

namespace Libraries::Tarnhold::Remote {
namespace {

struct Loaded {
    CurlLibrary library{};
    std::string problem;
    bool ok = false;

    Loaded() {
        static LoadedLibrary curl("libcurl.so.4");
        ok = bind(curl, library.globalInit, "curl_global_init") &&
             bind(curl, library.globalCleanup, "curl_global_cleanup") &&
             bind(curl, library.easyInit, "curl_easy_init") &&
             bind(curl, library.easySetopt, "curl_easy_setopt") &&
             bind(curl, library.easyPerform, "curl_easy_perform") &&
             bind(curl, library.easyGetinfo, "curl_easy_getinfo") &&
             bind(curl, library.easyCleanup, "curl_easy_cleanup") && bind(curl, library.free, "curl_free") &&
             bind(curl, library.slistAppend, "curl_slist_append") &&
             bind(curl, library.slistFreeAll, "curl_slist_free_all") &&
             bind(curl, library.easyReset, "curl_easy_reset") &&
             bind(curl, library.easyStrerror, "curl_easy_strerror") &&
             bind(curl, library.versionInfo, "curl_version_info");
        if (ok) ok = recentEnough();
        if (ok) ok = library.globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        if (!ok && problem.empty()) problem = "libcurl could not be initialised";
    }
    ~Loaded() {
        if (ok) library.globalCleanup();
    }

    bool recentEnough() {
        const curl_version_info_data* info = library.versionInfo(CURLVERSION_NOW);
        if (info && info->version_num >= CurlLibrary::minimumVersion) return true;
        problem = std::string("libcurl ") + (info && info->version ? info->version : "of unknown version") +
                  " is older than " + CurlLibrary::minimumVersionText + ", the oldest this client uses";
        return false;
    }

    template <typename Function> bool bind(LoadedLibrary& curl, Function& function, const char* name) {
        if (curl.bind(function, name)) return true;
        problem = curl.problem();
        return false;
    }
};

} // namespace

const CurlLibrary* CurlLibrary::get(std::string* problem) {
    static Loaded loaded;
    if (problem) *problem = loaded.problem;
    return loaded.ok ? &loaded.library : nullptr;
}

} // namespace Libraries::Tarnhold::Remote
