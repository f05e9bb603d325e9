#pragma once
// The GKI record family: one record of a GKI log each (docs/FORMAT.md, "GKI log").
//
// A GKI log is records back to back from offset 0 to the end of the file, with no file
// header, count or padding. Every record starts with a 32-bit type code (the character
// in the lowest byte) and continues with fixed-width little-endian fields:
//
//   'S' 83  signal         length (16), field 1 (32), field 2 (32), body length (16), id (32), body
//   '2' 50  logged signal  length (16), field 1 (32), field 2 (32), log word 1 (32),
//                          log word 2 (32), body length (16), id (32), body
//   'C' 67  command        length (16), id (32), length - 2 body bytes
//
// The length field of a signal record counts the bytes after it (14 + body, 22 + body).
// Bodies are in the GKI layout (CEnumSizeConverter).
//
// A record is filled from a native message by FromMessage (export) and stored by
// Serialize; or loaded by Serialize (the type code already read) into a native image:
// the native signal header of message type 6, 5 or 67 followed by the GKI body, which the
// reader (CGKISignalRecReader) then converts to the native layout.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#include "framework/Object.h"
#include "framework/String.h"
#include "framework/Types.h"
#include "platform/Recoder.h"

class CArchive;
class CEnumSizeConverter;
class CVESKMessage;

class CGKIRec : public CObject {
public:
    static constexpr int32_t kCommandCode = 'C';       // 67
    static constexpr int32_t kSignalCode = 'S';        // 83
    static constexpr int32_t kLoggedSignalCode = '2';  // 50

    ~CGKIRec() override;
    CGKIRec(const CGKIRec&) = delete;
    CGKIRec& operator=(const CGKIRec&) = delete;

    // Storing: the whole record with its type code. Loading: the record after its type
    // code, then the native image.
    void Serialize(CArchive& ar) override = 0;
    // Fills the record from one native message: `data` is the native signal header
    // (message data offset 8), `length` the data size minus 8. Nonzero on success;
    // otherwise GetErrorText() says why.
    virtual int FromMessage(const unsigned char* data, int length, CEnumSizeConverter& converter) = 0;
    // The record's header as Serialize stores it (type code to identifier) as the image.
    virtual void BuildHeaderImage() = 0;
    virtual CString GetErrorText() const { return m_strError; }
    // Storing: Serialize writes no more bytes than this.
    uint64_t StoredSizeAtMost() const
    {
        return sizeof(Header::bytes) + static_cast<uint64_t>(std::max<int64_t>(StoredBodyBytes(), 0));
    }
    virtual unsigned char* GetImage() const { return m_pImage.get(); }
    virtual unsigned int GetImageSize() const { return m_nImageSize; }

    // The record a type code names, as loading makes it; null for any other code.
    static std::unique_ptr<CGKIRec> Create(int32_t typeCode);
    // The record a native message becomes on export: a message of kind 1 and type 6, 5
    // or 7 that has a signal header (8 data bytes or more); null for any other.
    static std::unique_ptr<CGKIRec> ForMessage(const CVESKMessage& message);
    // Loading: the layout values come from `converter` (kept by it) instead of the
    // Recoder of the host services; null goes back to the Recoder.
    void SetLayoutSource(CEnumSizeConverter* converter) { m_pLayoutSource = converter; }

    int32_t m_nTypeCode;
    uint16_t m_wLength = 0;
    uint32_t m_nId = 0;
    std::unique_ptr<BYTE[]> m_pBody;  // the body in the GKI layout, m_nBodySize bytes
    CString m_strError;
    std::unique_ptr<BYTE[]> m_pImage;
    uint32_t m_nImageSize = 0;
    uint32_t m_nImageHeaderSize = 0;  // header part of a native image made by loading
    uint32_t m_nBodySize = 0;

protected:
    // The stored header: at most 28 bytes, little-endian.
    struct Header {
        BYTE bytes[28] = {};
        uint32_t size = 0;
        Header& operator<<(uint32_t v) { return Put(v, 4); }
        Header& operator<<(uint16_t v) { return Put(v, 2); }
        Header& Put(uint32_t v, uint32_t width)
        {
            if (size + width <= sizeof bytes) {
                if constexpr (std::endian::native == std::endian::little) {
                    std::memcpy(bytes + size, &v, width);  // the low bytes first
                } else {
                    for (uint32_t i = 0; i < width; ++i) bytes[size + i] = static_cast<BYTE>(v >> (8 * i));
                }
                size += width;
                return *this;
            }
            for (uint32_t i = 0; i < width && size < sizeof bytes; ++i) bytes[size++] = static_cast<BYTE>(v >> (8 * i));
            return *this;
        }
    };

