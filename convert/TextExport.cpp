// Text and CSV export: the synchronous ConvertLogToText and the asynchronous text
// writer. Both write a header line, an empty line and one line per message that is
// converted (docs/FORMAT.md, "Text and CSV tables").
#include "convert/ConvertTexts.h"
#include "convert/LogFileConverter.h"
#include "framework/MessageBox.h"
#include "framework/SeTranslator.h"

namespace {

void WriteText(CStdioFile& file, const std::string& text)
{
    file.Write(text.data(), static_cast<UINT>(text.size()));
}

// A log's read-only mark is cleared before it is converted (its other attributes and
// its times stay as they are).
void ClearReadOnly(const char* path)
{
    CFileStatus status;
    if (!CFile::GetStatus(path, status) || !(status.m_attribute & CFile::readOnly)) return;
    status.m_attribute &= static_cast<BYTE>(~CFile::readOnly);
    try {
        CFile::SetStatus(path, status);
    } catch (const CFileException&) {
        // Reading does not need it.
    }
}

}  // namespace

CConverterState::RowsEnd CConverterState::WriteTextRows(const ColumnSelection& selection, bool asynchronous)
{
    std::string line;
    return WriteRows(selection, asynchronous, [&](CRecordStep& step, DWORD) {
        if (asynchronous && !step.Decoded()) return false;
        const uint64_t index = step.Message().GetMessageIndex();
        step.Release();
        line.clear();
        AppendTextLine(line, index);
        WriteText(m_outFile, line);
        return true;
    });
}

int CConverterState::WriteTextTable(const ColumnSelection& selection, CString& result)
{
    int written = 0;
    const CString failure = FailureOf([&] {
        std::string header;
        AppendTextHeader(header);
        WriteText(m_outFile, header);
        const RowsEnd end = WriteTextRows(selection, /*asynchronous=*/false);
        m_outFile.Close();
        CloseQuietly(m_logFile);
        result = end == RowsEnd::readError ? ConvertTexts::kReadError : ConvertTexts::kFinished;
        written = 1;
    });
    if (written) return 1;
    result = failure;
    CloseQuietly(m_outFile);
    CloseQuietly(m_logFile);
    return 0;
}

UINT CConverterState::TextWriterThread(CConverterState& s)
{
    return RunExportWorker(s, [&s] {
        std::string header;
        s.AppendTextHeader(header);
        WriteText(s.m_outFile, header);
        const RowsEnd end = s.WriteTextRows(SelectionMap(s.m_astrColumns), /*asynchronous=*/true);
        if (end == RowsEnd::decodeFailed) return CString(ConvertTexts::kFailedCorrupt);  // nothing more is written
        if (end == RowsEnd::readError && !s.IsAbandoned()) AfxMessageBox(ConvertTexts::kReadError);
        s.m_outFile.Close();
        return CString(ConvertTexts::kFinished);
    });
}

int CLogFileConverter::ConvertLogToText(const std::vector<CString>& columns, const char* logPath, const char* outPath,
                                        CString& result)
{
    result.Empty();
    if (columns.empty()) return 0;  // no column to write: refused before anything is opened
    const ColumnSelection selection = CConverterState::SelectionMap(columns);
    ClearReadOnly(logPath);
    if (!m_logFile.Open(logPath, 0, 0, 0)) {
        result = ConvertTexts::kOpenLogForReading;
        return 0;
    }
    if (!OpenNewOutput(m_outFile, outPath, CFile::typeText)) {
        result = ConvertTexts::kOpenForWriting;
        CConverterState::CloseQuietly(m_logFile);
        return 0;
    }
    SetSelectedColumns(columns);
    CSeTranslatorScope translator;
    return m_state->WriteTextTable(selection, result);
}
