#pragma once
#include "app/Application.h"
#include "platform/Skarnel.h"

namespace Applications::Commands::Scrivlet {

// One destination of a save.
struct TargetLocation {
    Ref<MountEntry> mount;
    Ref<String> directory;
    Ref<String> path;
    Ref<Services::Skarnel::Client::FSItem> dialogItem;
    Ref<Services::Filesystem::Client::File> file;
    bool failed = false;
};

} // namespace Applications::Commands::Scrivlet
