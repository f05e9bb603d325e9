// The SD-card log's header and packet readers.
#include "convert/DiagLogHeaderReader.h"
#include "convert/DiagLogPacketReader.h"
#include "convert/SdImportTexts.h"
#include "convert/SdLog.h"
#include "framework/Archive.h"
#include "framework/MessageBox.h"
#include "platform/VESKMessage.h"

void CDiagLogHeaderReader::Serialize(CArchive& ar)
{
    if (!ar.IsLoading()) return;
    for (DWORD& word : m_adwWords) ar >> word;
}

int64_t CDiagLogHeaderReader::GetStartTime() const
{
    return int64_t{m_adwWords[5]} + SdLog::kStartTimeShift;
}

bool CDiagLogPacketReader::ReadPacket(CArchive& ar, std::vector<BYTE>& bytes)
{
    ar >> m_wLength >> m_wProtocol;
    if (m_wProtocol == 1) AfxMessageBox(SdImportTexts::kProtocolNotImplemented);
    if (m_wProtocol != 0 || m_wLength < SdLog::kPacketHeaderSize) return false;

    const UINT bodyLength = m_wLength - SdLog::kPacketHeaderSize;
    const size_t at = bytes.size();
    try {
        bytes.resize(at + bodyLength);
        if (bodyLength && ar.Read(bytes.data() + at, bodyLength) != bodyLength)
            throw CArchiveException(CArchiveException::endOfFile, ar.GetFile()->GetFilePath(), "packet cut short");
    } catch (...) {
        bytes.resize(at);
        throw;
    }
    const BYTE* body = bytes.data() + at;
    m_wFirstWord = static_cast<WORD>(SdLog::BodyField(body, bodyLength, 0, 2));
    const bool timeAt4 = (m_wFirstWord & SdLog::kTypeMask) == SdLog::kTypeTimeAt4;
    m_dwDeviceTime = SdLog::BodyField(body, bodyLength, timeAt4 ? SdLog::kTimeAt4 : SdLog::kTimeAt8, 4);
    return true;
}

void CDiagLogPacketReader::Serialize(CArchive& ar)
{
    if (!ar.IsLoading()) return;
    m_pMessage = nullptr;
    m_body.clear();
    if (!ReadPacket(ar, m_body)) return;
    auto* message = new CVESKMessage(1, 0, m_body.data(), static_cast<int>(m_body.size()), 1);
    message->CompleteRawMessage();
    message->SetKind(1);
    m_pMessage = message;
}

bool CDiagLogPacketReader::ReadInto(CArchive& ar, std::vector<BYTE>& bytes)
{
    m_pMessage = nullptr;
    return ar.IsLoading() && ReadPacket(ar, bytes);
}

void CDiagLogPacketReader::SetMessageTime(const SYSTEMTIME* pTime)
{
    if (m_pMessage && pTime) m_pMessage->SetPCTimeStamp(CSystemTime(*pTime));
}