    explicit CGKIRec(int32_t typeCode) : m_nTypeCode(typeCode) {}
    virtual void WriteHeader(Header& h) const = 0;
    // The body bytes that storing writes after the header.
    virtual int64_t StoredBodyBytes() const = 0;
    // S, I, E, L from the layout source or the Recoder, widths kept small so no image can
    // grow without bound.
    NativeLayoutValues LayoutValues(CEnumSizeConverter* converter) const;
    // The native header layout of a message type (CConverter::HeaderLayout), kept from
    // the record's last message while the type, values and count stay the same.
    const NativeHeaderLayout& HeaderLayout(int messageType, const NativeLayoutValues& v, uint32_t count);
    // m_pBody as a buffer of `size` bytes: the one held when it has that size.
    BYTE* BodyOfSize(uint32_t size);
    // m_pImage as a buffer of `size` bytes: the one held when it has that size.
    BYTE* ImageOfSize(uint32_t size);
    void StoreHeaderImage();
    // Stores the header and `bodyBytes` body bytes (zero-padded past the body) when the
    // record holds a body.
    void Store(CArchive& ar, int64_t bodyBytes) const;
    void LoadBody(CArchive& ar, uint32_t count);
    // Converts `count` native body bytes into the body; a result longer than `most`
    // bytes (the length fields could not say it) fails like a failed walk.
    bool ConvertBody(CEnumSizeConverter& converter, const BYTE* in, int64_t count, uint32_t most);
    // A zeroed native image of `headerSize` header bytes with the body behind them.
    void NewImage(uint32_t headerSize);
    // Puts `width` little-endian bytes of `value` into the image; bytes past it are dropped.
    void PutImage(int64_t at, uint32_t value, int width);
    // A leading header field: one byte at width 1, else its low 16 bits.
    void PutImageField(int64_t at, uint32_t value, int width);

    CEnumSizeConverter* m_pLayoutSource = nullptr;

private:
    struct LayoutKey {
        int messageType = -1;
        NativeLayoutValues v;
        uint32_t count = 0;
    } m_layoutKey;
    NativeHeaderLayout m_layout;
};

class CGKICommandRec : public CGKIRec {
public:
    CGKICommandRec() : CGKIRec(kCommandCode) {}
    ~CGKICommandRec() override;
    void Serialize(CArchive& ar) override;
    int FromMessage(const unsigned char* data, int length, CEnumSizeConverter& converter) override;
    void BuildHeaderImage() override;

protected:
    void WriteHeader(Header& h) const override;
    int64_t StoredBodyBytes() const override;
};

class CGKISignalRec : public CGKIRec {
public:
    CGKISignalRec() : CGKIRec(kSignalCode) {}
    ~CGKISignalRec() override;
    void Serialize(CArchive& ar) override;
    int FromMessage(const unsigned char* data, int length, CEnumSizeConverter& converter) override;
    void BuildHeaderImage() override;

    uint32_t m_nHeaderField1 = 0;
    uint32_t m_nHeaderField2 = 0;
    uint16_t m_wBodyLength = 0;

protected:
    void WriteHeader(Header& h) const override;
    int64_t StoredBodyBytes() const override;
};

class CGKILoggedSignalRec : public CGKIRec {
public:
    // nLayout: 0 for native message type 5, 1 for type 7.
    explicit CGKILoggedSignalRec(int nLayout) : CGKIRec(kLoggedSignalCode), m_nLayout(nLayout) {}
    ~CGKILoggedSignalRec() override;
    void Serialize(CArchive& ar) override;
    int FromMessage(const unsigned char* data, int length, CEnumSizeConverter& converter) override;
    void BuildHeaderImage() override;

    uint32_t m_nHeaderField1 = 0;
    uint32_t m_nHeaderField2 = 0;
    uint32_t m_nLogWord1 = 0;
    uint32_t m_nLogWord2 = 0;
    uint16_t m_wBodyLength = 0;
    int m_nLayout;

protected:
    void WriteHeader(Header& h) const override;
    int64_t StoredBodyBytes() const override;

private:
    int FromLayout(int messageType, const unsigned char* data, int length, CEnumSizeConverter& converter);
};

// Records filled again and again, one of each kind, made on first use: a conversion of
// many records makes no new record, and no new buffer while the sizes stay the same.
class CGKIRecPool {
public:
    // The pool's record for a native message on export, as CGKIRec::ForMessage picks it.
    CGKIRec* ForMessage(const CVESKMessage& message);
    // Loading: the pool's record for a type code, as CGKIRec::Create makes it, taken out of
    // the pool (null for any other code); PutBack returns it.
    std::unique_ptr<CGKIRec> Take(int32_t typeCode);
    void PutBack(std::unique_ptr<CGKIRec> record);

private:
    std::unique_ptr<CGKIRec> m_records[4];  // signal, logged signal of layouts 0 and 1, command
};
