// displayPath over arbitrary platform paths, for both kinds of user interface (the first byte
// chooses), on a file service held in memory with the drives of the embedded default mounted: the
// system node, the boot and demo drives with their names, and the host's own root.
#include "FuzzSupport.h"
#include "storage/Storage.h"
#include "support/memory/MemoryFilesystem.h"

using namespace Applications::Commands::Scrivlet;
using Services::Filesystem::Client::MemoryFilesystem;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Fuzzing::makeRoot();
    auto files = std::make_unique<MemoryFilesystem>();
    files->addNode("/devices/orvane/system", "/system", {{"SUBST_NAME", "SYSTEM"}});
    files->addNode("/devices/orvane/boot", "/boot", {{"SUBST_NAME", "BOOT"}});
    files->addNode("/devices/usb/stick", "/media/STICK", {{"SUBST_NAME", "STICK"}});
    files->addNode("/devices/linux/root", "/host");
    files->addNode("chn://fuzz", "/channel", {{"SUBST_NAME", "CHANNEL"}});
    installService<Services::Filesystem::Client::FilesystemService>(std::move(files));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RunContext run;
    run.uiTypeOther = size > 0 && (data[0] & 1);
    Ref<String> path = String::create(std::string(reinterpret_cast<const char*>(data), size));
    Ref<String> shown = displayPath(run, path, {});
    if (!shown) std::abort();
    return 0;
}
