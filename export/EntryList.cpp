#include "EntryList.h"
#include <algorithm>
#include <cstring>

namespace Applications::Commands::Scrivlet {

void EntryList::add(std::string_view prefix, std::string_view name) {
    size_t length = prefix.size() + name.size() + 1;
    if (m_blocks.empty() || m_blocks.back().capacity - m_blocks.back().used < length) {
        // A name longer than a block gets a block of its own.
        size_t capacity = std::max(blockBytes, length);
        m_blocks.push_back({std::make_unique<char[]>(capacity), 0, capacity});
    }
    Block& block = m_blocks.back();
    char* at = block.text.get() + block.used;
    std::memcpy(at, prefix.data(), prefix.size());
    std::memcpy(at + prefix.size(), name.data(), name.size());
    at[length - 1] = '\0';
    m_starts.push_back({static_cast<uint32_t>(m_blocks.size() - 1), static_cast<uint32_t>(block.used)});
    block.used += length;
}

Ref<String> EntryList::operator[](size_t index) const {
    const Start& start = m_starts[index];
    return String::create(std::string_view(m_blocks[start.block].text.get() + start.offset));
}

} // namespace Applications::Commands::Scrivlet
