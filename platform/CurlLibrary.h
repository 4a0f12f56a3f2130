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
    char* (*easyEscape)(CURL* handle, const char* text, int length);
    void (*free)(void* pointer);
    curl_slist* (*slistAppend)(curl_slist* list, const char* text);
    void (*slistFreeAll)(curl_slist* list);

    // The library, initialised once; null when it cannot be loaded, with the reason in `problem`.
    static const CurlLibrary* get(std::string* problem = nullptr);
};

} // namespace Libraries::Tarnhold::Remote
