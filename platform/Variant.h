#pragma once
#include "String.h"
#include <vector>

// An attribute value: a list of typed entries (1 integer, 2 string).
class Variant : public Object {
  public:
    struct Entry {
        int type = 0;
        long long integer = 0;
        Ref<String> text;
    };
    static Ref<Variant> create() { return Ref<Variant>(new Variant); }
    static Ref<Variant> ofInteger(long long value);

    size_t count() const { return m_count; }
    const Entry& entry(size_t index) const {
        return index == 0 && m_count > 0 ? m_first : m_more.at(index - 1);
    }
    void append(Entry entry) {
        if (m_count++ == 0)
            m_first = std::move(entry);
        else
            m_more.push_back(std::move(entry));
    }

  private:
    // Nearly every value is one entry (a file's modification time is asked for each file an export
    // copies): it is kept in the object itself, further ones beside it.
    size_t m_count = 0;
    Entry m_first;
    std::vector<Entry> m_more;
};

inline Ref<Variant> Variant::ofInteger(long long value) {
    Ref<Variant> v = create();
    v->append({1, value, {}});
    return v;
}
