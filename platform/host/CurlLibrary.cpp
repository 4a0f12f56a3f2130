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
        ok = curl.bind(library.globalInit, "curl_global_init") &&
             curl.bind(library.globalCleanup, "curl_global_cleanup") &&
             curl.bind(library.easyInit, "curl_easy_init") &&
             curl.bind(library.easySetopt, "curl_easy_setopt") &&
             curl.bind(library.easyPerform, "curl_easy_perform") &&
             curl.bind(library.easyGetinfo, "curl_easy_getinfo") &&
             curl.bind(library.easyCleanup, "curl_easy_cleanup") && curl.bind(library.free, "curl_free") &&
             curl.bind(library.slistAppend, "curl_slist_append") &&
             curl.bind(library.slistFreeAll, "curl_slist_free_all") &&
             curl.bind(library.easyReset, "curl_easy_reset") &&
             curl.bind(library.easyStrerror, "curl_easy_strerror") &&
             curl.bind(library.versionInfo, "curl_version_info");
        problem = curl.problem();
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
};

} // namespace

const CurlLibrary* CurlLibrary::get(std::string* problem) {
    static Loaded loaded;
    if (problem) *problem = loaded.problem;
    return loaded.ok ? &loaded.library : nullptr;
}

} // namespace Libraries::Tarnhold::Remote
