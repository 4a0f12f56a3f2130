// The dialog script reader: any bytes as a script answer every kind of dialog without crashing.
#include "FuzzSupport.h"
#include "platform/host/UiBackend.h"
#include <fstream>

namespace {
std::string scriptFile;
}

// The configuration's "ui" section: none, as on a first run.
const nlohmann::json noSettings = nlohmann::json::object();

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scriptFile = Fuzzing::makeRoot() + "/fuzz-script.json";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::ofstream(scriptFile, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<Ui::Backend> script = Ui::makeScript(scriptFile, noSettings);
    for (unsigned buttons : {0x20u, 3u, 3u})
        (void)script->show(2, "title", "text", "", buttons, 1);
    for (unsigned query = 1; query <= 3; query++)
        (void)script->progressCancelled(1, query);
    (void)script->type();
    Ref<Services::Skarnel::Client::Parameters> parameters = Services::Skarnel::Client::Parameters::create();
    if (parameters) {
        using namespace Services::Skarnel::Client::Elements;
        Ref<GroupBox> group = GroupBox::create(String::create("gbClear"));
        group->setCheckable(true);
        Ref<DropDown> list = DropDown::create(String::create("ddClear"));
        list->addItem(String::create("1 DAY"));
        list->addItem(String::create("1 WEEK"));
        group->append(list);
        parameters->elements().push_back(CheckBox::create(String::create("cbLogs")));
        parameters->elements().push_back(group);
        std::vector<Ui::Drive> drives{{"/devices/usb/stick", "STICK", "/media/STICK"}};
        (void)script->select(*parameters, drives, {});
        (void)script->select(*parameters, drives, {});
    }
    return 0;
}
