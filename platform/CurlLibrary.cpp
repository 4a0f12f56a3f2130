#include "CurlLibrary.h"
#include <dlfcn.h>
#include <mutex>

namespace Libraries::Tarnhold::Remote {
namespace {

struct Loaded {
    CurlLibrary library{};
    std::string problem;
    bool ok = false;

    Loaded() {
        void* handle = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!handle) handle = dlopen("libcurl.so", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            problem = dlerror();
            return;
        }
        ok = bind(handle, library.globalInit, "curl_global_init") &&
             bind(handle, library.globalCleanup, "curl_global_cleanup") &&
             bind(handle, library.easyInit, "curl_easy_init") &&
             bind(handle, library.easySetopt, "curl_easy_setopt") &&
             bind(handle, library.easyPerform, "curl_easy_perform") &&
             bind(handle, library.easyGetinfo, "curl_easy_getinfo") &&
             bind(handle, library.easyCleanup, "curl_easy_cleanup") &&
             bind(handle, library.free, "curl_free") &&
             bind(handle, library.slistAppend, "curl_slist_append") &&
             bind(handle, library.slistFreeAll, "curl_slist_free_all") &&
             bind(handle, library.easyReset, "curl_easy_reset") &&
             bind(handle, library.easyStrerror, "curl_easy_strerror") &&
             bind(handle, library.versionInfo, "curl_version_info");
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

    template <typename Function> bool bind(void* handle, Function& function, const char* name) {
        function = reinterpret_cast<Function>(dlsym(handle, name));
        if (!function) problem = std::string("libcurl lacks ") + name;
        return function != nullptr;
    }
};

} // namespace

const CurlLibrary* CurlLibrary::get(std::string* problem) {
    static Loaded loaded;
    if (problem) *problem = loaded.problem;
    return loaded.ok ? &loaded.library : nullptr;
}

} // namespace Libraries::Tarnhold::Remote
