#include "RedactionWords.h"
#include "ByteBlock.h"
#include <algorithm>
#include <memory>

namespace Redaction::Shapes {
namespace {

using Host::ByteBlock;

bool isAsciiLetter(char c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

class Words {
  public:
    explicit Words(std::vector<Word> words) : m_words(std::move(words)) {
        std::stable_sort(m_words.begin(), m_words.end(),
                         [](const Word& a, const Word& b) { return a.text.size() > b.text.size(); });
        for (const Word& word : m_words)
            addLead(word);
    }

    size_t find(std::string_view text, size_t from, size_t& length) const {
        for (size_t block = from; block < text.size(); block += ByteBlock::size) {
            for (ByteBlock::Mask places = leadsIn(text, block); places; places &= places - 1) {
                size_t at = block + static_cast<size_t>(__builtin_ctz(places));
                if ((length = longestAt(text, at)) != 0) return at;
            }
        }
        length = 0;
        return std::string_view::npos;
    }

  private:
    // A word's first two bytes (the first twice for a word of one): the places they stand are the
    // only ones tried.
    struct Lead {
        char first, second;
        bool ignoreCase;
        ByteBlock::Byte firstByte, secondByte;
    };

    void addLead(const Word& word) {
        const std::string& text = word.text;
        char first = text[0], second = text.size() > 1 ? text[1] : text[0];
        if (text.size() == 1) m_singleByte = true;
        for (const Lead& lead : m_leads)
            if (lead.first == first && lead.second == second && lead.ignoreCase == word.ignoreCase) return;
        m_leads.push_back({first, second, word.ignoreCase,
                           ByteBlock::Byte(first, word.ignoreCase && isAsciiLetter(first)),
                           ByteBlock::Byte(second, word.ignoreCase && isAsciiLetter(second))});
    }

    // The places in the block at `block` where a word's lead stands.
    ByteBlock::Mask leadsIn(std::string_view text, size_t block) const {
        ByteBlock here = ByteBlock::at(text, block, '\0');
        ByteBlock::Mask places = 0;
        if (m_singleByte) {
            for (const Lead& lead : m_leads)
                places |= here.equal(lead.firstByte).mask();
        } else {
            ByteBlock next = ByteBlock::at(text, block + 1, '\0');
            for (const Lead& lead : m_leads)
                places |= (here.equal(lead.firstByte) & next.equal(lead.secondByte)).mask();
        }
        size_t available = std::min(ByteBlock::size, text.size() - block);
        return places & ((ByteBlock::Mask(1) << available) - 1);
    }

    static bool holds(std::string_view text, size_t at, const Word& word) {
        if (text.size() - at < word.text.size()) return false;
        if (!word.ignoreCase) return text.compare(at, word.text.size(), word.text) == 0;
        return holdsIgnoringCase(text, at, word.text);
    }

    // The length of the longest word at `at`, or 0.
    size_t longestAt(std::string_view text, size_t at) const {
        for (const Word& word : m_words)
            if (holds(text, at, word)) return word.text.size();
        return 0;
    }

    std::vector<Word> m_words; // the longest first
    std::vector<Lead> m_leads;
    bool m_singleByte = false; // a word of one byte: places are tried by their first byte alone
};

} // namespace

Finder wordFinder(std::vector<Word> words) {
    for (const Word& word : words) {
        const std::string& text = word.text;
        // A line feed the pattern never matches (no value spans lines).
        if (text.empty() || text.find('\n') != std::string::npos) return {};
        bool beyondAscii = std::any_of(text.begin(), text.end(), [](char c) { return c & 0x80; });
        if (word.ignoreCase && beyondAscii) return {};
    }
    auto shared = std::make_shared<const Words>(std::move(words));
    return [shared](std::string_view text, size_t from, size_t& length) {
        return shared->find(text, from, length);
    };
}

} // namespace Redaction::Shapes
