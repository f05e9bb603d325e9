#include "convert/GKIRec.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <span>

#include "convert/EnumSizeConverter.h"
#include "framework/Archive.h"
#include "platform/Recoder.h"
#include "platform/Services.h"
#include "platform/VESKMessage.h"

namespace {
constexpr uint32_t kSignalFixed = 14;        // signal record: bytes after the length field, body aside
constexpr uint32_t kLoggedSignalFixed = 22;  // logged signal record: the same
constexpr uint32_t kMaxLength = 0xFFFF;

int64_t Align(int64_t p, int n)
{
    if (p >= 0 && n > 0 && (n & (n - 1)) == 0) return (p + n - 1) & ~static_cast<int64_t>(n - 1);
    return (n > 1 && p % n) ? p + n - p % n : p;
}

// The kinds of record a pool holds, by their place in it; -1 for none.
constexpr int kSignalSlot = 0, kLogged0Slot = 1, kLogged1Slot = 2, kCommandSlot = 3;

int ExportSlot(const CVESKMessage& message)
{
    if (message.GetKind() != 1 || message.GetDataLength() < CVESKMessage::kHeaderSize) return -1;
    switch (message.GetMessageType()) {
        case CConverter::kSignalMessageType:
            return kSignalSlot;
        case CConverter::kLoggedSignalMessageType:
            return kLogged0Slot;
        case CConverter::kLoggedSignal2MessageType:
            return kLogged1Slot;
        default:
            return -1;
    }
}

int LoadSlot(int32_t typeCode)
{
    switch (typeCode) {
        case CGKIRec::kCommandCode:
            return kCommandSlot;
        case CGKIRec::kSignalCode:
            return kSignalSlot;
        case CGKIRec::kLoggedSignalCode:
            return kLogged0Slot;
        default:
            return -1;
    }
}

std::unique_ptr<CGKIRec> MakeSlot(int slot)
{
    switch (slot) {
        case kSignalSlot:
            return std::make_unique<CGKISignalRec>();
        case kLogged0Slot:
            return std::make_unique<CGKILoggedSignalRec>(0);
        case kLogged1Slot:
            return std::make_unique<CGKILoggedSignalRec>(1);
        case kCommandSlot:
            return std::make_unique<CGKICommandRec>();
        default:
            return nullptr;
    }
}

// A native image being filled: `size` bytes at `image`. Inline: the loaders put six
// fields a record.
struct ImageWriter {
    BYTE* image;
    uint32_t size;
    // Puts `width` little-endian bytes of `value`; bytes past the image are dropped.
    void Put(int64_t at, uint32_t value, int width) const
    {
        if (at >= 0 && width <= 4 && at + width <= size) [[likely]] {
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(image + at, &value, static_cast<size_t>(width));  // the low bytes first
            } else {
                for (int i = 0; i < width; ++i) image[at + i] = static_cast<BYTE>(value >> (8 * i));
            }
            return;
        }
        for (int i = 0; i < width && i < 4; ++i)
            if (at + i >= 0 && at + i < size) image[at + i] = static_cast<BYTE>(value >> (8 * i));
    }
    // A leading header field: one byte at width 1, else its low 16 bits.
    void Field(int64_t at, uint32_t value, int width) const
    {
        Put(at, width == 1 ? value & 0xFF : value & 0xFFFF, width == 1 ? 1 : 2);
    }
};

// A native signal header in message data. Bytes past the end of the data read as 0.
class NativeBytes {
public:
    NativeBytes(const BYTE* data, int length) : m_data(data), m_length(data ? std::max(length, 0) : 0) {}
    uint32_t Read(int64_t at, int width) const
    {
        if (at >= 0 && width >= 0 && width <= 4 && at + width <= m_length) [[likely]] {
            uint32_t v = 0;
            for (int i = 0; i < width; ++i) v |= static_cast<uint32_t>(m_data[at + i]) << (8 * i);
            return v;
        }
        uint32_t v = 0;
        for (int i = 0; i < width && i < 4; ++i)
            if (at + i >= 0 && at + i < m_length) v |= static_cast<uint32_t>(m_data[at + i]) << (8 * i);
        return v;
    }
    // A leading header field: one byte at width 1, else its low 16 bits.
    uint32_t Field(int64_t at, int width) const { return Read(at, width == 1 ? 1 : 2); }
    // The bytes present from `at` on, at most `most`.
    int64_t Present(int64_t at, int64_t most) const
    {
        return std::clamp<int64_t>(m_length - at, 0, std::max<int64_t>(most, 0));
    }
    const BYTE* At(int64_t at) const { return at >= 0 && at < m_length ? m_data + at : nullptr; }
    int64_t Length() const { return m_length; }

private:
    const BYTE* m_data;
    int64_t m_length;
};

}  // namespace

