#pragma once
// The host configuration of the hosted platform: where the platform namespace lives on the host,
// which nodes (drives) exist, what the system answers, and which calls fail on purpose.
#include "Redaction.h"
#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Host {

struct NodeConfig {
    std::string name;       // platform node name, e.g. "/devices/usb/stick"
    std::string hostDir;    // absolute host directory holding the node's files
    std::string mountPoint; // where the node appears in the namespace when mounted
    bool mountedAtStart = false;
    bool drive = false;    // offered in the drive-selection dialog
    bool readOnly = false; // directories open read-only only
    nlohmann::json attributes = nlohmann::json::object();
};

struct PathConfig {
    std::string node;     // node holding the directory
    std::string relative; // directory below the node's mount point
};

struct FaultRule {
    std::string op;
    std::string path; // glob over the platform path (or other subject); empty matches all
    unsigned error = 0x25;
    long skip = 0;        // matching calls that succeed before the rule fires
    long times = -1;      // how often it fires; -1 for always
    long delayMs = 0;     // delay before the call answers
    long long bytes = -1; // for reads and writes: the transfer becomes short after this many bytes
};

// Whether the system log is redacted before it is saved or sent, and what beyond the built-in shapes.
struct PrivacyConfig {
    bool redact = false;
    // The configured patterns and words; the host's own names and people are added when a log is
    // first redacted.
    Redaction::Rules rules;
};

struct Config {
    std::string root;    // ORVANE_ROOT
    std::string fsRoot;  // host directory behind the namespace "/"
    std::string hostCwd; // namespace directory relative paths resolve against
    std::vector<NodeConfig> nodes;
    std::map<unsigned, PathConfig> paths;
    std::string bootParameters;
    std::map<unsigned, long long> sysInfo;
    std::string redirectText; // characters answered by Sys::info 0x20023
    std::optional<std::map<std::string, std::string>> product;
    std::optional<long long> fixedClockMs;
    long long tzOffsetMs = 0;
    std::string language = "en";
    std::string catalogueDir;
    nlohmann::json ui = nlohmann::json::object();
    nlohmann::json syslog = nlohmann::json::object();
    nlohmann::json remote = nlohmann::json::object();
    PrivacyConfig privacy;
    bool hostDrives = true;
    std::string hostMountTable;
    std::vector<std::string> hostDriveRoots;
    std::vector<FaultRule> faultRules;
};

// The fault rules of a run, with how often each has matched and fired.
class FaultRules {
  public:
    explicit FaultRules(const std::vector<FaultRule>& rules);
    // Whether there are any: asked on every platform call, so a run without any takes no lock.
    bool any() const { return !m_rules.empty(); }
    // Whether the call `op` on `subject` is to fail now. Applies the rule's delay. On a hit the
    // rule's error is returned and the rule's counters advance.
    std::optional<unsigned> fault(std::string_view op, const std::string& subject = {});
    // Whether a rule fails the call `op` on `subject` now; its error is then pending (Error::get).
    bool failsNow(std::string_view op, const std::string& subject = {});
    // The byte limit a read or write rule puts on a file opened at `subject`, with its error.
    std::optional<std::pair<long long, unsigned>> byteLimit(std::string_view op, const std::string& subject);

  private:
    struct Counted {
        FaultRule rule;
        long seen = 0;
        long fired = 0;
    };
    std::mutex m_mutex;
    std::vector<Counted> m_rules;
};

// The variable's value, or `fallback` when it is unset or empty.
std::string environmentOr(const char* name, const std::string& fallback);

// Reads the configuration the environment names (creating the embedded default on a first run).
// The configuration of the run: one that cannot be used ends the process (status 78) saying why.
Config loadConfig();
// The configuration in `file`, or nothing with the reason (for tools that must go on).
std::optional<Config> tryLoadConfig(const std::string& file, std::string& problem);

// Writes the embedded default platform below `root` (used by the first run).
void writeEmbeddedDefault(const std::string& root);

unsigned parseNumber(const nlohmann::json& value, unsigned fallback = 0);

// Reads a JSON file of the platform's own (`what` names it in messages: "host configuration",
// "UI script", "catalogue"). An absent file gives nothing, silently; one that cannot be read or
// parsed (a directory, no permission, binary) gives nothing too, with one line on standard error.
std::optional<nlohmann::json> readJsonFile(const std::string& path, const char* what);

// The exit status of a run whose platform cannot be set up (an unusable ORVANE_ROOT): sysexits'
// EX_CONFIG.
inline constexpr int configurationUnusable = 78;

} // namespace Host
