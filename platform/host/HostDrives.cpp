#include "HostDrives.h"
#include "LoadedLibrary.h"
#include <blkid/blkid.h>
#include <cstdlib>
#include <filesystem>
#include <libmount/libmount.h>
#include <set>
#include <string_view>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace HostDrives {
namespace {

// libmount and libblkid, mapped when host drives are first looked for.
struct MountLibraries {
    decltype(&::blkid_get_tag_value) blkid_get_tag_value;
    decltype(&::mnt_free_iter) mnt_free_iter;
    decltype(&::mnt_free_table) mnt_free_table;
    decltype(&::mnt_fs_get_fstype) mnt_fs_get_fstype;
    decltype(&::mnt_fs_get_srcpath) mnt_fs_get_srcpath;
    decltype(&::mnt_fs_get_target) mnt_fs_get_target;
    decltype(&::mnt_fs_is_netfs) mnt_fs_is_netfs;
    decltype(&::mnt_fs_is_pseudofs) mnt_fs_is_pseudofs;
    decltype(&::mnt_fs_match_options) mnt_fs_match_options;
    decltype(&::mnt_new_iter) mnt_new_iter;
    decltype(&::mnt_new_table) mnt_new_table;
    decltype(&::mnt_table_next_fs) mnt_table_next_fs;
    decltype(&::mnt_table_parse_file) mnt_table_parse_file;
    bool ok = false;
    MountLibraries() {
        static LoadedLibrary mountLibrary("libmount.so.1");
        static LoadedLibrary blkidLibrary("libblkid.so.1");
        ok = mountLibrary.bind(mnt_free_iter, "mnt_free_iter") &&
             mountLibrary.bind(mnt_free_table, "mnt_free_table") &&
             mountLibrary.bind(mnt_fs_get_fstype, "mnt_fs_get_fstype") &&
             mountLibrary.bind(mnt_fs_get_srcpath, "mnt_fs_get_srcpath") &&
             mountLibrary.bind(mnt_fs_get_target, "mnt_fs_get_target") &&
             mountLibrary.bind(mnt_fs_is_netfs, "mnt_fs_is_netfs") &&
             mountLibrary.bind(mnt_fs_is_pseudofs, "mnt_fs_is_pseudofs") &&
             mountLibrary.bind(mnt_fs_match_options, "mnt_fs_match_options") &&
             mountLibrary.bind(mnt_new_iter, "mnt_new_iter") &&
             mountLibrary.bind(mnt_new_table, "mnt_new_table") &&
             mountLibrary.bind(mnt_table_next_fs, "mnt_table_next_fs") &&
             mountLibrary.bind(mnt_table_parse_file, "mnt_table_parse_file") &&
             blkidLibrary.bind(blkid_get_tag_value, "blkid_get_tag_value");
    }
};

const MountLibraries& mountLibraries() {
    static const MountLibraries loaded;
    return loaded;
}

// Where udev names filesystems by label, for when the device itself cannot be read.
constexpr const char* udevLabels = "/dev/disk/by-label";

std::string lastComponent(const std::string& path) {
    std::string name = fs::path(path).filename().string();
    return name.empty() ? "DRIVE" : name;
}

// A drive is a local filesystem on a block device: network shares, pseudo filesystems (proc,
// tmpfs, overlay) and FUSE mounts are not, whatever directory they are mounted on.
bool onLocalBlockDevice(struct libmnt_fs* entry, dev_t& device) {
    if (mountLibraries().mnt_fs_is_netfs(entry) == 1 || mountLibraries().mnt_fs_is_pseudofs(entry) == 1)
        return false;
    const char* type = mountLibraries().mnt_fs_get_fstype(entry);
    if (type && (std::string_view(type).starts_with("fuse") || std::string_view(type) == "overlay"))
        return false;
    const char* source = mountLibraries().mnt_fs_get_srcpath(entry);
    struct stat st {};
    if (!source || stat(source, &st) != 0 || !S_ISBLK(st.st_mode)) return false;
    device = st.st_rdev;
    return true;
}

// The filesystem's label: libblkid reads it from the device (or its cache); udev's by-label links
// know it when the device cannot be read; the mount point's last component is the fallback.
std::string labelOf(const std::string& source, const std::string& target) {
    if (char* label = mountLibraries().blkid_get_tag_value(nullptr, "LABEL", source.c_str())) {
        std::string text = label;
        std::free(label);
        if (!text.empty()) return text;
    }
    std::error_code ec;
    fs::path device = fs::canonical(source, ec);
    for (const auto& link : fs::directory_iterator(udevLabels, ec)) {
        std::error_code linkError;
        if (!ec && fs::canonical(link.path(), linkError) == device && !linkError)
            return link.path().filename().string();
    }
    return lastComponent(target);
}

bool belowARoot(const std::string& target, const std::vector<std::string>& roots) {
    for (const std::string& root : roots)
        if (target.size() > root.size() + 1 && target.rfind(root + "/", 0) == 0) return true;
    return false;
}

} // namespace

std::vector<Host::NodeConfig> discover(const Host::Config& c) {
    std::vector<Host::NodeConfig> drives;
    // Without libmount there is no mount table to read, so no host drive is offered.
    if (!c.hostDrives || !mountLibraries().ok) return drives;
    struct libmnt_table* tab = mountLibraries().mnt_new_table();
    if (!tab) return drives;
    std::set<dev_t> seen;
    if (mountLibraries().mnt_table_parse_file(tab, c.hostMountTable.c_str()) == 0) {
        struct libmnt_iter* it = mountLibraries().mnt_new_iter(MNT_ITER_FORWARD);
        struct libmnt_fs* entry = nullptr;
        while (it && mountLibraries().mnt_table_next_fs(tab, it, &entry) == 0) {
            const char* target = mountLibraries().mnt_fs_get_target(entry);
            dev_t device = 0;
            if (!target || !belowARoot(target, c.hostDriveRoots) || !onLocalBlockDevice(entry, device))
                continue;
            // A device mounted twice (a bind mount) is still one drive: its first mount.
            if (!seen.insert(device).second) continue;
            Host::NodeConfig node;
            node.name = std::string(nodePrefix) + target;
            node.hostDir = target;
            node.mountPoint = "/media/" + lastComponent(target);
            node.drive = true;
            node.readOnly = mountLibraries().mnt_fs_match_options(entry, "ro") == 1;
            node.attributes = {{"SUBST_NAME", labelOf(mountLibraries().mnt_fs_get_srcpath(entry), target)}};
            drives.push_back(std::move(node));
        }
        mountLibraries().mnt_free_iter(it);
    }
    mountLibraries().mnt_free_table(tab);
    return drives;
}

} // namespace HostDrives
