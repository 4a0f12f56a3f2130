#pragma once
// What the S3 client's two halves (S3Client.cpp: the uploads; S3Transfer.cpp: one request through
// libcurl, and its retries) share: a request as the client asks it, and the answer in words.
#include "S3Client.h"
#include <chrono>
#include <optional>

namespace Libraries::Tarnhold::Remote {

struct S3Client::Request {
    std::string method;
    std::string key; // empty: the bucket itself
    std::vector<std::pair<std::string, std::string>> query;
    std::string contentType;
    std::string text; // a body held in memory
    Services::Filesystem::Client::File* file = nullptr;
    uint64_t offset = 0, length = 0; // or a range of a file
    std::string contentMd5;
    std::string checksumCrc32;
    long timeoutMs = 0; // a limit on the whole request (the reachability check)
    uint64_t progressTotal = 0;
    // How long the answer may take once it has begun; none: the stall limit.
    std::optional<std::chrono::seconds> answerLimit;

    std::string what() const {
        std::string subject = key.empty() ? "bucket" : key;
        for (const auto& [name, value] : query)
            if (name == "partNumber") subject += " part " + value;
        return method + " " + subject;
    }
};

// The answer in a few words for a log line or a message: the store's status, code and message
// (with the bucket's region when the store names it), or libcurl's error.
std::string describe(const Response& response);
// A fraction in [0, 1), spreading the waits of clients that failed together.
double randomFraction();
std::string lowerCase(std::string text);

} // namespace Libraries::Tarnhold::Remote
