#include "Parameters.h"
#include "Log.h"
#include "platform/Console.h"
#include "platform/Text.h"

namespace Applications::Commands::Scrivlet {

using Libraries::Commandline::OptionEntry;

const OptionEntry optionTable[16] = {
    {1, 0, 'h', String::create("help"), 0},
    {2, 0, 'm', String::create("mode"), 1},
    {3, 0, 0, String::create("add-index"), 0},
    {4, 0, 0, String::create("allow-rename"), 0},
    {5, 0, 0, String::create("tid"), 1},
    {6, 0, 0, String::create("pid"), 1},
    {7, 1, 0, {}, 4},
    {8, 0, 0, String::create("dont-force-boot"), 0},
    {9, 2, 0, {}, 4},
    {10, 0, 's', String::create("silent"), 0},
    {11, 0, 0, String::create("reuse-name"), 0},
    {12, 0, 0, String::create("show-progress"), 0},
    {13, 0, 0, String::create("show-success"), 0},
    {14, 0, 0, String::create("no-compress"), 0},
    {15, 0, 0, String::create("date"), 1},
    {16, 0, 0, String::create("suffix"), 1},
};

namespace {
struct ModeName {
    const char* name;
    uint32_t value;
};
constexpr ModeName modeNames[] = {
    {"log", Modes::Log},
    {"file", Modes::File},
    {"screenshot", Modes::Screenshot},
    {"export", Modes::Export},
    {"log-upload", Modes::LogUpload},
    {"file-upload", Modes::FileUpload},
    {"screenshot-upload", Modes::ScreenshotUpload},
};
} // namespace

Parameters::Parameters() {
    Ref<Libraries::Commandline::Parameters::Parser> parser =
        Libraries::Commandline::Parameters::Parser::create("-", "--", "=", 0);
    if (!parser) return;
    parser->registerTable(optionTable, 16);
    valid = parser->parse(*this);
}

Parameters::~Parameters() {
    suffix.reset();
    date.reset();
    m_destination.reset();
    m_source.reset();
}

bool Parameters::selectMode(const Ref<String>& value) {
    if (!value) {
        LogLine(LogLevel::Failure) << "ASSERT CONDITION value != 0 FAILED IN LINE " << Code{166}
                                   << ", FUNCTION "
                                   << "Applications::Commands::Scrivlet::Parameters::handle";
        return false;
    }
    for (const ModeName& m : modeNames) {
        if (value->equals(m.name)) {
            mode = m.value;
            return true;
        }
    }
    StdIO::stdOutPrinter() << "Invalid mode: " << value;
    StdIO::stdOutPrinter().endl();
    return false;
}

bool Parameters::handle(uint64_t id, const Ref<String>&, const Ref<String>& value) {
    switch (id) {
    case 1:
        help = true;
        return true;
    case 2:
        return selectMode(value);
    case 3:
        addIndex = true;
        return true;
    case 4:
        allowRename = true;
        return true;
    case 5:
        return StrConv::num(value, tid);
    case 6:
        return StrConv::num(value, pid);
    case 7:
        m_source = value;
        return true;
    case 8:
        dontForceBoot = true;
        return true;
    case 9:
        m_destination = value;
        return true;
    case 10:
        silent = true;
        return true;
    case 11:
        reuseName = true;
        return true;
    case 12:
        showProgress = true;
        return true;
    case 13:
        showSuccess = true;
        return true;
    case 14:
        noCompress = true;
        return true;
    case 15:
        date = value;
        return true;
    case 16:
        suffix = value;
        return true;
    default:
        return false;
    }
}

} // namespace Applications::Commands::Scrivlet
