// The export's list of relative paths: every entry comes back as it went in, across blocks and for
// names longer than a block.
#include "export/EntryList.h"
#include <gtest/gtest.h>
#include <string>

using Applications::Commands::Scrivlet::EntryList;

namespace {

TEST(EntryList, EntriesComeBackAsAddedAcrossBlocks) {
    EntryList list;
    std::vector<std::string> names;
    for (int i = 0; i < 20000; i++)
        names.push_back("service-" + std::to_string(i) + std::string(i % 50, 'x') + ".log");
    names.push_back(std::string(200 * 1024, 'l')); // larger than a block
    names.push_back("");
    names.push_back("after.log");
    for (const std::string& name : names)
        list.add("./Logs/", name);
    ASSERT_EQ(list.size(), names.size());
    for (size_t i = 0; i < names.size(); i++)
        ASSERT_EQ(list[i]->str(), "./Logs/" + names[i]) << "entry " << i;
}

} // namespace
