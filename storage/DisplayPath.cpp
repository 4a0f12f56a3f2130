// Turns a platform path into the text shown to the user: the drive's name in place of its mount
// point, and characters that keep the path readable where a dialog wraps it.
#include "Storage.h"
#include "platform/Filesystem.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace Applications::Commands::Scrivlet {
namespace {

using namespace Services;

// A string attribute, or empty when absent or of another type.
Ref<String> stringAttribute(const Ref<Nodes::Providers::Generic>& generic, const char* name) {
    Ref<Variant> value = generic->attribute(name);
    if (!value || value->count() == 0 || value->entry(0).type == 0 || value->entry(0).type != 2) return {};
    return value->entry(0).text;
}

struct Match {
    Ref<String> nodeName;
    Ref<String> mountPoint;
};

Match longestMountMatch(const Ref<String>& path) {
    Match kept;
    std::vector<Mount::Client::MountNode> table;
    if (!Mount::Client::info(table)) return kept;
    size_t keptLength = 0;
    for (const Mount::Client::MountNode& node : table) {
        for (const Ref<String>& point : node.mountPoints) {
            if (!StringUtil::startsWith(path, point, false)) continue;
            if (kept.mountPoint && point->length() <= keptLength) continue;
            kept = {node.nodeName, point};
            keptLength = point->length();
        }
    }
    if (kept.nodeName && StringUtil::startsWith(kept.nodeName, String::create("chn://"), false)) return {};
    return kept;
}

Ref<String> chr(std::string_view text) {
    return String::create(text);
}

} // namespace

Ref<String> displayPath(const RunContext& run, const Ref<String>& input, const Ref<MountEntry>& mountEntry) {
    if (isEmpty(input)) return input;
    Ref<String> path = input;
    // The caller's mount entry is the one its location was found on; a path given whole (a host
    // path typed as the target's name) may be on another mount, which the mount table tells.
    bool onEntry = mountEntry && StringUtil::startsWith(path, mountEntry->mountPoint(), false);
    Match match = onEntry ? Match{mountEntry->nodeName(), mountEntry->mountPoint()} : longestMountMatch(path);

    Ref<String> driveName, nodePath;
    if (match.nodeName) {
        if (Ref<Filesystem::Client::Node> node = Filesystem::Client::Nodes::open(match.nodeName)) {
            nodePath = node->path();
            Ref<Nodes::Provider> provider = Nodes::Provider::create(node, 0);
            Ref<Nodes::Providers::Generic> generic =
                provider ? Nodes::Providers::Generic::create(provider) : nullptr;
            if (generic) {
                driveName = stringAttribute(generic, "SUBST_NAME");
                if (!driveName && Sys::info(Sys::Key::HostKind) == Sys::windowsHost)
                    driveName = stringAttribute(generic, "DRIVELETTER");
            }
        }
    }

    if (match.mountPoint && driveName)
        path = driveName->concat(':')->concat(path->substring(match.mountPoint->length()));

    if (Sys::info(Sys::Key::HostFamily) == Sys::hostWithRootNode && match.mountPoint && nodePath &&
        nodePath->equals("/devices/linux/root") && StringUtil::startsWith(path, match.mountPoint, false)) {
        path = path->substring(match.mountPoint->length());
        if (path->at(0) != '/') path = String::create("/")->concat(path);
    }

    bool leadingSlash = path->at(0) == '/';
    if (leadingSlash) path = path->substring(1);

    bool windowsDrive =
        Sys::info(Sys::Key::HostKind) == Sys::windowsHost && driveName && driveName->length() == 1;
    std::vector<Ref<String>> from, to;
    if (!run.uiTypeOther) {
        from = {chr("/"), chr(" "), chr("-")};
        to = {chr(windowsDrive ? "\\\u200B" : "/\u200B"), chr("\u00A0"), chr("\u2011")};
    } else if (windowsDrive) {
        from = {chr("/")};
        to = {chr("\\")};
    }
    if (!from.empty()) path = StringUtil::replace(path, from, to, 1);

    if (leadingSlash) path = String::create("/")->concat(path);
    return path;
}

} // namespace Applications::Commands::Scrivlet
