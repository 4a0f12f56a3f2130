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

    size_t count() const { return m_entries.size(); }
    const Entry& entry(size_t index) const { return m_entries.at(index); }
    void append(Entry entry) { m_entries.push_back(std::move(entry)); }

  private:
    std::vector<Entry> m_entries;
};

inline Ref<Variant> Variant::ofInteger(long long value) {
    Ref<Variant> v = create();
    v->append({1, value, {}});
    return v;
}
