#include "convert/GKISignalRecReader.h"

#include <cstring>
#include <vector>

#include "framework/Archive.h"
#include "framework/MessageBox.h"
#include "platform/Recoder.h"

CGKISignalRecReader::CGKISignalRecReader() = default;
CGKISignalRecReader::~CGKISignalRecReader() = default;

void CGKISignalRecReader::Serialize(CArchive& ar)
{
    if (ar.IsStoring()) throw CNotSupportedException("a GKI reader only loads");
    ar >> m_nRecTypeCode;
    switch (m_nRecTypeCode) {
        case CGKIRec::kLoggedSignalCode:
            m_wMsgType = CConverter::kLoggedSignalMessageType;
            break;
        case CGKIRec::kCommandCode:
            m_wMsgType = CConverter::kCommandMessageType;
            break;
        case CGKIRec::kSignalCode:
            m_wMsgType = CConverter::kSignalMessageType;
            break;
        default:
            AfxMessageBox("There is a problem with this signal type", MB_OK);
            throw CNotSupportedException("unknown GKI record type code");
    }
    m_pRecord = m_records.Take(m_nRecTypeCode);
    m_pRecord->SetLayoutSource(&m_converter);
    // The record lives for this read only, also when the archive runs out inside it.
    struct Release {
        CGKIRecPool& pool;
        std::unique_ptr<CGKIRec>& record;
        ~Release() { pool.PutBack(std::move(record)); }
    } release{m_records, m_pRecord};
    m_pRecord->Serialize(ar);

    const BYTE* image = m_pRecord->GetImage();
    const uint32_t headerSize = m_pRecord->m_nImageHeaderSize;
    std::span<const BYTE> body;
    if (!m_converter.ConvertFromGKI(m_pRecord->m_nId, image + headerSize,
                                    static_cast<int>(m_pRecord->GetImageSize() - headerSize), body))
    {
        body = {};  // the message keeps its header only
        ++m_nBodiesNotConverted;
    }
    SetMessage(image, headerSize, body);
}

void CGKISignalRecReader::SetMessage(const BYTE* image, uint32_t headerSize, std::span<const BYTE> body)
{
    // Every byte is written below: the message header, the image header, the body.
    m_block.resize(CVESKMessage::kHeaderSize + headerSize + body.size());
    std::memset(m_block.data(), 0, CVESKMessage::kHeaderSize);
    m_block[0] = static_cast<BYTE>(m_wMsgType);
    m_block[1] = static_cast<BYTE>(m_wMsgType >> 8);
    std::memcpy(m_block.data() + CVESKMessage::kHeaderSize, image, headerSize);
    if (!body.empty()) std::memcpy(m_block.data() + CVESKMessage::kHeaderSize + headerSize, body.data(), body.size());

    if (!m_pMessage) m_pMessage = std::make_unique<CVESKMessage>();
    CVESKMessage& message = *m_pMessage;
    message.SetKind(1);
    message.SetDeviceNumber(0);
    message.SetPCTimeStamp(CSystemTime());
    message.SwapData(m_block);  // the message's old block is the next one's storage
    message.SetMessageIndex(static_cast<uint64_t>(static_cast<int64_t>(m_nNextIndex)));
    m_nNextIndex = static_cast<int32_t>(static_cast<uint32_t>(m_nNextIndex) + 1);
    message.SetFurther(1);
}
