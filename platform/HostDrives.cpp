#include "HostDrives.h"
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

// Where udev names filesystems by label, for when the device itself cannot be read.
constexpr const char* udevLabels = "/dev/disk/by-label";

std::string lastComponent(const std::string& path) {
    std::string name = fs::path(path).filename().string();
    return name.empty() ? "DRIVE" : name;
}

// A drive is a local filesystem on a block device: network shares, pseudo filesystems (proc,
// tmpfs, overlay) and FUSE mounts are not, whatever directory they are mounted on.
bool onLocalBlockDevice(struct libmnt_fs* entry, dev_t& device) {
    if (mnt_fs_is_netfs(entry) == 1 || mnt_fs_is_pseudofs(entry) == 1) return false;
    const char* type = mnt_fs_get_fstype(entry);
    if (type && (std::string_view(type).starts_with("fuse") || std::string_view(type) == "overlay"))
        return false;
    const char* source = mnt_fs_get_srcpath(entry);
    struct stat st {};
    if (!source || stat(source, &st) != 0 || !S_ISBLK(st.st_mode)) return false;
    device = st.st_rdev;
    return true;
}

// The filesystem's label: libblkid reads it from the device (or its cache); udev's by-label links
// know it when the device cannot be read; the mount point's last component is the fallback.
std::string labelOf(const std::string& source, const std::string& target) {
    if (char* label = blkid_get_tag_value(nullptr, "LABEL", source.c_str())) {
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
    if (!c.hostDrives) return drives;
    struct libmnt_table* tab = mnt_new_table();
    if (!tab) return drives;
    std::set<dev_t> seen;
    if (mnt_table_parse_file(tab, c.hostMountTable.c_str()) == 0) {
        struct libmnt_iter* it = mnt_new_iter(MNT_ITER_FORWARD);
        struct libmnt_fs* entry = nullptr;
        while (it && mnt_table_next_fs(tab, it, &entry) == 0) {
            const char* target = mnt_fs_get_target(entry);
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
            node.readOnly = mnt_fs_match_options(entry, "ro") == 1;
            node.attributes = {{"SUBST_NAME", labelOf(mnt_fs_get_srcpath(entry), target)}};
            drives.push_back(std::move(node));
        }
        mnt_free_iter(it);
    }
    mnt_free_table(tab);
    return drives;
}

} // namespace HostDrives
