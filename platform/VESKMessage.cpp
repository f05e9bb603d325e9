#include "platform/VESKMessage.h"

#include <cstring>

#include "framework/Endian.h"
#include "platform/Clock.h"

CVESKMessage::CVESKMessage(int nKind, int nDevice, const BYTE* pData, int nSize, int nFurther)
    : m_nKind(nKind), m_nDevice(nDevice), m_nFurther(nFurther)
{
    SetData(pData, nSize);
}

void CVESKMessage::CompleteRawMessage()
{
    m_pcTime = LocalTimeNow();
}

void CVESKMessage::SetData(const BYTE* pData, int nSize)
{
    if (pData && nSize > 0)
        m_data.assign(pData, pData + nSize);
    else
        m_data.clear();
    m_nDataLength = nSize < 0 ? nSize : static_cast<int32_t>(m_data.size());
}

void CVESKMessage::SwapData(std::vector<BYTE>& data)
{
    m_data.swap(data);
    m_nDataLength = static_cast<int32_t>(m_data.size());
}

void CVESKMessage::SetDataLength(int length)
{
    if (length <= 0) {
        m_data.clear();
    } else {
        m_data.resize(static_cast<size_t>(length));
    }
    m_nDataLength = length;
}

WORD CVESKMessage::GetMessageType() const
{
    if (m_data.size() < 2) return 0;
    return static_cast<WORD>(m_data[0] | (m_data[1] << 8));
}

const BYTE* CVESKMessage::GetBody() const
{
    return m_data.size() > static_cast<size_t>(kHeaderSize) ? m_data.data() + kHeaderSize : nullptr;
}

int CVESKMessage::GetBodyLength() const
{
    return m_data.size() > static_cast<size_t>(kHeaderSize) ? static_cast<int>(m_data.size()) - kHeaderSize : 0;
}

void CVESKMessage::StoreRecord(CArchive& ar, int32_t kind, int32_t device, const CSystemTime& time, const BYTE* data,
                               int32_t length, uint64_t index, int32_t further)
{
    constexpr UINT kHead = 4 + 4 + CSystemTime::kStoredSize + 4;
    constexpr UINT kTail = 8 + 4;
    auto fillHead = [&](BYTE* head) {
        StoreLittleEndian<uint32_t>(head, static_cast<uint32_t>(kind));
        StoreLittleEndian<uint32_t>(head + 4, static_cast<uint32_t>(device));
        time.Store(head + 8);
        StoreLittleEndian<uint32_t>(head + 8 + CSystemTime::kStoredSize, static_cast<uint32_t>(length));
    };
    auto fillTail = [&](BYTE* tail) {
        StoreLittleEndian<uint64_t>(tail, index);
        StoreLittleEndian<uint32_t>(tail + 8, static_cast<uint32_t>(further));
    };
    const UINT count = length > 0 ? static_cast<UINT>(length) : 0;
    // Most records fit in what is left of the archive's buffer and are put together there.
    if (BYTE* p = ar.Reserve(kHead + count + kTail)) {
        fillHead(p);
        if (count) std::memcpy(p + kHead, data, count);
        fillTail(p + kHead + count);
        return;
    }
    BYTE head[kHead];
    fillHead(head);
    ar.Write(head, sizeof head);
    if (count) ar.Write(data, count);
    BYTE tail[kTail];
    fillTail(tail);
    ar.Write(tail, sizeof tail);
}

void CVESKMessage::Serialize(CArchive& ar)
{
    if (ar.IsStoring()) {
        StoreRecord(ar, m_nKind, m_nDevice, m_pcTime, m_data.data(), m_nDataLength, m_nIndex, m_nFurther);
        return;
    }
    ar >> m_nKind >> m_nDevice;
    m_pcTime.Serialize(ar);
    int32_t length = 0;
    ar >> length;
    if (length > kMaxDataLength) throw CArchiveException(CArchiveException::badIndex, ar.GetFile()->GetFilePath());
    m_data.clear();
    m_nDataLength = length;
    if (length > 0) {
        // Grow with the bytes actually there, so a damaged length cannot make a big
        // allocation before the end of the data is found.
        constexpr UINT kChunk = 64 * 1024;
        size_t done = 0;
        while (done < static_cast<size_t>(length)) {
            const UINT want = static_cast<UINT>(std::min<size_t>(kChunk, static_cast<size_t>(length) - done));
            m_data.resize(done + want);
            if (ar.Read(m_data.data() + done, want) != want) throw CArchiveException(CArchiveException::endOfFile, ar.GetFile()->GetFilePath());
            done += want;
        }
    }
    ar >> m_nIndex >> m_nFurther;
}

bool operator==(const CVESKMessage& a, const CVESKMessage& b)
{
    return a.m_nKind == b.m_nKind && a.m_nDevice == b.m_nDevice && a.m_pcTime == b.m_pcTime &&
           a.m_nDataLength == b.m_nDataLength && a.m_data == b.m_data && a.m_nIndex == b.m_nIndex &&
           a.m_nFurther == b.m_nFurther;
}
