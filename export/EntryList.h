#pragma once
// The relative paths of the files an export copies, kept as text in large blocks: a listing of
// 100,000 files costs their names and an offset each, not an object and a heap block per name.
// Each entry becomes a String again when it is asked for, one at a time as the copy goes.
#include "platform/String.h"
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace Applications::Commands::Scrivlet {

class EntryList {
  public:
    // Adds prefix + name as the next entry.
    void add(std::string_view prefix, std::string_view name);
    size_t size() const { return m_starts.size(); }
    Ref<String> operator[](size_t index) const;

  private:
    static constexpr size_t blockBytes = 64 * 1024;
    struct Block {
        std::unique_ptr<char[]> text;
        size_t used = 0;
        size_t capacity = 0;
    };
    struct Start {
        uint32_t block;
        uint32_t offset;
    };
    std::vector<Block> m_blocks;
    std::vector<Start> m_starts; // each entry ends where its text's terminating NUL is
};

} // namespace Applications::Commands::Scrivlet
