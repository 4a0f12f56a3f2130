// Application::displayPath over arbitrary platform paths, on the embedded default's mounts.
#include "FuzzSupport.h"
#include "app/Application.h"

using Applications::Commands::Scrivlet::Application;

namespace {
Application* application = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Fuzzing::makeRoot();
    static char name[] = "scrivletv2";
    static char file[] = "x.txt";
    static char* argv[] = {name, file, nullptr};
    Proc::setArguments(2, argv);
    application = new Application;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Ref<String> path = String::create(std::string(reinterpret_cast<const char*>(data), size));
    Ref<String> shown = application->displayPath(path, {});
    if (!shown) std::abort();
    return 0;
}
