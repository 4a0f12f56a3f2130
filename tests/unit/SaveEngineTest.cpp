// The save engine run in process, on a file service, an environment and dialogs held in memory:
// where the copies go, what the user is told, and a medium that fills up under the copy.
#include "InMemoryRun.h"
#include "writing/Writing.h"

using namespace Applications::Commands::Scrivlet;

namespace {

constexpr unsigned fileDirectory = 8, alternateFileDirectory = 10;

class SaveEngine : public InMemoryRun {
  protected:
    void SetUp() override {
        InMemoryRun::SetUp();
        addPlatformDirectories(fileDirectory, "/system/Screenshots", alternateFileDirectory,
                               "/system/Service/Screenshots");
        data.assign(200000, 'd');
        files->addFile("/work/shot.png", data);
        run.parameters->m_source = String::create("/work/shot.png");
    }
    Error save() {
        Error result(0);
        saveFile(run, result, String::create("shot.png"),
                 {String::create("Wait"), String::create("Searching")});
        return result;
    }

    std::string data;
};

TEST_F(SaveEngine, TheFileGoesToBothPlatformDirectoriesAndTheUserIsToldWhere) {
    EXPECT_EQ(save(), 0u);
    EXPECT_EQ(files->contents("/system/Screenshots/shot.png"), data);
    EXPECT_EQ(files->contents("/system/Service/Screenshots/shot.png"), data);
    ASSERT_FALSE(dialogs->messages().empty());
    EXPECT_EQ(dialogs->messages().back().title, "Information");
    EXPECT_NE(dialogs->messages().back().text.find("File saved as SYSTEM:"), std::string::npos)
        << dialogs->messages().back().text;
}

// The medium fills up part way through the copy: the write is what failed, and the user is told so
// with the target's shown path and the code of a full medium marked as a write.
TEST_F(SaveEngine, AMediumThatFillsUpIsAFailedWrite) {
    files->setCapacity(data.size() + data.size() / 2);
    EXPECT_EQ(save(), Errors::Failed);
    ASSERT_FALSE(dialogs->messages().empty());
    std::string text = dialogs->messages().back().text;
    EXPECT_EQ(text.rfind("Error writing to file SYSTEM:", 0), 0u) << text;
    EXPECT_NE(text.find("0xA0000026h"), std::string::npos) << text;
}

} // namespace
