#pragma once
// A test whose file service is a tree in memory, installed for the test alone: the program's logic
// runs against it without a disk, and the tree shows afterwards what the logic did.
#include "UnitPlatform.h"
#include "platform/host/HostFilesystem.h"
#include "support/memory/MemoryFilesystem.h"
#include <gtest/gtest.h>

class InMemoryFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        auto service = std::make_unique<Services::Filesystem::Client::MemoryFilesystem>();
        files = service.get();
        installService<Services::Filesystem::Client::FilesystemService>(std::move(service));
    }
    void TearDown() override { Host::installFilesystem(unitPlatform()); }

    Services::Filesystem::Client::MemoryFilesystem* files = nullptr;
};
