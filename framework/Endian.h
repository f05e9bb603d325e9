#pragma once
// Fixed-width little-endian integers, the byte order of every file the system writes.
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Native to little-endian order; the same swap turns little-endian back into native.
template <typename T>
constexpr T ToLittleEndian(T v)
{
    static_assert(std::is_unsigned_v<T>);
    if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
        T out = 0;
        for (size_t i = 0; i < sizeof(T); ++i) out = static_cast<T>((out << 8) | ((v >> (8 * i)) & 0xFF));
        return out;
    }
    return v;
}

template <typename T>
inline void StoreLittleEndian(void* out, T v)
{
    const T le = ToLittleEndian(v);
    std::memcpy(out, &le, sizeof(T));
}

template <typename T>
inline T LoadLittleEndian(const void* in)
{
    T raw;
    std::memcpy(&raw, in, sizeof(T));
    return ToLittleEndian(raw);
}