// ---- the base ----

CGKIRec::~CGKIRec() = default;

std::unique_ptr<CGKIRec> CGKIRec::Create(int32_t typeCode)
{
    return MakeSlot(LoadSlot(typeCode));
}

std::unique_ptr<CGKIRec> CGKIRec::ForMessage(const CVESKMessage& message)
{
    return MakeSlot(ExportSlot(message));
}

NativeLayoutValues CGKIRec::LayoutValues(CEnumSizeConverter* converter) const
{
    NativeLayoutValues v;
    if (converter) {
        v = converter->GetLayoutValues();
    } else if (const std::shared_ptr<CConverter> recoder = Services::Recoder()) {
        v = recoder->GetLayoutValues();
    }
    v.S = std::clamp(v.S, 1, 64);
    v.I = std::clamp(v.I, 1, 64);
    v.E = std::clamp(v.E, 1, 64);
    return v;
}

const NativeHeaderLayout& CGKIRec::HeaderLayout(int messageType, const NativeLayoutValues& v, uint32_t count)
{
    LayoutKey& k = m_layoutKey;
    if (k.messageType != messageType || k.v.S != v.S || k.v.I != v.I || k.v.E != v.E || k.v.L != v.L ||
        k.count != count) {
        m_layout = NativeHeaderLayout();
        CConverter::HeaderLayout(messageType, v, count, m_layout);
        k = LayoutKey{messageType, v, count};
    }
    return m_layout;
}

BYTE* CGKIRec::BodyOfSize(uint32_t size)
{
    if (!m_pBody || m_nBodySize != size) {
        m_pBody = std::make_unique<BYTE[]>(size);
        m_nBodySize = size;
    }
    return m_pBody.get();
}

BYTE* CGKIRec::ImageOfSize(uint32_t size)
{
    if (!m_pImage || m_nImageSize != size) {
        m_pImage = std::make_unique<BYTE[]>(size);
        m_nImageSize = size;
    }
    return m_pImage.get();
}

void CGKIRec::StoreHeaderImage()
{
    Header h;
    WriteHeader(h);
    std::memcpy(ImageOfSize(h.size), h.bytes, h.size);
}

void CGKIRec::Store(CArchive& ar, int64_t bodyBytes) const
{
    Header h;
    WriteHeader(h);
    ar.Write(h.bytes, h.size);
    if (!m_pBody || bodyBytes <= 0) return;
    const uint32_t held =
        std::min<uint32_t>(m_nBodySize, static_cast<uint32_t>(std::min<int64_t>(bodyBytes, UINT32_MAX)));
    ar.Write(m_pBody.get(), held);
    static const BYTE zeros[256] = {};
    for (int64_t left = bodyBytes - held; left > 0; left -= sizeof zeros)
        ar.Write(zeros, static_cast<UINT>(std::min<int64_t>(left, sizeof zeros)));
}

void CGKIRec::LoadBody(CArchive& ar, uint32_t count)
{
    if (ar.Read(BodyOfSize(count), count) != count)
        throw CArchiveException(CArchiveException::endOfFile, ar.GetFile() ? ar.GetFile()->GetFilePath() : CString());
}

bool CGKIRec::ConvertBody(CEnumSizeConverter& converter, const BYTE* in, int64_t count, uint32_t most)
{
    std::span<const BYTE> body;
    if (!converter.ConvertToGKI(m_nId, in, static_cast<int>(std::min<int64_t>(count, INT_MAX)), body)) {
        m_strError = converter.m_strError;
        return false;
    }
    if (body.size() > most) {
        m_strError = CEnumSizeConverter::WalkErrorText(m_nId);
        return false;
    }
    BYTE* to = BodyOfSize(static_cast<uint32_t>(body.size()));
    if (!body.empty()) std::memcpy(to, body.data(), body.size());
    return true;
}

void CGKIRec::NewImage(uint32_t headerSize)
{
    m_nImageHeaderSize = headerSize;
    BYTE* image = ImageOfSize(headerSize + m_nBodySize);
    std::memset(image, 0, headerSize);
    if (m_pBody && m_nBodySize) std::memcpy(image + headerSize, m_pBody.get(), m_nBodySize);
}

void CGKIRec::PutImage(int64_t at, uint32_t value, int width)
{
    ImageWriter{m_pImage.get(), m_nImageSize}.Put(at, value, width);
}

void CGKIRec::PutImageField(int64_t at, uint32_t value, int width)
{
    ImageWriter{m_pImage.get(), m_nImageSize}.Field(at, value, width);
}

// ---- command ----

CGKICommandRec::~CGKICommandRec() = default;

