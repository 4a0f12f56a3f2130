// A stand-in for libcurl, loaded in its place through LD_LIBRARY_PATH, that claims the version in
// FAKE_CURL_VERSION (hexadecimal, as curl_version_info gives it), refuses the option numbered in
// FAKE_CURL_REFUSE, and creates the file FAKE_CURL_PERFORMED if a request is ever performed.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <string>

namespace {

int fakeHandle;

unsigned long environmentNumber(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::strtoul(value, nullptr, 0) : 0;
}

} // namespace

extern "C" {

CURLcode curl_global_init(long) {
    return CURLE_OK;
}
void curl_global_cleanup() {}
CURL* curl_easy_init() {
    return &fakeHandle;
}
void curl_easy_reset(CURL*) {}
void curl_easy_cleanup(CURL*) {}
CURLcode curl_easy_setopt(CURL*, CURLoption option, ...) {
    return static_cast<unsigned long>(option) == environmentNumber("FAKE_CURL_REFUSE") ? CURLE_UNKNOWN_OPTION
                                                                                       : CURLE_OK;
}
CURLcode curl_easy_perform(CURL*) {
    if (const char* marker = std::getenv("FAKE_CURL_PERFORMED"))
        if (FILE* f = std::fopen(marker, "w")) std::fclose(f);
    return CURLE_COULDNT_CONNECT;
}
CURLcode curl_easy_getinfo(CURL*, CURLINFO, ...) {
    return CURLE_UNKNOWN_OPTION;
}
const char* curl_easy_strerror(CURLcode) {
    return "refused by the stand-in";
}
void curl_free(void* p) {
    std::free(p);
}
curl_slist* curl_slist_append(curl_slist* list, const char*) {
    return list;
}
void curl_slist_free_all(curl_slist*) {}
curl_version_info_data* curl_version_info(CURLversion) {
    static curl_version_info_data info{};
    static std::string text;
    unsigned long version = environmentNumber("FAKE_CURL_VERSION");
    text = std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xFF) + "." +
           std::to_string(version & 0xFF);
    info.version = text.c_str();
    info.version_num = static_cast<unsigned int>(version);
    return &info;
}
}
