#pragma once
// CGKISignalRecReader: reads one GKI record per Serialize call from a loading archive and
// turns it into a native message: type 'S' gives message type 6, '2' type 5 and 'C'
// type 67. The message's data block is the 8-byte message header (the type in its first
// 16 bits, the rest 0), the record's native image header and its body converted to the
// native layout; a body that cannot be converted is left out without a word. Messages
// are of kind 1 with the further value 1 and are numbered 1, 2, 3 ... in the order read.
// Used for loading only.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "convert/EnumSizeConverter.h"
#include "convert/GKIRec.h"
#include "framework/Object.h"
#include "platform/VESKMessage.h"

class CGKISignalRecReader : public CObject {
public:
    CGKISignalRecReader();
    ~CGKISignalRecReader() override;
    CGKISignalRecReader(const CGKISignalRecReader&) = delete;
    CGKISignalRecReader& operator=(const CGKISignalRecReader&) = delete;

    // Reads one record. An unknown type code shows "There is a problem with this signal
    // type" and throws CNotSupportedException; an archive that ends inside the record
    // throws its CArchiveException. A storing archive throws CNotSupportedException.
    void Serialize(CArchive& ar) override;
    // Hands the message of the last read to the caller (null once it has been taken).
    std::unique_ptr<CVESKMessage> GetMessage() { return std::move(m_pMessage); }
    // The message of the last read, left with the reader: a message that is not taken is
    // filled again by the next read (null once it has been taken).
    CVESKMessage* PeekMessage() { return m_pMessage.get(); }

    int32_t m_nRecTypeCode = CGKIRec::kSignalCode;
    uint16_t m_wMsgType = 0;
    int32_t m_nNextIndex = 1;
    std::unique_ptr<CVESKMessage> m_pMessage;
    CEnumSizeConverter m_converter;
    std::unique_ptr<CGKIRec> m_pRecord;  // the record being read; null between reads
    // Bodies that would not convert to the native layout (their messages carry the
    // header only): a count for hosts that report it; nothing is shown.
    uint64_t m_nBodiesNotConverted = 0;

private:
    // The message of a read: m_pMessage filled again when it was not taken.
    void SetMessage(const BYTE* image, uint32_t headerSize, std::span<const BYTE> body);

    CGKIRecPool m_records;
    std::vector<BYTE> m_block;  // the data block being made
};