void CGKICommandRec::WriteHeader(Header& h) const
{
    h << static_cast<uint32_t>(m_nTypeCode) << m_wLength << m_nId;
}

int64_t CGKICommandRec::StoredBodyBytes() const
{
    return static_cast<int64_t>(m_wLength) - 2;
}

void CGKICommandRec::BuildHeaderImage()
{
    StoreHeaderImage();
}

int CGKICommandRec::FromMessage(const unsigned char* data, int length, CEnumSizeConverter& converter)
{
    const NativeBytes h(data, length);
    m_nId = h.Read(0, 1);
    const int64_t count = static_cast<int64_t>(length) - 2;
    if (count != 0) {
        // The arguments start at 2^L rounded up to a multiple of 4.
        const int L = std::clamp(LayoutValues(&converter).L, 0, 30);
        const int64_t offset = Align(int64_t{1} << L, 4);
        if (!ConvertBody(converter, h.At(offset), h.Present(offset, count), UINT32_MAX)) return 0;
    }
    m_wLength = static_cast<uint16_t>(std::clamp<int64_t>(length, 0, kMaxLength));
    BuildHeaderImage();
    return 1;
}

void CGKICommandRec::Serialize(CArchive& ar)
{
    if (ar.IsStoring()) {
        Store(ar, StoredBodyBytes());
        return;
    }
    ar >> m_wLength >> m_nId;
    // The body bytes a storing record writes after the identifier; the native image
    // does not carry them.
    BYTE skip[256];
    for (int64_t left = static_cast<int64_t>(m_wLength) - 2; left > 0; left -= sizeof skip) {
        const UINT n = static_cast<UINT>(std::min<int64_t>(left, sizeof skip));
        if (ar.Read(skip, n) != n)
            throw CArchiveException(CArchiveException::endOfFile,
                                    ar.GetFile() ? ar.GetFile()->GetFilePath() : CString());
    }
    // Image: the identifier's low 16 bits, then two zero bytes that stand for the body.
    m_nImageHeaderSize = 2;
    std::memset(ImageOfSize(4), 0, 4);
    ImageWriter{m_pImage.get(), m_nImageSize}.Put(0, m_nId & 0xFFFF, 2);
}

// ---- signal ----

CGKISignalRec::~CGKISignalRec() = default;

void CGKISignalRec::WriteHeader(Header& h) const
{
    h << static_cast<uint32_t>(m_nTypeCode) << m_wLength << m_nHeaderField1 << m_nHeaderField2 << m_wBodyLength
      << m_nId;
}

int64_t CGKISignalRec::StoredBodyBytes() const
{
    return m_wBodyLength;
}

void CGKISignalRec::BuildHeaderImage()
{
    StoreHeaderImage();
}

int CGKISignalRec::FromMessage(const unsigned char* data, int length, CEnumSizeConverter& converter)
{
    const NativeLayoutValues v = LayoutValues(&converter);
    const NativeHeaderLayout& at = HeaderLayout(CConverter::kSignalMessageType, v, 0);
    const NativeBytes h(data, length);
    m_nHeaderField1 = h.Field(at.field1, v.S);
    m_nHeaderField2 = h.Field(at.field2, v.S);
    m_wBodyLength = static_cast<uint16_t>(h.Read(at.length, 2));
    m_nId = h.Read(at.id, v.I);
    if (m_wBodyLength != 0) {
        // A body length that claims more than the message holds gets the bytes present.
        if (!ConvertBody(converter, h.At(at.body), h.Present(at.body, m_wBodyLength), kMaxLength - kSignalFixed))
            return 0;
        m_wBodyLength = static_cast<uint16_t>(m_nBodySize);
    }
    m_wLength = static_cast<uint16_t>(kSignalFixed + m_wBodyLength);
    BuildHeaderImage();
    return 1;
}

void CGKISignalRec::Serialize(CArchive& ar)
{
    if (ar.IsStoring()) {
        Store(ar, StoredBodyBytes());
        return;
    }
    ar >> m_wLength >> m_nHeaderField1 >> m_nHeaderField2 >> m_wBodyLength >> m_nId;
    LoadBody(ar, m_wBodyLength);
    // The native header of message type 6, without the alignments of the parsing rule:
    // the body length right after the fields, the body right after the identifier.
    const NativeLayoutValues v = LayoutValues(m_pLayoutSource);
    const int64_t H = 2 * int64_t{v.S} + 2;
    const int64_t P = Align(H, v.I) - H;
    NewImage(static_cast<uint32_t>(H + P + v.I));
    const ImageWriter image{m_pImage.get(), m_nImageSize};
    image.Field(0, m_nHeaderField1, v.S);
    image.Field(v.S, m_nHeaderField2, v.S);
    image.Put(2 * int64_t{v.S}, m_wBodyLength, 2);
    image.Put(H + P, m_nId, v.I == 4 ? 4 : 2);
}

