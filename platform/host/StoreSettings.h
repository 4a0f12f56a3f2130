#pragma once
// Where the remote store is and how to reach it: the program's own settings (ORVANE_REMOTE_*
// variables, then "remote" in the host configuration), then those AWS tools read, in their order.
#include "S3Signature.h"
#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

namespace Libraries::Tarnhold::Remote {

enum class Addressing { Path, Virtual };

struct StoreSettings {
    std::string endpoint; // "http[s]://host[:port][/base]", without a trailing "/"
    std::string bucket, region, prefix;
    Credentials credentials;
    std::string credentialSource; // where the credentials came from, for the log (never the secrets)
    std::string caBundle;
    Addressing addressing = Addressing::Path;
    uint64_t maxBytes = 0; // 0: no limit of our own
    uint64_t multipartThreshold = 0;
    uint64_t partSize = 0;
    unsigned maxAttempts = 0;
    unsigned stallSeconds = 0; // 0: taken from the caller's time limit
    // OpenPGP recipients every upload is encrypted to (fingerprints or key files); none: sent as is.
    std::vector<std::string> encryptTo;
    // What is missing or wrong, said so that the user knows what to set; empty when usable.
    std::string problem;
};

inline constexpr uint64_t MiB = 1024 * 1024;
inline constexpr uint64_t defaultMultipartThreshold = 64 * MiB;
inline constexpr uint64_t defaultPartSize = 16 * MiB;
inline constexpr unsigned defaultMaxAttempts = 3;
inline constexpr const char* defaultRegion = "us-east-1";

// The INI files of AWS tools: "[section]", "key = value", and indented "key = value" lines below a
// "key =" line, named "key.subkey". Sections as written ("profile x" in the config file).
using ProfileFile = std::map<std::string, std::map<std::string, std::string>>;
ProfileFile parseProfileFile(const std::string& text);

// "64MiB", "64MB", "65536", "16M": byte counts as AWS tools write them (binary units); 0 when the
// text is not one.
uint64_t parseByteSize(const std::string& text);

// The settings from the environment, the host configuration's "remote" section and the AWS files.
StoreSettings readStoreSettings(const nlohmann::json& remote);

// A setting's value as an error may show it: its middle masked ("abc***xyz"), so that a secret
// pasted into the wrong setting is never printed whole.
std::string maskedValue(const std::string& value);
// An endpoint as a log line may show it: a user and password in it become "***".
std::string shownEndpoint(const std::string& endpoint);

} // namespace Libraries::Tarnhold::Remote
