#pragma once
// Creating target directories level by level, and the product hierarchy below a chosen place.
#include "platform/Filesystem.h"

namespace Applications::Commands::Scrivlet {

bool ensureDirectoryHierarchy(const Ref<String>& path, const Ref<String>& boundary, bool lastLevelIsFile);
Ref<String> productSubdirectory(const Ref<String>& base, bool forLogs);
Ref<Services::Filesystem::Client::Directory>
openOrCreateSubfolder(const Ref<Services::Filesystem::Client::Directory>& parentDirectory,
                      const Ref<String>& name, Ref<String>& path);

} // namespace Applications::Commands::Scrivlet
