#pragma once
// One destination of a save: where it is, and the file being written there.
#include "platform/Skarnel.h"
#include "storage/Storage.h"

namespace Applications::Commands::Scrivlet {

struct TargetLocation {
    Ref<MountEntry> mount;
    Ref<String> directory;
    Ref<String> path;
    Ref<Services::Skarnel::Client::FSItem> dialogItem;
    Ref<Services::Filesystem::Client::File> file;
    bool failed = false;
};

} // namespace Applications::Commands::Scrivlet
