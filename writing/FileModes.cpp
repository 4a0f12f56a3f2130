// Modes "file" and "screenshot": choose the target name, then hand over to the file save engine.
#include "Writing.h"
#include "common/Log.h"
#include "platform/Console.h"

namespace Applications::Commands::Scrivlet {

using Services::Filesystem::Client::Service;

void fileMode(const RunContext& application, Error& result) {
    const Parameters& p = *application.parameters;
    Ref<String> name = !isEmpty(p.destination()) ? p.destination() : p.source();
    // The copy takes only the destination's name, in the platform's directories (or on the drive
    // chosen): a directory typed with it would otherwise be dropped without a word.
    if (!isEmpty(p.destination()) && p.destination()->findLast('/') >= 0)
        StdIO::note(String::create("only the name of ")
                        ->concat(p.destination())
                        ->concat(" is used: the copies are named ")
                        ->concat(Service::name(name))
                        ->concat(" in the platform's directories (or on the drive chosen)"));
    saveFile(application, result, Service::name(name), {});
}

void screenshotMode(const RunContext& application, Error& result) {
    const Parameters& p = *application.parameters;
    Ref<String> filename;
    if (!isEmpty(p.destination())) {
        filename = p.destination();
    } else if (isEmpty(p.source())) {
        LogLine(LogLevel::Failure) << "Filename is invalid";
        result = Error(Errors::Failed);
        return;
    } else {
        filename = predeterminedFilename(application, extensionOf(p.source()));
    }
    WaitTexts texts{
        application.text("Determining screenshot locations", 69),
        application.text("Determining the locations to use for the screenshots; this will take a while", 70)};
    saveFile(application, result, filename, texts);
}

} // namespace Applications::Commands::Scrivlet
