// CLogger: the naming convention and the disk-space guard.
#include "framework/MessageBox.h"
#include "framework/Path.h"
#include "logger/Logger.h"
#include "platform/Clock.h"
#include "platform/DiskSpace.h"
#include "platform/Settings.h"
#include "platform/SettingsKeys.h"

namespace {
using namespace SettingsKeys;
constexpr uint64_t kMB = 1048576;
constexpr unsigned long kReserveMB = 251;
constexpr unsigned long kRequiredMB = 250;
constexpr unsigned long kMaxFileMB = 4095;
}  // namespace

// The six naming settings, in the order the naming convention lists them.
void CLogger::ReadNamingSettings()
{
    ISettingsStore* store = GetSettingsStore();
    m_nLogNameIndex = GetSettingInt(store, kViewerSettings, kLogNameIndex, 1);
    m_strLogNameLocation = GetSettingString(store, kViewerSettings, kLogNameLocation, "US");
    m_strLogNameUSIM = GetSettingString(store, kViewerSettings, kLogNameUSIM, "OR");
    m_nLogNameSetupId = GetSettingInt(store, kViewerSettings, kLogNameSetupId, 1);
    m_strLogNameScheme = GetSettingString(store, kViewerSettings, kLogNameScheme, "IDLE");
    m_strLogNameVersion = GetSettingString(store, kViewerSettings, kLogNameVersion, "R40817");
}

void CLogger::BuildLogNameConvention()
{
    m_strFileName.Empty();
    ReadNamingSettings();
    ISettingsStore* store = GetSettingsStore();

    const CString defaultPath = GetHomeDirectory(store) + "\\Bin Logs\\";
    m_strPath = WithTrailingSeparator(GetSettingString(store, kViewerSettings, kImportExportPath, defaultPath.c_str()));

    CString timePart;
    if (GetSettingInt(store, kViewerSettings, kIsCurrentLogDate, 0) != 0)
        timePart = GetSettingString(store, kViewerSettings, kCurrentLogTime, "");
    else
        timePart = FormatTime(LocalTimeNow(), "%d%m_%H%M");

    m_strFileName = m_strLogNameLocation + m_strLogNameUSIM;
    m_strFileName.AppendFormat("%d", m_nLogNameSetupId);
    m_strFileName += "_" + m_strLogNameScheme;
    m_strFileName.AppendFormat("%d", m_nLogNameIndex);
    m_strFileName += "_" + timePart + "_" + m_strLogNameVersion + LogFormat::kExtension;
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
