// Names determined once are remembered in a registry file, so that later runs with --reuse-name
// write to the same file again.
#include "Storage.h"
#include "UniqueFilename.h"
#include "common/Log.h"
#include "common/StringFormatter.h"
#include "platform/Formatter.h"
#include "platform/Text.h"

namespace Applications::Commands::Scrivlet {
namespace {

using namespace Services::Filesystem::Client;

const char* const registryPath = "/users/system/temp/scrivlet-files";

Ref<String> registryKey(const Ref<String>& directory, const Ref<String>& name, const Ref<MountEntry>& mount) {
    if (mount && StringUtil::startsWith(directory, mount->mountPoint(), false)) {
        Ref<String> relative = directory->substring(mount->mountPoint()->length());
        if (relative->at(0) == '/') relative = relative->substring(1);
        if (Ref<String> key = Service::absolute(relative, mount->nodeName())) return key;
    }
    return Service::absolute(name, directory);
}

// A name is used below the directory it was determined for, so only a bare file name will do:
// anything else read back (an absolute path, a path, "." or "..") would write elsewhere.
bool isBareFileName(const Ref<String>& name) {
    return !isEmpty(name) && name->findLast('/') < 0 && !name->equals(".") && !name->equals("..");
}

// A line feed, a carriage return or a quote would end or split the entry line and let the text
// forge an entry of its own.
bool breaksEntryLine(const Ref<String>& text) {
    std::string_view s = text->str();
    return s.find_first_of("\"\n\r") != std::string::npos;
}

Ref<String> lookup(const Ref<File>& registry, const Ref<String>& key) {
    Ref<CharReader> reader = CharReader::create(registry->stream(), 2);
    if (!reader) return {};
    while (Ref<String> line = reader->readLine()) {
        std::vector<Ref<String>> parts = StringUtil::split(line, '=', 2, true, '\\', '"');
        if (parts.size() < 2) continue;
        if (!parts[0]->equals(key)) continue;
        if (isBareFileName(parts[1])) return parts[1];
        LogLine(LogLevel::Problem) << "Ignoring recorded name " << parts[1] << " for " << key
                                   << ": not a file name";
    }
    return {};
}

// The entry goes in with a single write at the end of the file, so that two runs appending at once
// never tear each other's lines; a write that comes up short (a full disk) is cut back off again.
void record(const Ref<File>& registry, const Ref<String>& key, const Ref<String>& name) {
    if (breaksEntryLine(key) || breaksEntryLine(name) || !isBareFileName(name)) {
        LogLine(LogLevel::Problem) << "Not recording name " << name << " for " << key
                                   << ": it cannot be written as an entry";
        return;
    }
    Ref<StringFormatter> f = StringFormatter::create(String::create("\"{1}\"=\"{2}\"\n"));
    if (!f) return;
    std::string entry = stdString(f->arg(key).arg(name).result());
    uint64_t size = registry->size();
    if (size > 0) {
        char last = 0;
        registry->setPosition(size - 1);
        if (registry->readBytes(&last, 1) == 1 && last != '\n') entry.insert(entry.begin(), '\n');
    }
    registry->setPosition(size);
    size_t written = registry->writeBytes(entry.data(), entry.size());
    if (written == entry.size()) return;
    Error code = Error::get();
    if (written > 0 && !registry->truncate(size))
        LogLine(LogLevel::Problem) << "Failed to remove the incomplete registry entry for " << key
                                   << "; error: " << Code{Error::get()};
    LogLine(LogLevel::Problem) << "Failed to record name " << name << " for " << key
                               << "; error: " << Code{code};
}

} // namespace

Ref<String> determineFilename(const RunContext& run, const Ref<String>& directory, const Ref<String>& name,
                              const Ref<MountEntry>& mountEntry, bool wholeName) {
    const Parameters& p = *run.parameters;
    Ref<File> registry;
    if (p.reuseName) registry = File::open(String::create(registryPath), OpenMode::Exclusive);
    Ref<String> key = registryKey(directory, name, mountEntry);

    if (registry) {
        if (Ref<String> reused = lookup(registry, key)) {
            LogLine(LogLevel::Trace) << "Reusing filename " << reused;
            return Service::absolute(reused, directory);
        }
    }

    bool indexNeeded = p.addIndex || (!p.source() && p.mode != Modes::Export);
    Ref<String> candidate = indexNeeded ? uniqueFilename(name, directory, wholeName) : name;
    if (!candidate) return {};
    if (registry) record(registry, key, candidate);
    return Service::absolute(candidate, directory);
}

} // namespace Applications::Commands::Scrivlet
