#pragma once
// Sieve: the content filters of a message client. Include and exclude lists of message
// types and of signal identifiers; an empty include list includes everything.
#include <cstdint>
#include <mutex>
#include <set>

#include "platform/VESKMessage.h"

class CAllFilters {
public:
    virtual ~CAllFilters() = default;
    // Nonzero when the message passes; 0 = filtered out.
    virtual int PassesFilters(const CVESKMessage& message) const;

    void IncludeMessageType(int type);
    void ExcludeMessageType(int type);
    void IncludeSignal(uint32_t id);
    void ExcludeSignal(uint32_t id);
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::set<int> m_includeTypes, m_excludeTypes;
    std::set<uint32_t> m_includeSignals, m_excludeSignals;
};
