#pragma once
// Request signing for the S3 protocol (AWS Signature Version 4), computed here rather than by the
// HTTP library so that exactly the headers signed are the headers sent, whatever the library adds.
#include "CryptoLibrary.h"
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace Libraries::Tarnhold::Remote {

struct Credentials {
    std::string accessKey, secretKey, sessionToken;
};

// The hash that stands for a body the signature does not cover; Content-MD5 protects it instead.
inline constexpr const char* unsignedPayload = "UNSIGNED-PAYLOAD";

struct SignedRequest {
    std::string method;
    std::string path; // already encoded with encodePath, as it goes on the wire
    std::vector<std::pair<std::string, std::string>> query;   // names and values as they are, unencoded
    std::vector<std::pair<std::string, std::string>> headers; // every header to sign, any case
    std::string payloadHash;                                  // hex SHA-256 of the body, or unsignedPayload
};

// Percent-encodes every byte but the unreserved ones (and "/" in a path), upper-case hexadecimal:
// the one spelling the signature and every server agree on, so no layer has anything to normalise.
std::string uriEncode(std::string_view text, bool keepSlash);
// "20130524T000000Z" for a moment in UTC.
std::string amzDate(std::time_t when);

// Adds "x-amz-date" (and "x-amz-security-token" when the credentials carry one) to the request's
// headers and returns the value of its Authorization header.
std::string signRequest(const Crypto& crypto, SignedRequest& request, const Credentials& credentials,
                        const std::string& region, std::time_t when);

// The intermediate texts, for tests and for diagnosing a refusal.
std::string canonicalRequest(const SignedRequest& request);
std::string signedHeaderList(const SignedRequest& request);

} // namespace Libraries::Tarnhold::Remote
