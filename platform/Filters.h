#pragma once
// Sieve: the content filters of a message client. Include and exclude lists of message
// types and of signal identifiers, set by the host. A message passes when its type is
// not excluded and, if any type is included, is among them; and, when signal lists are
// set, when it is a signal (kind 1, message type 5, 6 or 7) whose identifier is not
// excluded and, if any identifier is included, is among them. Empty lists filter nothing.
// Signal headers are read with the registry's Recoder.
#include <atomic>
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
    // Empties every list: everything passes again.
    void Clear();

private:
    void Changed();  // with m_mutex held

    mutable std::mutex m_mutex;
    std::atomic<bool> m_bAny{false};  // any list set; lets the common case pass without the lock
    std::set<int> m_includeTypes, m_excludeTypes;
    std::set<uint32_t> m_includeSignals, m_excludeSignals;
};