// ---- logged signal ----

CGKILoggedSignalRec::~CGKILoggedSignalRec() = default;

void CGKILoggedSignalRec::WriteHeader(Header& h) const
{
    h << static_cast<uint32_t>(m_nTypeCode) << m_wLength << m_nHeaderField1 << m_nHeaderField2 << m_nLogWord1
      << m_nLogWord2 << m_wBodyLength << m_nId;
}

int64_t CGKILoggedSignalRec::StoredBodyBytes() const
{
    return m_wBodyLength;
}

void CGKILoggedSignalRec::BuildHeaderImage()
{
    StoreHeaderImage();
}

int CGKILoggedSignalRec::FromMessage(const unsigned char* data, int length, CEnumSizeConverter& converter)
{
    const int result =
        FromLayout(m_nLayout == 1 ? CConverter::kLoggedSignal2MessageType : CConverter::kLoggedSignalMessageType, data,
                   length, converter);
    BuildHeaderImage();
    return result;
}

int CGKILoggedSignalRec::FromLayout(int messageType, const unsigned char* data, int length,
                                    CEnumSizeConverter& converter)
{
    const NativeLayoutValues v = LayoutValues(&converter);
    const NativeBytes h(data, length);
    const uint32_t count =
        messageType == CConverter::kLoggedSignal2MessageType ? h.Read(NativeHeaderLayout::kCountOffset, 4) : 0;
    const NativeHeaderLayout& at = HeaderLayout(messageType, v, count);
    m_nHeaderField1 = h.Field(at.field1, v.S);
    m_nHeaderField2 = h.Field(at.field2, v.S);
    m_nLogWord1 = h.Read(at.logWord1, 4);
    m_nLogWord2 = h.Read(at.logWord2, 4);
    m_nId = h.Read(at.id, v.I);
    const int64_t left = h.Length() - at.body;
    if (left < 1 && messageType == CConverter::kLoggedSignal2MessageType) {
        m_strError.Format("No Signal Body for Signal ID - 0x%8.8x", m_nId);
        return 0;
    }
    if (left < 1) {
        // No body bytes: the record carries a single zero byte.
        *BodyOfSize(1) = 0;
    } else if (!ConvertBody(converter, h.At(at.body), left, kMaxLength - kLoggedSignalFixed)) {
        return 0;
    }
    m_wBodyLength = static_cast<uint16_t>(m_nBodySize);
    m_wLength = static_cast<uint16_t>(kLoggedSignalFixed + m_wBodyLength);
    return 1;
}

void CGKILoggedSignalRec::Serialize(CArchive& ar)
{
    if (ar.IsStoring()) {
        Store(ar, StoredBodyBytes());
        return;
    }
    ar >> m_wLength >> m_nHeaderField1 >> m_nHeaderField2 >> m_nLogWord1 >> m_nLogWord2 >> m_wBodyLength >> m_nId;
    LoadBody(ar, m_wBodyLength);
    // The native header of message type 5, without the parsing rule's 2-byte gap (L = 0,
    // S = 1) and alignment of the body.
    const NativeLayoutValues v = LayoutValues(m_pLayoutSource);
    const int64_t fields = 2 * int64_t{v.S};
    const int64_t H = fields + 10;
    const int64_t P = Align(H, v.I) - H;
    NewImage(static_cast<uint32_t>(H + P + v.I));
    const ImageWriter image{m_pImage.get(), m_nImageSize};
    image.Field(0, m_nHeaderField1, v.S);
    image.Field(v.S, m_nHeaderField2, v.S);
    image.Put(fields, m_nLogWord1, 4);
    image.Put(fields + 4, m_nLogWord2, 4);
    image.Put(fields + 8, m_wBodyLength, 2);
    image.Put(H + P, m_nId, v.I == 4 ? 4 : 2);
}

// ---- the pool ----

CGKIRec* CGKIRecPool::ForMessage(const CVESKMessage& message)
{
    const int slot = ExportSlot(message);
    if (slot < 0) return nullptr;
    if (!m_records[slot]) m_records[slot] = MakeSlot(slot);
    return m_records[slot].get();
}

std::unique_ptr<CGKIRec> CGKIRecPool::Take(int32_t typeCode)
{
    const int slot = LoadSlot(typeCode);
    if (slot < 0) return nullptr;
    return m_records[slot] ? std::move(m_records[slot]) : MakeSlot(slot);
}

void CGKIRecPool::PutBack(std::unique_ptr<CGKIRec> record)
{
    if (!record) return;
    const int slot = LoadSlot(record->m_nTypeCode);
    if (slot >= 0) m_records[slot] = std::move(record);
}
