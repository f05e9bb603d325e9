#pragma once
// Small helpers shared by the framework tests.
#include <cstring>
#include <optional>

#include "tests/support/LogFileBytes.h"  // Bytes, Cat

inline Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s)); }

// n bytes counting up modulo `period`: a run read from the wrong place shows.
inline Bytes Pattern(size_t n, unsigned period)
{
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i % period);
    return out;
}

// The cause carried by the E that f throws; empty when f throws nothing.
template <class E, class F>
std::optional<typename E::Cause> CauseOf(F&& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.m_cause;
    }
    return std::nullopt;
}
