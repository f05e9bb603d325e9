// CLogger: the naming convention and the disk-space guard.
#include "framework/MessageBox.h"
#include "logger/Logger.h"
#include "platform/Clock.h"
#include "platform/DiskSpace.h"
#include "platform/Settings.h"

namespace {
constexpr const char* kViewer = "Viewer Settings";
constexpr uint64_t kMB = 1048576;
constexpr unsigned long kReserveMB = 251;
constexpr unsigned long kRequiredMB = 250;
constexpr unsigned long kMaxFileMB = 4095;
}  // namespace

// The six naming settings, in the order the naming convention lists them.
void CLogger::ReadNamingSettings()
{
    ISettingsStore* store = GetSettingsStore();
    m_nLogNameIndex = GetSettingInt(store, kViewer, "Log Name Index", 1);
    m_strLogNameLocation = GetSettingString(store, kViewer, "Log Name Location", "US");
    m_strLogNameUSIM = GetSettingString(store, kViewer, "Log Name USIM", "OR");
    m_nLogNameSetupId = GetSettingInt(store, kViewer, "Log Name SetupId", 1);
    m_strLogNameScheme = GetSettingString(store, kViewer, "Log Name Scheme", "IDLE");
    m_strLogNameVersion = GetSettingString(store, kViewer, "Log Name Version", "R40817");
}

void CLogger::BuildLogNameConvention()
{
    m_strFileName.Empty();
    ReadNamingSettings();
    ISettingsStore* store = GetSettingsStore();

    const CString defaultPath = GetHomeDirectory(store) + "\\Bin Logs\\";
    m_strPath = GetSettingString(store, kViewer, "Import Export Path", defaultPath.c_str());
    const char last = m_strPath.IsEmpty() ? '\0' : m_strPath.GetAt(m_strPath.GetLength() - 1);
    if (last != '\\' && last != '/') m_strPath += "\\";

    CString timePart;
    if (GetSettingInt(store, kViewer, "Is Current Log Date", 0) != 0)
        timePart = GetSettingString(store, kViewer, "Current Log Time", "");
    else
        timePart = FormatTime(LocalTimeNow(), "%d%m_%H%M");

    m_strFileName = m_strLogNameLocation + m_strLogNameUSIM;
    m_strFileName.AppendFormat("%d", m_nLogNameSetupId);
    m_strFileName += "_" + m_strLogNameScheme;
    m_strFileName.AppendFormat("%d", m_nLogNameIndex);
    m_strFileName += "_" + timePart + "_" + m_strLogNameVersion + ".vkl";
}

unsigned long CLogger::GetMaxFileSizeInMB(CString strDirectory, CString& strMessage)
{
    const FreeSpaceResult free = QueryFreeSpace(strDirectory);
    if (free.status == FreeSpaceResult::queryMissing) {
        strMessage = "Operating System Error! Couldn't get the disk's free space !";
        return 0;
    }
    if (free.status != FreeSpaceResult::ok) {
        strMessage.Format("Couldn't get the disk's free space for directory '%s'! \nPlease make sure that he directory name is valid.",
                          strDirectory.c_str());
        return 0;
    }
    const uint64_t mb = free.freeBytes / kMB;
    if (mb <= kReserveMB) {
        strMessage.Format("The Recorder requires at least %d MB free in order to record properly. \nPlease free some disk space, and try again.",
                          static_cast<int>(kRequiredMB));
        return 0;
    }
    const uint64_t usable = mb - kReserveMB;
    return usable > kMaxFileMB ? kMaxFileMB : static_cast<unsigned long>(usable);
}
