#pragma once
// FlatMemo: remembers a value per key (a pointer or an integer) for lookups on every
// record, where a node-based map's allocation and modulo would cost more than the work
// they save. Open addressing with linear probing in a power-of-two table, kept at most
// half full; entries are never removed one by one, only all at once.
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

template <typename Key, typename Value>
class FlatMemo {
public:
    // The value remembered for `key`, or null.
    Value* Find(Key key)
    {
        if (m_slots.empty()) return nullptr;
        for (size_t i = Home(key);; i = (i + 1) & Mask()) {
            Slot& s = m_slots[i];
            if (!s.used) return nullptr;
            if (s.key == key) return &s.value;
        }
    }
    // Remembers `value` for a key that is not remembered yet.
    void Add(Key key, Value value)
    {
        if (2 * (m_count + 1) > m_slots.size()) Grow();
        Place(key, std::move(value));
    }
    void Clear()
    {
        m_slots.clear();
        m_count = 0;
    }

private:
    struct Slot {
        Key key{};
        Value value{};
        bool used = false;
    };

    size_t Mask() const { return m_slots.size() - 1; }
    size_t Home(Key key) const
    {
        uint64_t k;
        if constexpr (std::is_pointer_v<Key>)
            k = reinterpret_cast<uintptr_t>(key);
        else
            k = static_cast<uint64_t>(key);
        return static_cast<size_t>((k * 0x9E3779B97F4A7C15ull) >> 32) & Mask();
    }
    void Place(Key key, Value value)
    {
        size_t i = Home(key);
        while (m_slots[i].used) i = (i + 1) & Mask();
        m_slots[i] = Slot{key, std::move(value), true};
        ++m_count;
    }
    void Grow()
    {
        std::vector<Slot> old = std::move(m_slots);
        m_slots.assign(old.empty() ? 16 : 2 * old.size(), Slot{});
        m_count = 0;
        for (Slot& s : old)
            if (s.used) Place(s.key, std::move(s.value));
    }

    std::vector<Slot> m_slots;
    size_t m_count = 0;
};
