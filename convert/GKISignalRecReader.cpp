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
    m_pRecord = CGKIRec::Create(m_nRecTypeCode);
    // The record lives for this read only, also when the archive runs out inside it.
    struct Release {
        std::unique_ptr<CGKIRec>& record;
        ~Release() { record.reset(); }
    } release{m_pRecord};
    m_pRecord->Serialize(ar);

    const BYTE* image = m_pRecord->GetImage();
    const uint32_t headerSize = m_pRecord->m_nImageHeaderSize;
    std::unique_ptr<unsigned char[]> body;
    unsigned int bodySize = 0;
    if (!m_converter.ConvertFromGKI(m_pRecord->m_nId, image + headerSize,
                                    static_cast<int>(m_pRecord->GetImageSize() - headerSize), body, bodySize, 0))
    {
        bodySize = 0;  // the message keeps its header only
        ++m_nBodiesNotConverted;
    }

    std::vector<BYTE> block(CVESKMessage::kHeaderSize + headerSize + bodySize, 0);
    block[0] = static_cast<BYTE>(m_wMsgType);
    block[1] = static_cast<BYTE>(m_wMsgType >> 8);
    std::memcpy(block.data() + CVESKMessage::kHeaderSize, image, headerSize);
    if (bodySize) std::memcpy(block.data() + CVESKMessage::kHeaderSize + headerSize, body.get(), bodySize);

    auto message = std::make_unique<CVESKMessage>(1, 0, block.data(), static_cast<int>(block.size()), 1);
    message->SetMessageIndex(static_cast<uint64_t>(static_cast<int64_t>(m_nNextIndex)));
    m_nNextIndex = static_cast<int32_t>(static_cast<uint32_t>(m_nNextIndex) + 1);
    message->SetFurther(1);
    m_pMessage = std::move(message);
}
