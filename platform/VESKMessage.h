#pragma once
// CVESKMessage: one device message. Its Serialize writes one self-delimiting record,
// which is exactly a record of a log file:
//
//   int32   kind              1 = device trace message
//   int32   device number     device slot of origin
//   8 x u16 PC time stamp     year, month, day of week, day, hour, minute, second, ms
//   int32   data length       negative = unreadable; no data bytes follow then
//   bytes   data              `data length` bytes when it is above 0
//   uint64  message index
//   int32   further value     1 for imported messages
//
// All little-endian through the archive. A record whose data length exceeds
// kMaxDataLength is refused on loading with an archive exception.
#include <vector>

#include "framework/Archive.h"
#include "framework/Types.h"
#include "platform/SystemTime.h"

class CVESKMessage {
public:
    static constexpr int32_t kMaxDataLength = 16 * 1024 * 1024;
    static constexpr int kHeaderSize = 8;  // message header in front of the payload

    CVESKMessage() = default;
    // kind, device number, data block (copied), its size, further value.
    CVESKMessage(int nKind, int nDevice, const BYTE* pData, int nSize, int nFurther);
    virtual ~CVESKMessage() = default;
    CVESKMessage(const CVESKMessage&) = default;
    CVESKMessage& operator=(const CVESKMessage&) = default;

    // Finishes a message made from a raw data block: stamps it with the local time now.
    void CompleteRawMessage();
    virtual void Serialize(CArchive& ar);
    // Stores the record of a message with these fields (data: `length` bytes when above 0),
    // exactly as Serialize stores it, without making the message.
    static void StoreRecord(CArchive& ar, int32_t kind, int32_t device, const CSystemTime& time, const BYTE* data,
                            int32_t length, uint64_t index, int32_t further);

    int GetKind() const { return m_nKind; }
    void SetKind(int kind) { m_nKind = kind; }
    int GetDeviceNumber() const { return m_nDevice; }
    void SetDeviceNumber(int device) { m_nDevice = device; }
    const CSystemTime& GetPCTimeStamp() const { return m_pcTime; }
    void SetPCTimeStamp(const CSystemTime& t) { m_pcTime = t; }
    const BYTE* GetData() const { return m_data.empty() ? nullptr : m_data.data(); }
    int GetDataLength() const { return m_nDataLength; }
    void SetData(const BYTE* pData, int nSize);
    // Takes the bytes of `data` as the data block and leaves the old block's storage in
    // `data` (its bytes unspecified), so that a source can reuse it without a copy.
    void SwapData(std::vector<BYTE>& data);
    void SetDataLength(int length);  // a negative length marks the message unreadable
    // 16-bit message type at the start of the data block (0 when the block is shorter).
    WORD GetMessageType() const;
    // The payload after the 8-byte message header.
    const BYTE* GetBody() const;
    int GetBodyLength() const;
    uint64_t GetMessageIndex() const { return m_nIndex; }
    void SetMessageIndex(uint64_t index) { m_nIndex = index; }
    int GetFurther() const { return m_nFurther; }
    void SetFurther(int value) { m_nFurther = value; }

    // Bytes the message holds in memory: the object and its data block's storage.
    size_t MemoryFootprint() const { return sizeof(*this) + m_data.capacity(); }

    friend bool operator==(const CVESKMessage& a, const CVESKMessage& b);

private:
    int32_t m_nKind = 0;
    int32_t m_nDevice = 0;
    CSystemTime m_pcTime;
    std::vector<BYTE> m_data;
    int32_t m_nDataLength = 0;
    uint64_t m_nIndex = 0;
    int32_t m_nFurther = 0;
};
