// The uploads run in process, on a store, files and dialogs held in memory: where the object goes,
// which tag is shown, and what each failure tells the user.
#include "InMemoryRun.h"
#include "platform/System.h"
#include "platform/host/HostServices.h"
#include "support/memory/MemoryRemote.h"
#include "upload/Upload.h"

using namespace Applications::Commands::Scrivlet;
using Libraries::Tarnhold::Remote::MemoryRemote;
using Services::Skarnel::MemoryDialogs;

namespace {

class UploadInMemory : public InMemoryRun {
  protected:
    void SetUp() override {
        InMemoryRun::SetUp();
        data.assign(300000, 'u');
        files->addFile("/work/notes.txt", data);
        auto store = std::make_unique<MemoryRemote>();
        remote = store.get();
        installService<Libraries::Tarnhold::Remote::RemoteService>(std::move(store));
        run.parameters->mode = Modes::FileUpload;
        run.parameters->m_source = String::create("/work/notes.txt");
    }
    void TearDown() override {
        InMemoryRun::TearDown();
        Host::installRemote(unitPlatform());
    }
    // The one object stored, by key.
    std::pair<std::string, MemoryRemote::Object> stored() {
        auto objects = remote->objects();
        EXPECT_EQ(objects.size(), 1u);
        if (objects.empty()) return {};
        return {objects.begin()->first, objects.begin()->second};
    }
    MemoryDialogs::Message lastMessage() {
        auto messages = dialogs->messages();
        return messages.empty() ? MemoryDialogs::Message{} : messages.back();
    }

    std::string data;
    MemoryRemote* remote = nullptr;
};

// The object lies under the prefix and the tag, and the tag shown is that one.
TEST_F(UploadInMemory, TheFileArrivesUnderTheTagTheUserIsShown) {
    EXPECT_EQ(fileUpload(run), 0u);
    auto [key, object] = stored();
    ASSERT_EQ(key.size(), std::string("uploads/12345678/notes.txt").size()) << key;
    EXPECT_EQ(key.substr(0, 8), "uploads/");
    EXPECT_EQ(key.substr(16), "/notes.txt");
    EXPECT_EQ(object.bytes, data);
    EXPECT_EQ(object.contentType, "application/octet-stream");
    EXPECT_EQ(lastMessage().title, "UPLOAD FILE SUCCESSFUL");
    EXPECT_EQ(lastMessage().text, "UPLOADED LOG AS #" + key.substr(8, 8));
}

// Each failure shows the step's marker and the code; nothing is kept by the store.
TEST_F(UploadInMemory, FailuresNameTheirStepAndCode) {
    remote->refuseWith = Errors::ServerRefused;
    EXPECT_EQ(fileUpload(run), Errors::Failed);
    EXPECT_EQ(lastMessage().title, "UPLOAD FILE FAILED");
    EXPECT_EQ(lastMessage().text, "UPLOAD OF FILE FAILED\n\nERROR: 0x50008486 (1342211206)");

    remote->refuseWith = 0;
    remote->maxBytes = data.size() - 1;
    EXPECT_EQ(fileUpload(run), Errors::Failed);
    EXPECT_EQ(lastMessage().text, "SIZE OF DATA TO UPLOAD IS TOO LARGE\n\nERROR: 0x50008484 (1342211204)");

    remote->answers = false;
    EXPECT_EQ(fileUpload(run), Errors::Unavailable);
    EXPECT_EQ(lastMessage().text, "UPLOAD OF FILE FAILED\n\nERROR: 0x10010004 (268500996)");
    EXPECT_TRUE(remote->objects().empty());
}

// A cancel part way leaves nothing in the store and shows no further dialog.
TEST_F(UploadInMemory, ACancelLeavesNothingInTheStore) {
    dialogs->cancelAtQuery = 2;
    EXPECT_EQ(fileUpload(run), Errors::Cancelled);
    EXPECT_TRUE(remote->objects().empty());
    EXPECT_TRUE(dialogs->messages().empty());
}

// The system log goes as a gzip object named after the suffix.
TEST_F(UploadInMemory, TheSystemLogArrivesNamedAfterTheSuffix) {
    files->addFile("/work/log.gz", "compressed");
    remote->log = Services::Filesystem::Client::File::open(String::create("/work/log.gz"),
                                                           Services::Filesystem::Client::OpenMode::Read);
    run.parameters->mode = Modes::LogUpload;
    run.parameters->suffix = String::create("service");
    EXPECT_EQ(logUpload(run), 0u);
    auto [key, object] = stored();
    EXPECT_EQ(key.substr(16), "/Orvane-syslog-service.log.gz") << key;
    EXPECT_EQ(object.bytes, "compressed");
    EXPECT_EQ(object.contentType, "application/gzip");
    EXPECT_EQ(lastMessage().title, "UPLOAD LOG SUCCESSFUL");
}

} // namespace
