#include "DirectoryHierarchy.h"
#include "common/Log.h"
#include "platform/System.h"

namespace Applications::Commands::Scrivlet {

using namespace Services::Filesystem::Client;

bool ensureDirectoryHierarchy(const Ref<String>& path, const Ref<String>& boundary, bool lastLevelIsFile) {
    if (FSItem::open(path, 0, 4)) return true;
    if (path && path->equals(boundary)) return false;
    Ref<String> parent = Service::parent(path, false);
    // A path that has no parent of its own cannot be created below any boundary.
    if (!parent || parent->equals(path) || parent->isEmpty()) return false;
    if (!ensureDirectoryHierarchy(parent, boundary, false)) return false;

    Ref<Directory> directory = Directory::open(parent, DirectoryMode::ReadWrite);
    if (!directory) {
        LogLine(LogLevel::Failure) << "Failed to open directory " << parent
                                   << "; error: " << Code{Error::get()};
        return false;
    }
    Ref<String> name = Service::name(path);
    bool created = lastLevelIsFile ? directory->createFile(name) : directory->createDirectory(name);
    if (created) return true;
    // Runs started together create the same levels: one that another run made a moment ago is as
    // good as made here. (The export's own directory is created elsewhere, and exclusively.)
    if (!lastLevelIsFile && Error::get() == Errors::AlreadyExists) {
        Ref<FSItem> made = FSItem::open(path, 0, 4);
        if (made && made->isDirectory()) return true;
        Error::set(Errors::AlreadyExists);
    }
    LogLine(LogLevel::Failure) << "Failed to create directory " << path << "; error: " << Code{Error::get()};
    return false;
}

Ref<Directory> openOrCreateSubfolder(const Ref<Directory>& parentDirectory, const Ref<String>& name,
                                     Ref<String>& path) {
    Ref<String> candidate = path->concat('/')->concat(name);
    if (Ref<Directory> existing = Directory::open(candidate, DirectoryMode::ReadWrite)) {
        path = candidate;
        return existing;
    }
    if (parentDirectory->createDirectory(name)) {
        path = candidate;
        return Directory::open(candidate, DirectoryMode::ReadWrite);
    }
    LogLine(LogLevel::Problem) << "Failed to create subfolder '" << name << "' in '" << path
                               << "'; error: " << Code{Error::get()};
    return {};
}

Ref<String> productSubdirectory(const Ref<String>& base, bool forLogs) {
    Ref<Directory> baseDirectory = Directory::open(base, DirectoryMode::ReadWrite);
    if (!baseDirectory) {
        LogLine(LogLevel::Problem) << "Could not open path " << base;
        return base;
    }
    Ref<String> current = base;
    Ref<String> first =
        String::create(Sys::info(Sys::Key::HostKind) == Sys::windowsHost ? "Varek" : "Orvane");
    Ref<Directory> d1 = openOrCreateSubfolder(baseDirectory, first, current);
    if (!d1) return current;
    Ref<String> second = String::create(forLogs ? "Logs" : "Screenshots");
    openOrCreateSubfolder(d1, second, current);
    return current;
}

} // namespace Applications::Commands::Scrivlet
