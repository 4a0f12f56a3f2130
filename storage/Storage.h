#pragma once
// Where files go and what they are called: the text a path is shown as, the platform's own
// directories, names from the template, and names decided with the reuse-name registry.
#include "DirectoryHierarchy.h"
#include "UniqueFilename.h"
#include "common/RunContext.h"
#include "platform/Error.h"
#include "platform/Filesystem.h"

namespace Applications::Commands::Scrivlet {

using MountEntry = Services::Mount::Client::Entry;

// The path as the user reads it: the drive's name in place of its mount point.
Ref<String> displayPath(const RunContext& run, const Ref<String>& path, const Ref<MountEntry>& mountEntry);

// "Orvane-<date>-<product>-<suffix>.<extension>" from the options --date and --suffix.
Ref<String> predeterminedFilename(const RunContext& run, const Ref<String>& extension);
// The text after the last "." of a source path, or the whole path when it has none.
Ref<String> extensionOf(const Ref<String>& source);
// The path to write `name` to in `directory`: a name the registry remembers, or an indexed one
// when the run needs it; null when no free name was found.
Ref<String> determineFilename(const RunContext& run, const Ref<String>& directory, const Ref<String>& name,
                              const Ref<MountEntry>& mountEntry, bool wholeName);

// Mounts the node behind a platform path identifier and finds the directory in it.
Error accessPlatformDirectory(unsigned pathId, bool logNodeFailure, Ref<MountEntry>& mountEntry,
                              Ref<String>& path);
Error platformLogDirectory(bool alternate, Ref<MountEntry>& mountEntry, Ref<String>& path);
Error platformFileDirectory(bool alternate, Ref<MountEntry>& mountEntry, Ref<String>& path);

} // namespace Applications::Commands::Scrivlet
