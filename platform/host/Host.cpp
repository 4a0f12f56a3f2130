#include "Host.h"
#include "HostPlatform.h"
#include "platform/Error.h"
#include "platform/System.h"
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fnmatch.h>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace Host {

std::string environmentOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

namespace {

// A whole number of the configuration. A fraction, or a number too large to be one, is refused as
// a value of another type is: converting it would be undefined.
long long wholeNumber(const json& value, const char* key) {
    if (value.is_number_integer()) return value.get<long long>();
    throw std::invalid_argument(std::string(key) + " must be a whole number, not " + value.dump());
}

long long wholeSetting(const json& object, const char* key, long long fallback) {
    auto found = object.find(key);
    return found == object.end() ? fallback : wholeNumber(*found, key);
}

std::string defaultRoot() {
    std::string data = environmentOr("XDG_DATA_HOME", environmentOr("HOME", "/tmp") + "/.local/share");
    return data + "/scrivletv2";
}

std::string hostPath(const std::string& root, const std::string& path) {
    if (path.empty()) return root;
    return path[0] == '/' ? path : root + "/" + path;
}

void readNodes(Config& c, const json& j) {
    for (const json& n : j.value("nodes", json::array())) {
        NodeConfig node;
        node.name = n.value("name", "");
        node.hostDir = hostPath(c.root, n.value("host", ""));
        node.mountPoint = n.value("mount", "");
        node.mountedAtStart = n.value("mounted", false);
        node.drive = n.value("drive", false);
        node.readOnly = n.value("readOnly", false);
        node.attributes = n.value("attributes", json::object());
        c.nodes.push_back(std::move(node));
    }
}

void readSystem(Config& c, const json& j) {
    // The defaults describe a Linux host with host-path handling: hosted (not standalone), not
    // Windows, a host whose root is a node of its own, host paths reached directly.
    c.sysInfo = {{Sys::Key::Standalone, 1},
                 {Sys::Key::HostKind, 0},
                 {Sys::Key::HostFamily, Sys::hostWithRootNode},
                 {Sys::Key::HostPaths, 1}};
    const json sysInfo = j.value("sysInfo", json::object());
    for (const auto& [key, value] : sysInfo.items())
        c.sysInfo[std::stoul(key, nullptr, 0)] = wholeNumber(value, "sysInfo");
    c.bootParameters = j.value("bootParameters", "");
    if (j.contains("product") && j["product"].is_object()) {
        std::map<std::string, std::string> product;
        for (const auto& [key, value] : j["product"].items())
            product[key] = value.get<std::string>();
        c.product = product;
    }
    json clock = j.value("clock", json::object());
    if (clock.contains("fixedMs")) c.fixedClockMs = wholeNumber(clock["fixedMs"], "clock.fixedMs");
    c.tzOffsetMs = wholeSetting(clock, "tzOffsetMs", 0);
    const json paths = j.value("paths", json::object());
    for (const auto& [key, value] : paths.items())
        c.paths[std::stoul(key, nullptr, 0)] = {value.value("node", ""), value.value("path", "")};
}

// An environment variable that cannot be used: the run ends naming the variable, not the file.
struct EnvironmentProblem : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

// A yes-or-no of the environment: true or false, or nothing when it is not set.
std::optional<bool> environmentSwitch(const char* name) {
    std::string value = environmentOr(name, "");
    if (value.empty()) return std::nullopt;
    if (value == "1" || value == "yes" || value == "true" || value == "on") return true;
    if (value == "0" || value == "no" || value == "false" || value == "off") return false;
    throw EnvironmentProblem("the environment variable " + std::string(name) + " is \"" + value +
                             "\"; set it to 1 or 0 (yes or no), or unset it");
}

std::vector<std::string> strings(const json& object, const char* key) {
    return object.value(key, std::vector<std::string>{});
}

// "privacy": {"redact": true, "patterns": [{"kind": "ticket", "regex": "TCK-[0-9]+"}], "words": [...],
// "keep": [...], "users": [...]}; ORVANE_REDACT switches redaction on or off over it.
void readPrivacy(Config& c, const json& j) {
    const json privacy = j.value("privacy", json::object());
    PrivacyConfig& p = c.privacy;
    p.redact = environmentSwitch("ORVANE_REDACT").value_or(privacy.value("redact", false));
    for (const json& pattern : privacy.value("patterns", json::array())) {
        Redaction::Rules::Pattern added{pattern.value("kind", ""), pattern.value("regex", "")};
        std::string problem;
        if (!Redaction::kindUsable(added.kind))
            throw std::invalid_argument("privacy.patterns: the kind \"" + added.kind +
                                        "\" must be lowercase letters and digits");
        if (!Redaction::patternUsable(added.regex, problem))
            throw std::invalid_argument("privacy.patterns: " + added.regex + ": " + problem);
        p.rules.patterns.push_back(added);
    }
    p.rules.words = strings(privacy, "words");
    p.rules.keep = strings(privacy, "keep");
    p.rules.userNames = strings(privacy, "users");
}

std::string defaultCwd(const Config& c) {
    for (const NodeConfig& node : c.nodes) {
        if (node.name != "/devices/linux/root" || !node.mountedAtStart) continue;
        std::error_code ec;
        fs::path cwd = fs::current_path(ec);
        fs::path rel = cwd.lexically_relative(node.hostDir);
        if (ec || rel.empty() || rel.string().rfind("..", 0) == 0) return node.mountPoint;
        return rel == "." ? node.mountPoint : node.mountPoint + "/" + rel.string();
    }
    return "/";
}

void readConfig(Config& c, const json& j);

// The text of a small regular file: false with the reason when there is none to read (`missing`
// when the file does not exist).
bool readSmallFile(const std::string& path, std::string& text, std::string& problem, bool& missing) {
    constexpr size_t largest = 64 << 20;
    // Non-blocking, so that a FIFO in its place cannot hold the run up.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    missing = fd < 0 && errno == ENOENT;
    if (fd < 0) {
        problem = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        problem = "not a regular file";
    } else if (static_cast<size_t>(st.st_size) > largest) {
        problem = "too large";
    } else {
        text.resize(static_cast<size_t>(st.st_size));
        ssize_t n = pread(fd, text.data(), text.size(), 0);
        if (n < 0) problem = std::strerror(errno);
        text.resize(n < 0 ? 0 : static_cast<size_t>(n));
    }
    ::close(fd);
    return problem.empty();
}

// An exception's text without the library's "[json.exception...] " tag.
std::string withoutExceptionTag(const std::string& what) {
    size_t tag = what.find("] ");
    return tag == std::string::npos ? what : what.substr(tag + 2);
}

// The parser's own words, where it stopped: "parse error at line 3, column 5: ...".
std::string parseProblem(const std::string& text) {
    try {
        json parsed = json::parse(text, nullptr, true, true);
        (void)parsed;
    } catch (const json::exception& e) {
        return withoutExceptionTag(e.what());
    }
    return "not valid JSON";
}

// A configuration that cannot be used ends the run before anything is done, saying where and why:
// going on with the defaults would fail later for a reason that has nothing to do with it.
// The configuration in `file` over `base` (no file: the base and its defaults), or nothing with
// the reason.
std::optional<Config> readHostConfiguration(const std::string& file, const Config& base,
                                            std::string& problem) {
    std::string text;
    bool missing = false;
    json j = json::object();
    if (!readSmallFile(file, text, problem, missing)) {
        if (!missing) return std::nullopt;
        problem.clear();
    } else {
        j = json::parse(text, nullptr, false, true);
        if (j.is_discarded())
            problem = parseProblem(text);
        else if (!j.is_object())
            problem = "not a JSON object";
        if (!problem.empty()) return std::nullopt;
    }
    Config c = base;
    try {
        readConfig(c, j);
    } catch (const json::exception& e) {
        problem = "a setting has the wrong type: " + withoutExceptionTag(e.what());
        return std::nullopt;
    } catch (const EnvironmentProblem&) {
        throw; // not the file's fault
    } catch (const std::exception& e) {
        problem = e.what();
        return std::nullopt;
    }
    return c;
}

Config load() {
    Config base;
    base.root = environmentOr("ORVANE_ROOT", defaultRoot());
    std::string file = environmentOr("ORVANE_CONFIG", base.root + "/host.json");
    std::error_code ec;
    if (!fs::exists(file, ec) && environmentOr("ORVANE_CONFIG", "").empty()) {
        try {
            writeEmbeddedDefault(base.root);
        } catch (const std::exception& e) {
            std::fprintf(stderr,
                         "scrivletv2: ORVANE_ROOT %s cannot hold the platform (%s); set ORVANE_ROOT to a "
                         "directory you can write\n",
                         base.root.c_str(), e.what());
            std::exit(configurationUnusable);
        }
    }
    // A configuration that cannot be used ends the run before anything is done, saying where and
    // why: going on with the defaults would fail later for a reason that seems to have nothing to
    // do with it.
    std::string problem;
    std::optional<Config> c;
    try {
        c = readHostConfiguration(file, base, problem);
    } catch (const EnvironmentProblem& e) {
        std::fprintf(stderr, "scrivletv2: %s\n", e.what());
        std::exit(configurationUnusable);
    }
    if (!c) {
        std::fprintf(stderr, "scrivletv2: host configuration %s cannot be used: %s\n", file.c_str(),
                     problem.c_str());
        std::exit(configurationUnusable);
    }
    return *c;
}

void readConfig(Config& c, const json& j) {
    c.fsRoot = hostPath(c.root, j.value("fsRoot", "fs"));
    readNodes(c, j);
    readSystem(c, j);
    c.language = environmentOr("ORVANE_LANG", j.value("language", "en"));
    c.catalogueDir = hostPath(c.root, j.value("catalogues", "catalogues"));
    c.ui = j.value("ui", json::object());
    c.syslog = j.value("syslog", json::object());
    // Numbers read later, when they are used, are checked now.
    wholeSetting(c.syslog, "maxBytes", 0);
    wholeSetting(c.syslog, "level", 0);
    if (c.ui.contains("type") && c.ui["type"].is_number()) wholeNumber(c.ui["type"], "ui.type");
    // The characters Sys::info 0x20023 answers, one per index.
    c.redirectText = c.syslog.value("infoText", "");
    c.remote = j.value("remote", json::object());
    readPrivacy(c, j);
    json drives = j.value("hostDrives", json::object());
    c.hostDrives = drives.value("enabled", true);
    c.hostMountTable =
        environmentOr("ORVANE_HOST_MOUNTINFO", drives.value("mountTable", "/proc/self/mountinfo"));
    c.hostDriveRoots = drives.value("roots", std::vector<std::string>{"/media", "/run/media"});
    c.hostCwd = j.value("cwd", defaultCwd(c));

    c.faultRules.clear();
    for (const json& f : j.value("faults", json::array())) {
        FaultRule rule;
        rule.op = f.value("op", "");
        rule.path = f.value("path", "");
        rule.error = parseNumber(f.value("error", json(0x25)), 0x25);
        rule.skip = wholeSetting(f, "skip", 0);
        rule.times = wholeSetting(f, "times", -1);
        rule.delayMs = wholeSetting(f, "delayMs", 0);
        rule.bytes = wholeSetting(f, "bytes", -1);
        c.faultRules.push_back(rule);
    }
}

bool matches(const FaultRule& rule, std::string_view op, const std::string& subject) {
    if (rule.op != op) return false;
    return rule.path.empty() || fnmatch(rule.path.c_str(), subject.c_str(), 0) == 0;
}

} // namespace

std::optional<json> readJsonFile(const std::string& path, const char* what) {
    std::string text, problem;
    bool missing = false;
    if (!readSmallFile(path, text, problem, missing)) {
        if (!missing)
            std::fprintf(stderr, "scrivletv2: %s %s ignored: %s\n", what, path.c_str(), problem.c_str());
        return std::nullopt;
    }
    json j = json::parse(text, nullptr, false, true);
    if (j.is_discarded()) {
        std::fprintf(stderr, "scrivletv2: %s %s ignored: not valid JSON\n", what, path.c_str());
        return std::nullopt;
    }
    return j;
}

unsigned parseNumber(const json& value, unsigned fallback) {
    if (value.is_number_integer()) return value.get<unsigned>();
    if (!value.is_string()) return fallback;
    const std::string& text = value.get_ref<const std::string&>();
    char* end = nullptr;
    unsigned long number = std::strtoul(text.c_str(), &end, 0);
    return end != text.c_str() && *end == '\0' ? static_cast<unsigned>(number) : fallback;
}

FaultRules::FaultRules(const std::vector<FaultRule>& rules) {
    for (const FaultRule& rule : rules)
        m_rules.push_back({rule});
}

std::optional<unsigned> FaultRules::fault(std::string_view op, const std::string& subject) {
    if (!any()) return std::nullopt;
    long delay = 0;
    std::optional<unsigned> hit;
    {
        std::lock_guard lock(m_mutex);
        for (Counted& counted : m_rules) {
            const FaultRule& rule = counted.rule;
            if (rule.bytes >= 0 || !matches(rule, op, subject)) continue;
            if (counted.seen++ < rule.skip) continue;
            if (rule.times >= 0 && counted.fired >= rule.times) continue;
            counted.fired++;
            delay = rule.delayMs;
            // A rule with only a delay slows the call down without failing it.
            if (rule.error != 0) hit = rule.error;
            break;
        }
    }
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    return hit;
}

std::optional<std::pair<long long, unsigned>> FaultRules::byteLimit(std::string_view op,
                                                                    const std::string& subject) {
    if (!any()) return std::nullopt;
    std::lock_guard lock(m_mutex);
    for (const Counted& counted : m_rules)
        if (counted.rule.bytes >= 0 && matches(counted.rule, op, subject))
            return std::make_pair(counted.rule.bytes, counted.rule.error);
    return std::nullopt;
}

Config loadConfig() {
    return load();
}

std::optional<Config> tryLoadConfig(const std::string& file, std::string& problem) {
    Config base;
    base.root = environmentOr("ORVANE_ROOT", defaultRoot());
    try {
        return readHostConfiguration(file, base, problem);
    } catch (const EnvironmentProblem& e) {
        problem = e.what();
        return std::nullopt;
    }
}

bool FaultRules::failsNow(std::string_view op, const std::string& subject) {
    std::optional<unsigned> code = fault(op, subject);
    if (code) Error::set(*code);
    return code.has_value();
}

} // namespace Host
