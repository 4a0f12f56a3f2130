#include "support/Journals.h"
#include "support/Sandbox.h"
#include <cstdlib>
#include <unistd.h>

namespace Testing {

bool canMakeJournals() {
    return access(journalRemote, X_OK) == 0;
}

std::string exportField(const std::string& name, const std::string& value) {
    std::string out = name + "\n";
    for (int i = 0; i < 8; i++)
        out += static_cast<char>((static_cast<uint64_t>(value.size()) >> (8 * i)) & 0xFF);
    return out + value + "\n";
}

void writeJournal(const fs::path& directory, const std::string& entries, const std::string& name) {
    fs::path input = directory / (name + ".export");
    writeFile(input, entries);
    std::string command = std::string(journalRemote) + " -o " + (directory / (name + ".journal")).string() +
                          " - < " + input.string() + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    fs::remove(input);
}

std::string journalctl(const fs::path& directory, const std::string& boot) {
    fs::path out = directory.parent_path() / "journalctl.txt";
    std::string command = "TZ=UTC journalctl --no-pager -o short-iso -D " + directory.string() +
                          (boot == "all" ? std::string() : " -b " + boot) + " > " + out.string();
    EXPECT_EQ(std::system(command.c_str()), 0);
    return readFile(out);
}

} // namespace Testing
