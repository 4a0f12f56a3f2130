#include "S3Signature.h"
#include <algorithm>
#include <map>

namespace Libraries::Tarnhold::Remote {
namespace {

constexpr const char* algorithm = "AWS4-HMAC-SHA256";
constexpr const char* service = "s3";
constexpr const char* terminator = "aws4_request";

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Header values are signed with surrounding blanks removed and inner runs of blanks made one.
std::string trimmed(std::string_view value) {
    std::string out;
    bool blank = false;
    for (char c : value) {
        if (c == ' ' || c == '\t') {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

// Sorted by lower-case name; a name given twice is signed once with its values joined by commas.
std::map<std::string, std::string> canonicalHeaders(const SignedRequest& request) {
    std::map<std::string, std::string> headers;
    for (const auto& [name, value] : request.headers) {
        std::string& entry = headers[lowerCase(name)];
        entry += (entry.empty() ? "" : ",") + trimmed(value);
    }
    return headers;
}

std::string canonicalQuery(const SignedRequest& request) {
    std::vector<std::pair<std::string, std::string>> encoded;
    for (const auto& [name, value] : request.query)
        encoded.emplace_back(uriEncode(name, false), uriEncode(value, false));
    std::sort(encoded.begin(), encoded.end());
    std::string out;
    for (const auto& [name, value] : encoded)
        out += (out.empty() ? "" : "&") + name + "=" + value;
    return out;
}

std::string scopeDate(const std::string& amzDateText) {
    return amzDateText.substr(0, 8);
}

} // namespace

std::string uriEncode(std::string_view text, bool keepSlash) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        bool unreserved = std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~';
        if (unreserved || (keepSlash && c == '/')) {
            out += static_cast<char>(c);
            continue;
        }
        out += '%';
        out += digits[c >> 4];
        out += digits[c & 0xF];
    }
    return out;
}

std::string amzDate(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[sizeof "20130524T000000Z"];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

std::string signedHeaderList(const SignedRequest& request) {
    std::string out;
    for (const auto& [name, value] : canonicalHeaders(request))
        out += (out.empty() ? "" : ";") + name;
    return out;
}

std::string canonicalRequest(const SignedRequest& request) {
    std::string headerBlock;
    for (const auto& [name, value] : canonicalHeaders(request))
        headerBlock += name + ":" + value + "\n";
    return request.method + "\n" + request.path + "\n" + canonicalQuery(request) + "\n" + headerBlock + "\n" +
           signedHeaderList(request) + "\n" + request.payloadHash;
}

std::string signRequest(const Crypto& crypto, SignedRequest& request, const Credentials& credentials,
                        const std::string& region, std::time_t when) {
    std::string date = amzDate(when);
    request.headers.emplace_back("x-amz-date", date);
    if (!credentials.sessionToken.empty())
        request.headers.emplace_back("x-amz-security-token", credentials.sessionToken);

    std::string scope = scopeDate(date) + "/" + region + "/" + service + "/" + terminator;
    std::string toSign = std::string(algorithm) + "\n" + date + "\n" + scope + "\n" +
                         toHex(crypto.sha256(canonicalRequest(request)));

    std::string key = crypto.hmacSha256("AWS4" + credentials.secretKey, scopeDate(date));
    key = crypto.hmacSha256(key, region);
    key = crypto.hmacSha256(key, service);
    key = crypto.hmacSha256(key, terminator);
    std::string signature = toHex(crypto.hmacSha256(key, toSign));

    return std::string(algorithm) + " Credential=" + credentials.accessKey + "/" + scope +
           ", SignedHeaders=" + signedHeaderList(request) + ", Signature=" + signature;
}

} // namespace Libraries::Tarnhold::Remote
