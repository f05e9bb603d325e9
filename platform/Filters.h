#pragma once
// Sieve: the content filters of a message client.
#include "platform/VESKMessage.h"

class CAllFilters {
public:
    virtual ~CAllFilters() = default;
    // Nonzero when the message passes; 0 = filtered out.
    virtual int PassesFilters(const CVESKMessage& message) const;
};
