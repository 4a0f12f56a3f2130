// Names determined once are remembered in a registry file, so that later runs with --reuse-name
// write to the same file again.
#include "UniqueFilename.h"
#include "app/Application.h"
#include "common/Log.h"
#include "common/StringFormatter.h"
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

Ref<String> lookup(const Ref<File>& registry, const Ref<String>& key) {
    Ref<CharReader> reader = CharReader::create(registry->stream(), 2);
    if (!reader) return {};
    while (Ref<String> line = reader->readLine()) {
        std::vector<Ref<String>> parts = StringUtil::split(line, '=', 2, true, '\\', '"');
        if (parts.size() < 2) continue;
        if (parts[0]->equals(key)) return parts[1];
    }
    return {};
}

// The entry goes in with a single write at the end of the file, so that two runs appending at once
// never tear each other's lines.
void record(const Ref<File>& registry, const Ref<String>& key, const Ref<String>& name) {
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
    registry->writeBytes(entry.data(), entry.size());
}

} // namespace

Ref<String> Application::determineFilename(const Ref<String>& directory, const Ref<String>& name,
                                           const Ref<MountEntry>& mountEntry, bool wholeName) {
    Ref<File> registry;
    if (parameters->reuseName) registry = File::open(String::create(registryPath), 0x113);
    Ref<String> key = registryKey(directory, name, mountEntry);

    if (registry) {
        if (Ref<String> reused = lookup(registry, key)) {
            LogLine(1) << "Reusing filename " << reused;
            return Service::absolute(reused, directory);
        }
    }

    bool indexNeeded = parameters->addIndex || (!parameters->source() && parameters->mode != 3);
    Ref<String> candidate = indexNeeded ? uniqueFilename(name, directory, wholeName) : name;
    if (!candidate) return {};
    if (registry) record(registry, key, candidate);
    return Service::absolute(candidate, directory);
}

} // namespace Applications::Commands::Scrivlet
