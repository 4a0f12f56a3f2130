#pragma once
// Sixteen bytes of a text tested at once: each test gives the lanes (bytes) that pass it, tests
// combine with | and &, and mask() gives bit i set when byte i passed. With SSE2 (every x86-64 has
// it) a test is a couple of instructions for all sixteen; elsewhere the bytes are tested one by one,
// with the same results.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Host {

class ByteBlock {
  public:
    static constexpr size_t size = 16;
    using Mask = uint32_t;

#if defined(__SSE2__)
    class Lanes {
      public:
        explicit Lanes(__m128i lanes) : m_lanes(lanes) {}
        Lanes operator|(Lanes other) const { return Lanes(_mm_or_si128(m_lanes, other.m_lanes)); }
        Lanes operator&(Lanes other) const { return Lanes(_mm_and_si128(m_lanes, other.m_lanes)); }
        Mask mask() const { return static_cast<Mask>(_mm_movemask_epi8(m_lanes)); }

      private:
        __m128i m_lanes;
    };
#else
    class Lanes {
      public:
        explicit Lanes(Mask bits) : m_bits(bits) {}
        Lanes operator|(Lanes other) const { return Lanes(m_bits | other.m_bits); }
        Lanes operator&(Lanes other) const { return Lanes(m_bits & other.m_bits); }
        Mask mask() const { return m_bits; }

      private:
        Mask m_bits;
    };
#endif

    // A byte to compare a block with, in either case when `ignoringCase` (an ASCII letter's case
    // bit set on both sides), made once for any number of blocks.
    class Byte {
      public:
        explicit Byte(char c, bool ignoringCase = false)
            : m_folded(ignoringCase ? static_cast<char>(c | caseBit) : c),
              m_fold(ignoringCase ? caseBit : 0) {
#if defined(__SSE2__)
            m_foldedLanes = _mm_set1_epi8(m_folded);
            m_foldLanes = _mm_set1_epi8(static_cast<char>(m_fold));
#endif
        }

      private:
        friend class ByteBlock;
        char m_folded;
        unsigned char m_fold;
#if defined(__SSE2__)
        __m128i m_foldedLanes, m_foldLanes;
#endif
    };

    // The bytes of `text` from `offset`, followed by `filler` where fewer than `size` remain.
    static ByteBlock at(std::string_view text, size_t offset, char filler) {
        if (offset < text.size() && text.size() - offset >= size) return ByteBlock(text.data() + offset);
        return padded(text, offset, filler);
    }

#if defined(__SSE2__)
    Lanes equal(char c) const {
        return Lanes(_mm_cmpeq_epi8(m_bytes, _mm_set1_epi8(c)));
    }
    Lanes equal(const Byte& byte) const {
        return Lanes(_mm_cmpeq_epi8(_mm_or_si128(m_bytes, byte.m_foldLanes), byte.m_foldedLanes));
    }
    Lanes digits() const {
        __m128i offset = _mm_sub_epi8(m_bytes, _mm_set1_epi8('0'));
        return Lanes(_mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset));
    }
#else
    Lanes equal(const Byte& byte) const {
        return each([&byte](unsigned char b) { return static_cast<char>(b | byte.m_fold) == byte.m_folded; });
    }
    Lanes equal(char c) const {
        return each([c](unsigned char b) { return b == static_cast<unsigned char>(c); });
    }
    Lanes digits() const {
        return each([](unsigned char b) { return b >= '0' && b <= '9'; });
    }
#endif

    // The `size` bytes at `bytes`, all of which can be read.
    explicit ByteBlock(const char* bytes) {
#if defined(__SSE2__)
        m_bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
#else
        std::memcpy(m_bytes, bytes, size);
#endif
    }

  private:
    static constexpr unsigned char caseBit = 0x20;

    // The end of a text, where a block would read beyond it: out of line, as it is met once a text.
    [[gnu::noinline]] static ByteBlock padded(std::string_view text, size_t offset, char filler) {
        char bytes[size];
        std::memset(bytes, filler, size);
        if (offset < text.size()) std::memcpy(bytes, text.data() + offset, text.size() - offset);
        return ByteBlock(bytes);
    }

#if defined(__SSE2__)
    __m128i m_bytes;
#else
    template <typename Test> Lanes each(Test test) const {
        Mask bits = 0;
        for (size_t i = 0; i < size; i++)
            if (test(m_bytes[i])) bits |= Mask(1) << i;
        return Lanes(bits);
    }
    unsigned char m_bytes[size];
#endif
};

} // namespace Host
