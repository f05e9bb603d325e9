#pragma once
// CDiagLogHeaderReader (exported): the 28-byte header of an SD-card log, seven unsigned
// 32-bit words (convert/SdLog.h). Only loading reads anything; storing writes nothing.
#include <array>
#include <cstdint>
#include <memory>

#include "framework/Object.h"
#include "framework/Types.h"

class CDiagLogHeaderReader : public CObject {
public:
    CDiagLogHeaderReader() = default;
    // Dynamic creation: a new, empty reader.
    static std::unique_ptr<CObject> CreateObject() { return std::make_unique<CDiagLogHeaderReader>(); }

    void Serialize(CArchive& ar) override;
    // W6 (seconds since 1970 UTC) plus eight hours.
    int64_t GetStartTime() const;
    DWORD GetWord(int i) const { return m_adwWords.at(static_cast<size_t>(i)); }  // W1 is 0

    std::array<DWORD, 7> m_adwWords{};
};
