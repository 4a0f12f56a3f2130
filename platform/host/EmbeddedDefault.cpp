// The platform a first run creates when no configuration exists: a system node with the platform
// directories, a boot drive with sample files, a removable demo drive and the host's own files.
#include "Host.h"
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using nlohmann::json;

namespace Host {
namespace {

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

json node(const char* name, const char* host, const char* mount, bool mounted, bool drive,
          const char* label) {
    json n = {{"name", name}, {"host", host}, {"mount", mount}, {"mounted", mounted}, {"drive", drive}};
    n["attributes"] = label ? json{{"SUBST_NAME", label}} : json::object();
    return n;
}

json defaultConfig() {
    json c;
    c["fsRoot"] = "fs";
    c["nodes"] = json::array({
        node("/devices/orvane/system", "nodes/system", "/system", false, false, "SYSTEM"),
        node("/devices/orvane/boot", "nodes/boot", "/boot", false, true, "BOOT"),
        node("/devices/usb/stick", "nodes/stick", "/media/STICK", false, true, "STICK"),
        node("/devices/linux/root", "/", "/host", true, false, nullptr),
    });
    c["paths"] = {
        {"7", {{"node", "/devices/orvane/system"}, {"path", "Logs"}}},
        {"8", {{"node", "/devices/orvane/system"}, {"path", "Screenshots"}}},
        {"9", {{"node", "/devices/orvane/system"}, {"path", "Service/Logs"}}},
        {"10", {{"node", "/devices/orvane/system"}, {"path", "Service/Screenshots"}}},
    };
    c["bootParameters"] = "quiet boot.node=/devices/orvane/boot";
    c["product"] = {{"shortname", "ORV"}, {"version", "2.0"}};
    c["ui"] = {{"defaultDrive", "/media/STICK"}};
    c["syslog"] = {{"level", 1}, {"enabled", true}, {"options", 0}, {"maxBytes", 4 << 20}};
    c["catalogues"] = "catalogues";
    return c;
}

} // namespace

void writeEmbeddedDefault(const std::string& rootText) {
    fs::path root(rootText);
    fs::create_directories(root / "fs/users/system/temp");
    fs::create_directories(root / "nodes/system");
    fs::create_directories(root / "nodes/stick");
    fs::create_directories(root / "syslog");
    writeFile(root / "nodes/boot/Orvane/Logs/system-2026-11-01.log", "boot: system started\n");
    writeFile(root / "nodes/boot/Orvane/Logs/service.log", "service: ready\n");
    writeFile(root / "nodes/boot/Orvane/Screenshots/screen-001.png", "\x89PNG\r\n\x1a\n");
    writeFile(root / "nodes/boot/Orvane/Analyze/analysis.txt", "no anomalies\n");
    writeFile(root / "catalogues/orvane.tool.scrivlet.de.json",
              json{{"Information", "Information"},
                   {"File saved as {1}", "Datei gespeichert als {1}"},
                   {"and {2}", "und {2}"},
                   {"Error", "Fehler"},
                   {"Log saved as {1}", "Protokoll gespeichert als {1}"}}
                  .dump(2));
    std::ofstream(root / "host.json") << defaultConfig().dump(2) << "\n";
}

} // namespace Host
