#pragma once
// libcurl, loaded when the remote store is first used. Only the upload modes need it, and mapping
// it with its TLS and directory stacks at start-up would triple the memory of every other mode.
#include <curl/curl.h>
#include <string>

namespace Libraries::Tarnhold::Remote {

struct CurlLibrary {
    CURLcode (*globalInit)(long flags);
    void (*globalCleanup)();
    CURL* (*easyInit)();
    CURLcode (*easySetopt)(CURL* handle, CURLoption option, ...);
    CURLcode (*easyPerform)(CURL* handle);
    CURLcode (*easyGetinfo)(CURL* handle, CURLINFO info, ...);
    void (*easyCleanup)(CURL* handle);
    void (*free)(void* pointer);
    curl_slist* (*slistAppend)(curl_slist* list, const char* text);
    void (*slistFreeAll)(curl_slist* list);
    void (*easyReset)(CURL* handle);
    const char* (*easyStrerror)(CURLcode code);
    curl_version_info_data* (*versionInfo)(CURLversion age);

    // The oldest libcurl the client accepts: it refuses to go on with one that cannot do what the
    // requests need rather than send them some other way.
    static constexpr unsigned minimumVersion = 0x074B00; // 7.75.0
    static constexpr const char* minimumVersionText = "7.75.0";

    // The library, initialised once; null when it cannot be loaded, with the reason in `problem`.
    static const CurlLibrary* get(std::string* problem = nullptr);
};

} // namespace Libraries::Tarnhold::Remote
