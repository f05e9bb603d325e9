// The outcome of an import or a GKI export: the success box, or the errors question and
// the error file opened in the editor.
#include "convert/ConversionOutcome.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "convert/LogFileConverter.h"
#include "framework/File.h"
#include "framework/Launcher.h"
#include "framework/MessageBox.h"
#include "framework/Path.h"
#include "platform/Settings.h"

namespace {

// Makes the error file's folder when it is missing (an existing one is left as it is).
void MakeFolder(const CString& folder)
{
    std::error_code ec;
    std::filesystem::create_directory(CFile::OsPath(folder.c_str()), ec);
}

// Writes every text from the head of the list, each followed by "\n", removing it.
// False when the file cannot be created.
bool WriteErrorFile(const CString& path, std::list<CString>& errors)
{
    MakeFolder(PathFolder(path));
    CStdioFile file;
    if (!file.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::modeNoFollow | CFile::typeText))
        return false;
    try {
        while (!errors.empty()) {
            file.WriteString(errors.front().c_str());
            file.WriteString("\n");
            errors.pop_front();
        }
        file.Close();
    } catch (const CFileException&) {
        file.Abort();  // what was written stays; the editor shows it
    }
    return true;
}

}  // namespace

CString ConversionErrorsPath(const char* errorFileName)
{
    return GetHomeDirectory(GetSettingsStore()) + ConvertTexts::kErrorsFolder + errorFileName;
}

bool ShowConversionOutcome(std::list<CString>& errors, const char* errorFileName)
{
    if (errors.empty()) {
        AfxMessageBox(ConvertTexts::kSucceeded, MB_OK);
        return false;
    }
    if (AfxMessageBox(ConvertTexts::kCompletedWithErrors, MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
    const CString path = ConversionErrorsPath(errorFileName);
    if (!WriteErrorFile(path, errors)) {
        AfxMessageBox(ConvertTexts::kNoErrorsFile, MB_OK);
        return true;
    }
    LaunchProgram({ConvertTexts::kErrorsEditor, path.str()});
    return true;
}

bool CLogFileConverter::ShowConversionOutcome(const char* errorFileName)
{
    return ::ShowConversionOutcome(m_errors, errorFileName);
}
