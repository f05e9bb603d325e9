// CLogger: bookmarks, descriptions and the recognition of assert messages.
#include "logger/Logger.h"
#include "platform/Recoder.h"
#include "platform/VESKMessage.h"

namespace {
constexpr int kMinTraceBody = 12;
constexpr int kMinDspBody = 14;

const char* const kComAssertNames[] = {"EE_HANDLER__EE__EE_LOG_ASSERT", "EE_HANDLER__EE__EE_LOG_RESET",
                                       "EE_HANDLER__EE__EE_LOG_EXCEPTION", "APLP__L1EEHandler__errorHandling",
                                       "APLP__AM__pldReset_Called"};
const char* const kAppAssertNames[] = {"Diag__comMem__EE_LOG", "EE_HANDLER__EE__EE_LOG_ASSERT"};
const int kDspAssertOpcodes[] = {180, 6, 223};

template <size_t N>
bool IsOneOf(const CString& name, const char* const (&names)[N])
{
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

int Word(const BYTE* body, int index)
{
    return body[2 * index] | (body[2 * index + 1] << 8);
}
}  // namespace

void CLogger::AddBookmark(CString strText)
{
    std::lock_guard lock(m_lock);
    m_logFile.GetBookmarks()->push_back(CLogBookmark(m_dwLastMsgPos, std::move(strText), m_strFileName));
}

void CLogger::AddFileDescription(const CString& strDescription, CString& strResult, CString strFilePath)
{
    std::lock_guard lock(m_lock);
    m_strDescription = strDescription;
    if (strFilePath.IsEmpty()) {
        m_logFile.SetFileDescription(strDescription);
        strResult = "Succeeded to add description";
        return;
    }
    if (IsLogging()) {
        strResult = "Error adding description - Logger is in recording mode";
        return;
    }
    if (m_logFile.IsOpen()) m_logFile.Close();
    {
        CLogFile other;
        if (other.Open(strFilePath.c_str(), /*bWrite=*/0, /*bNew=*/0, /*bReadOnly=*/0)) {
            other.SetFileDescription(strDescription);
            other.Close();
        }
    }
    if (!m_strFileName.IsEmpty()) m_logFile.Open((m_strPath + m_strFileName).c_str(), 0, 1, 0);
    strResult = "Succeeded to add description";
}

int CLogger::IsAssertMessage(CVESKMessage* pMessage, CString& strText)
{
    if (!pMessage || pMessage->GetKind() != 1) return 0;
    const int length = pMessage->GetBodyLength();
    const BYTE* body = pMessage->GetBody();
    if (!body || length < kMinTraceBody) return 0;
    const int format = Word(body, 0);
    if (format != 0 && format != 4) return 0;
    const int group = Word(body, 2);
    const int id = Word(body, 3);

    CConverter* recoder = GetConverterInstance();
    if (!recoder) return 0;
    int first = 0, last = 0;
    recoder->GetTraceIdRange(0, 0, first, last);
    if (id > last) return 0;
    CString name;
    int comFlag = 0;
    recoder->GetComTraceName(group, id, name, comFlag);
    if (IsOneOf(name, kComAssertNames)) {
        strText.Format("Assert (Comm Message)- %s", name.c_str());
        return 1;
    }
    recoder->GetTraceIdRange(1, 0, first, last);
    if (id > last) return 0;
    int appFlag = 0;
    name.Empty();
    recoder->GetAppTraceName(group, id, name, appFlag);
    if (IsOneOf(name, kAppAssertNames)) {
        strText.Format("Assert (App Message)- %s", name.c_str());
        return 1;
    }
    if (!comFlag && !appFlag) return 0;
    if (length < kMinDspBody) return 0;
    const int opcode = Word(body, 6) & 0x1FF;
    for (int op : kDspAssertOpcodes) {
        if (opcode == op) {
            strText.Format("Assert, DSP Opcode- %d", opcode);
            return 1;
        }
    }
    return 0;
}
