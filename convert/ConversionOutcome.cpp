// The end of an import: success, or the errors collected in m_errors offered to the user.
#include "convert/ConversionOutcome.h"

#include <filesystem>
#include <system_error>

#include "convert/LogFileConverter.h"
#include "framework/Launcher.h"
#include "framework/MessageBox.h"
#include "platform/Settings.h"

bool CLogFileConverter::ShowConversionOutcome(const char* errorFileName)
{
    using namespace ConversionOutcomeTexts;
    if (m_errors.empty()) {
        AfxMessageBox(kSucceeded);
        return false;
    }
    if (AfxMessageBox(kWithErrors, MB_YESNO | MB_ICONQUESTION) != IDYES) return false;

    const CString folder = GetHomeDirectory() + kLogFolder;
    std::error_code ec;
    std::filesystem::create_directories(CFile::OsPath(folder), ec);
    const CString path = folder + errorFileName;
    CFile file;
    bool written = false;
    if (file.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::modeNoFollow)) {
        try {
            for (const CString& text : m_errors) {
                file.Write(text.GetString(), static_cast<UINT>(text.GetLength()));
                file.Write("\n", 1);
            }
            file.Close();
            written = true;
        } catch (const CFileException&) {
            file.Abort();
        }
    }
    if (written)
        m_errors.clear();
    else
        AfxMessageBox(kNoErrorsFile);
    LaunchProgram({kEditor, CFile::OsPath(path)});
    return true;
}
