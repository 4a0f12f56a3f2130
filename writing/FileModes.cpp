// Modes "file" and "screenshot": choose the target name, then hand over to the file save engine.
#include "app/Application.h"
#include "common/Log.h"

namespace Applications::Commands::Scrivlet {

using Services::Filesystem::Client::Service;

// The text after the last "." of a source path, or the whole path when it has none.
Ref<String> extensionOf(const Ref<String>& source) {
    long dot = source->findLast('.');
    return dot < 0 ? source : source->substring(static_cast<size_t>(dot) + 1);
}

void fileMode(Application& application, Error& result) {
    const Parameters& p = *application.parameters;
    Ref<String> name = !isEmpty(p.destination()) ? p.destination() : p.source();
    application.saveFile(result, Service::name(name), {});
}

void screenshotMode(Application& application, Error& result) {
    const Parameters& p = *application.parameters;
    Ref<String> filename;
    if (!isEmpty(p.destination())) {
        filename = p.destination();
    } else if (isEmpty(p.source())) {
        LogLine(4) << "Filename is invalid";
        result = Error(0x8443);
        return;
    } else {
        filename = application.predeterminedFilename(extensionOf(p.source()));
    }
    WaitTexts texts{
        application.text("Determining screenshot locations", 69),
        application.text("Determining the locations to use for the screenshots; this will take a while", 70)};
    application.saveFile(result, filename, texts);
}

} // namespace Applications::Commands::Scrivlet
