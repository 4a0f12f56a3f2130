#include "StoreSettings.h"
#include "Host.h"
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace Libraries::Tarnhold::Remote {
namespace {

constexpr unsigned mostAttempts = 20;
constexpr unsigned longestStallSeconds = 3600;

std::string environment(const char* name) {
    return Host::environmentOr(name, "");
}

// A value of "remote" in the host configuration, as text whether written as a string or a number.
std::string configured(const nlohmann::json& remote, const char* key) {
    if (!remote.contains(key)) return {};
    const auto& value = remote[key];
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_unsigned()) return std::to_string(value.get<uint64_t>());
    return {};
}

// The program's own setting: its variable, then the host configuration.
std::string own(const nlohmann::json& remote, const char* variable, const char* key) {
    std::string value = environment(variable);
    return value.empty() ? configured(remote, key) : value;
}

std::string firstOf(std::initializer_list<std::string> values) {
    for (const std::string& value : values)
        if (!value.empty()) return value;
    return {};
}

std::string homeDirectory() {
    std::string home = environment("HOME");
    if (!home.empty()) return home;
    if (const passwd* user = getpwuid(getuid())) return user->pw_dir;
    return {};
}

// The text of an AWS file; one that is there but cannot be read is named in `unreadable`, as a
// missing profile would be: the run would otherwise go on without its credentials.
std::string readText(const std::string& path, std::string& unreadable) {
    std::ifstream in(path);
    if (!in) {
        struct stat st {};
        int err = errno;
        if (stat(path.c_str(), &st) == 0 && unreadable.empty())
            unreadable = path + " cannot be read: " + std::strerror(err);
        return {};
    }
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The profile's entries from the credentials file and the config file, the former first.
struct Profile {
    std::map<std::string, std::string> credentials, config;
    std::string name;
    bool missing = false;
    std::string files;      // where it was looked for
    std::string unreadable; // a file of them that is there but cannot be read
    std::string get(const std::string& key) const {
        if (auto it = credentials.find(key); it != credentials.end()) return it->second;
        if (auto it = config.find(key); it != config.end()) return it->second;
        return {};
    }
};

Profile readProfile(const nlohmann::json& remote) {
    Profile profile;
    profile.name = firstOf({environment("AWS_PROFILE"), configured(remote, "profile"), "default"});
    std::string home = homeDirectory();
    std::string credentialsFile =
        firstOf({environment("AWS_SHARED_CREDENTIALS_FILE"), home.empty() ? "" : home + "/.aws/credentials"});
    std::string configFile =
        firstOf({environment("AWS_CONFIG_FILE"), home.empty() ? "" : home + "/.aws/config"});
    bool found = false;
    if (!credentialsFile.empty()) {
        ProfileFile credentials = parseProfileFile(readText(credentialsFile, profile.unreadable));
        found = credentials.count(profile.name) != 0;
        profile.credentials = credentials[profile.name];
    }
    if (!configFile.empty()) {
        ProfileFile config = parseProfileFile(readText(configFile, profile.unreadable));
        std::string section = profile.name == "default" ? "default" : "profile " + profile.name;
        found = found || config.count(section) != 0;
        profile.config = config[section];
    }
    // A profile asked for by name that is in neither file is a mistake, as aws-cli says; the
    // default profile may be missing.
    profile.missing = !found && profile.name != "default";
    profile.files = credentialsFile + " or " + configFile;
    return profile;
}

// A value holding a control character (CR and LF above all) would end a request's header early and
// let the rest forge another. It is refused by the setting's name; the value is never shown.
bool hasControlCharacter(const std::string& value) {
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

void refuseControlCharacters(StoreSettings& s, const std::string& value, const std::string& name) {
    if (hasControlCharacter(value))
        s.problem = name + " holds a control character (a line break, perhaps): set it again without";
}

// Credentials come whole from one place: a key of one source is never paired with another's secret.
void chooseCredentials(StoreSettings& s, const Profile& profile, const nlohmann::json& remote) {
    Credentials own{
        firstOf({environment("ORVANE_REMOTE_ACCESS_KEY"), configured(remote, "accessKey")}),
        firstOf({environment("ORVANE_REMOTE_SECRET_KEY"), configured(remote, "secretKey")}),
        firstOf({environment("ORVANE_REMOTE_SESSION_TOKEN"), configured(remote, "sessionToken")})};
    Credentials aws{environment("AWS_ACCESS_KEY_ID"), environment("AWS_SECRET_ACCESS_KEY"),
                    environment("AWS_SESSION_TOKEN")};
    Credentials fromProfile{profile.get("aws_access_key_id"), profile.get("aws_secret_access_key"),
                            profile.get("aws_session_token")};
    // Where each of the three comes from, to name it.
    std::array<std::string, 3> names;
    if (!own.accessKey.empty()) {
        s.credentials = own;
        s.credentialSource = "ORVANE_REMOTE_ACCESS_KEY / remote.accessKey";
        names = {"ORVANE_REMOTE_ACCESS_KEY (or remote.accessKey)",
                 "ORVANE_REMOTE_SECRET_KEY (or remote.secretKey)",
                 "ORVANE_REMOTE_SESSION_TOKEN (or remote.sessionToken)"};
    } else if (!aws.accessKey.empty()) {
        s.credentials = aws;
        s.credentialSource = "AWS_ACCESS_KEY_ID";
        names = {"AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY", "AWS_SESSION_TOKEN"};
    } else if (!fromProfile.accessKey.empty()) {
        s.credentials = fromProfile;
        s.credentialSource = "profile " + profile.name;
        names = {"aws_access_key_id of profile " + profile.name,
                 "aws_secret_access_key of profile " + profile.name,
                 "aws_session_token of profile " + profile.name};
    }
    refuseControlCharacters(s, s.credentials.accessKey, names[0]);
    refuseControlCharacters(s, s.credentials.secretKey, names[1]);
    refuseControlCharacters(s, s.credentials.sessionToken, names[2]);
    if (!s.credentials.accessKey.empty() && s.credentials.secretKey.empty())
        s.problem = "the remote store's access key has no secret key: set it where the access key is set (" +
                    s.credentialSource + ")";
}

uint64_t byteSetting(const nlohmann::json& remote, const char* variable, const char* key, uint64_t fallback,
                     StoreSettings& s) {
    std::string text = own(remote, variable, key);
    if (text.empty()) return fallback;
    uint64_t value = parseByteSize(text);
    if (value == 0 && text != "0")
        s.problem = std::string(variable) + " (or remote." + key + ") is not a size in bytes: \"" +
                    maskedValue(text) + "\"";
    return value;
}

unsigned countSetting(const std::string& text, const char* name, unsigned fallback, unsigned most,
                      StoreSettings& s) {
    if (text.empty()) return fallback;
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (*end != '\0' || value == 0 || value > most) {
        s.problem = std::string(name) + " is not a whole number from 1 to " + std::to_string(most) + ": \"" +
                    maskedValue(text) + "\"";
        return fallback;
    }
    return static_cast<unsigned>(value);
}

void chooseAddressing(StoreSettings& s, const Profile& profile, const nlohmann::json& remote) {
    std::string style = firstOf({own(remote, "ORVANE_REMOTE_ADDRESSING_STYLE", "addressingStyle"),
                                 profile.get("s3.addressing_style"), "path"});
    if (style == "path" || style == "auto")
        s.addressing = Addressing::Path;
    else if (style == "virtual")
        s.addressing = Addressing::Virtual;
    else
        s.problem =
            "remote.addressingStyle must be \"path\" or \"virtual\", not \"" + maskedValue(style) + "\"";
}

} // namespace

std::string maskedValue(const std::string& value) {
    // Enough of each end to recognise a typing mistake, never enough of a pasted secret to use it.
    constexpr size_t longValue = 12, shortValue = 6;
    size_t kept = value.size() >= longValue ? 3 : value.size() >= shortValue ? 1 : 0;
    std::string shown = value.substr(0, kept) + "***" + value.substr(value.size() - kept);
    for (char& c : shown)
        if (hasControlCharacter(std::string(1, c))) c = '?';
    return shown;
}

std::string shownEndpoint(const std::string& endpoint) {
    size_t scheme = endpoint.find("://");
    size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    size_t end = endpoint.find_first_of("/?#", start);
    size_t at = endpoint.rfind('@', end == std::string::npos ? endpoint.size() : end);
    if (at == std::string::npos || at < start) return endpoint;
    return endpoint.substr(0, start) + "***" + endpoint.substr(at);
}

ProfileFile parseProfileFile(const std::string& text) {
    ProfileFile file;
    std::string section, parent;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        bool indented = !line.empty() && (line[0] == ' ' || line[0] == '\t');
        std::string content = trim(line);
        if (content.empty() || content[0] == '#' || content[0] == ';') continue;
        if (content.front() == '[' && content.back() == ']') {
            section = trim(content.substr(1, content.size() - 2));
            parent.clear();
            continue;
        }
        size_t equals = content.find('=');
        if (equals == std::string::npos || section.empty()) continue;
        std::string key = trim(content.substr(0, equals)), value = trim(content.substr(equals + 1));
        if (indented && !parent.empty()) {
            file[section][parent + "." + key] = value;
            continue;
        }
        parent = value.empty() ? key : "";
        if (!value.empty()) file[section][key] = value;
    }
    return file;
}

uint64_t parseByteSize(const std::string& text) {
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (end == text.c_str()) return 0;
    std::string unit = trim(end);
    static const std::map<std::string, unsigned> shifts{{"", 0},     {"B", 0},   {"K", 10},  {"KB", 10},
                                                        {"KiB", 10}, {"M", 20},  {"MB", 20}, {"MiB", 20},
                                                        {"G", 30},   {"GB", 30}, {"GiB", 30}};
    auto shift = shifts.find(unit);
    if (shift == shifts.end() || value > (~0ULL >> shift->second)) return 0;
    return static_cast<uint64_t>(value) << shift->second;
}

namespace {

// ORVANE_REMOTE_ENCRYPT_TO (separated by commas), else remote.encryptTo (a list, or one text).
std::vector<std::string> recipients(const nlohmann::json& remote) {
    std::vector<std::string> list;
    std::string variable = environment("ORVANE_REMOTE_ENCRYPT_TO");
    if (!variable.empty()) {
        std::istringstream in(variable);
        for (std::string item; std::getline(in, item, ',');) {
            size_t first = item.find_first_not_of(' '), last = item.find_last_not_of(' ');
            if (first != std::string::npos) list.push_back(item.substr(first, last - first + 1));
        }
        return list;
    }
    auto configured = remote.find("encryptTo");
    if (configured == remote.end()) return list;
    if (configured->is_string()) return {configured->get<std::string>()};
    for (const auto& item : *configured)
        if (item.is_string()) list.push_back(item.get<std::string>());
    return list;
}

} // namespace

StoreSettings readStoreSettings(const nlohmann::json& remote) {
    StoreSettings s;
    Profile profile = readProfile(remote);
    s.endpoint = firstOf({own(remote, "ORVANE_REMOTE_ENDPOINT", "endpoint"),
                          environment("AWS_ENDPOINT_URL_S3"), environment("AWS_ENDPOINT_URL"),
                          profile.get("s3.endpoint_url"), profile.get("endpoint_url")});
    while (!s.endpoint.empty() && s.endpoint.back() == '/')
        s.endpoint.pop_back();
    s.bucket = own(remote, "ORVANE_REMOTE_BUCKET", "bucket");
    s.prefix = own(remote, "ORVANE_REMOTE_PREFIX", "prefix");
    s.region = firstOf({own(remote, "ORVANE_REMOTE_REGION", "region"), environment("AWS_REGION"),
                        environment("AWS_DEFAULT_REGION"), profile.get("region"), defaultRegion});
    s.caBundle = firstOf({own(remote, "ORVANE_REMOTE_CA_BUNDLE", "caBundle"), environment("AWS_CA_BUNDLE"),
                          profile.get("ca_bundle")});
    if (profile.missing)
        s.problem = "the config profile (" + profile.name + ") could not be found in " + profile.files +
                    " (AWS_PROFILE or remote.profile names it)";
    if (!profile.unreadable.empty()) s.problem = "the AWS file " + profile.unreadable;
    chooseCredentials(s, profile, remote);
    chooseAddressing(s, profile, remote);
    s.maxBytes = byteSetting(remote, "ORVANE_REMOTE_MAX_BYTES", "maxBytes", 0, s);
    s.multipartThreshold = byteSetting(remote, "ORVANE_REMOTE_MULTIPART_THRESHOLD", "multipartThreshold",
                                       defaultMultipartThreshold, s);
    s.partSize = byteSetting(remote, "ORVANE_REMOTE_PART_SIZE", "partSize", defaultPartSize, s);
    s.maxAttempts = countSetting(firstOf({own(remote, "ORVANE_REMOTE_MAX_ATTEMPTS", "maxAttempts"),
                                          environment("AWS_MAX_ATTEMPTS"), profile.get("max_attempts")}),
                                 "ORVANE_REMOTE_MAX_ATTEMPTS", defaultMaxAttempts, mostAttempts, s);
    s.stallSeconds = countSetting(own(remote, "ORVANE_REMOTE_STALL_SECONDS", "stallSeconds"),
                                  "ORVANE_REMOTE_STALL_SECONDS", 0, longestStallSeconds, s);
    s.encryptTo = recipients(remote);
    refuseControlCharacters(s, s.endpoint,
                            "the remote store's endpoint (ORVANE_REMOTE_ENDPOINT or remote.endpoint, "
                            "AWS_ENDPOINT_URL_S3, AWS_ENDPOINT_URL or the AWS profile)");
    refuseControlCharacters(s, s.bucket, "ORVANE_REMOTE_BUCKET (or remote.bucket)");
    refuseControlCharacters(s, s.prefix, "ORVANE_REMOTE_PREFIX (or remote.prefix)");
    refuseControlCharacters(s, s.region,
                            "the remote store's region (ORVANE_REMOTE_REGION or remote.region, "
                            "AWS_REGION, AWS_DEFAULT_REGION or the AWS profile)");
    refuseControlCharacters(s, s.caBundle,
                            "the CA bundle (ORVANE_REMOTE_CA_BUNDLE or remote.caBundle, "
                            "AWS_CA_BUNDLE or the AWS profile)");
    bool web = s.endpoint.rfind("http://", 0) == 0 || s.endpoint.rfind("https://", 0) == 0;
    if (!s.endpoint.empty() && !web)
        s.problem = "the remote store's endpoint must begin with http:// or https://: \"" +
                    maskedValue(s.endpoint) + "\"";
    return s;
}

} // namespace Libraries::Tarnhold::Remote
