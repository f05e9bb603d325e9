#include "logfile/LogFileHeader.h"

#include <algorithm>
#include <cstdlib>

#include "framework/Exceptions.h"
#include "framework/Sync.h"
#include "platform/Clock.h"
#include "platform/DeviceLink.h"

namespace {
constexpr const char* kHeaderVersionFormat = "Header Version %s";
constexpr const char* kHeaderVersion = "1.0";
constexpr const char* kToolVersionFormat = "KOVA Ver. %s";
constexpr const char* kToolVersion = "0.20.5.83";
}  // namespace

CLogFileHeader::CLogFileHeader()
{
    Reset();
}

void CLogFileHeader::Reset()
{
    m_strHeaderVersion.Format(kHeaderVersionFormat, kHeaderVersion);
    m_strVESKVersion.Format(kToolVersionFormat, kToolVersion);
    m_strUEVersion = GetUEVersionString();
    m_strFileDescription.Empty();
    m_strPrevFileName.Empty();
    m_strNextFileName.Empty();
    m_bookmarks.clear();
    m_creationTime = LocalTimeNow();
    m_nNumOfPages = 1;
    m_astrDevices.clear();
    m_astrDevices.shrink_to_fit();
    m_astrDeviceOsTypes.clear();
    m_astrDeviceOsTypes.shrink_to_fit();
    m_bHasHeaderVersion = 0;
}

void CLogFileHeader::Serialize(CArchive& ar)
{
    if (ar.IsStoring()) {
        Store(ar);
    } else {
        Load(ar);
    }
}

void CLogFileHeader::Store(CArchive& ar)
{
    FillDeviceRecords();
    FillDeviceOsTypes();
    ar << m_strHeaderVersion << m_strVESKVersion << m_strUEVersion << m_strFileDescription;
    ar << m_anchor.m_dwFilePos << m_anchor.m_strDescription;
    ar << static_cast<DWORD>(m_bookmarks.size());
    for (const CLogBookmark& b : m_bookmarks) ar << b.m_dwFilePos << b.m_strDescription;
    ar << static_cast<DWORD>(m_nNumOfPages);
    const DWORD devices = static_cast<DWORD>(m_astrDevices.size());
    ar << devices;
    for (const CString& d : m_astrDevices) ar << d;
    // Two OS-type entries per device; a missing entry is written empty so the layout
    // stays readable.
    for (size_t i = 0; i < 2 * static_cast<size_t>(devices); ++i)
        ar << (i < m_astrDeviceOsTypes.size() ? m_astrDeviceOsTypes[i] : CString());
    m_creationTime.Serialize(ar);
}

void CLogFileHeader::Load(CArchive& ar)
{
    Reset();
    CString first;
    ar >> first;
    if (first.Find(kHeaderVersionMark) >= 0) {
        m_strHeaderVersion = first;
        m_bHasHeaderVersion = 1;
        ar >> m_strVESKVersion;
    } else {
        m_strVESKVersion = first;
    }
    ar >> m_strUEVersion >> m_strFileDescription;
    ar >> m_anchor.m_dwFilePos >> m_anchor.m_strDescription;
    LoadBookmarks(ar);
    if (m_bHasHeaderVersion) {
        LoadDevices(ar);
    } else {
        LoadEarlierTail(ar);
    }
    m_creationTime.Serialize(ar);
}

void CLogFileHeader::LoadBookmarks(CArchive& ar)
{
    m_bookmarks.clear();
    int32_t count = 0;
    ar >> count;
    if (count > kMaxBookmarks) throw CNotSupportedException("bookmark count above 1000");
    for (int32_t i = 0; i < count; ++i) {
        CLogBookmark b;
        ar >> b.m_dwFilePos >> b.m_strDescription;
        m_bookmarks.push_back(std::move(b));
    }
}

// Current layout: the page count and the device records.
void CLogFileHeader::LoadDevices(CArchive& ar)
{
    DWORD pages = 0;
    ar >> pages;
    m_nNumOfPages = static_cast<int32_t>(pages);
    int32_t devices = 0;
    ar >> devices;
    if (devices > kMaxDevices) throw CNotSupportedException("device count above 5");
    if (devices < 0) devices = 0;  // read as none
    for (int32_t i = 0; i < devices; ++i) {
        CString d;
        ar >> d;
        m_astrDevices.push_back(std::move(d));
    }
    for (int32_t i = 0; i < 2 * devices; ++i) {
        CString t;
        ar >> t;
        m_astrDeviceOsTypes.push_back(std::move(t));
    }
}

// Earlier layout: the link names and the page count are optional. When they cannot be
// read, reading goes on from where they would have begun.
void CLogFileHeader::LoadEarlierTail(CArchive& ar)
{
    ar.Flush();
    CFile* file = ar.GetFile();
    const ULONGLONG before = file->GetPosition();
    try {
        DWORD pages = 0;
        ar >> m_strNextFileName >> m_strPrevFileName >> pages;
        m_nNumOfPages = static_cast<int32_t>(pages);
    } catch (const CException&) {
        m_strNextFileName.Empty();
        m_strPrevFileName.Empty();
        m_nNumOfPages = 0;
        ar.Flush();
        file->SeekAbsolute(before);
    }
}

bool CLogFileHeader::SameContent(const CLogFileHeader& o) const
{
    auto sameBookmarks = [](const CLogBookmarkList& a, const CLogBookmarkList& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const CLogBookmark& x, const CLogBookmark& y) {
            return x.m_dwFilePos == y.m_dwFilePos && x.m_strDescription == y.m_strDescription;
        });
    };
    return m_strHeaderVersion == o.m_strHeaderVersion && m_strVESKVersion == o.m_strVESKVersion &&
           m_strUEVersion == o.m_strUEVersion && m_strFileDescription == o.m_strFileDescription &&
           m_anchor.m_dwFilePos == o.m_anchor.m_dwFilePos && m_anchor.m_strDescription == o.m_anchor.m_strDescription &&
           sameBookmarks(m_bookmarks, o.m_bookmarks) && m_strPrevFileName == o.m_strPrevFileName &&
           m_strNextFileName == o.m_strNextFileName && m_nNumOfPages == o.m_nNumOfPages &&
           m_astrDevices == o.m_astrDevices && m_astrDeviceOsTypes == o.m_astrDeviceOsTypes &&
           m_creationTime == o.m_creationTime && m_bHasHeaderVersion == o.m_bHasHeaderVersion;
}

bool CLogFileHeader::IsBookmark(DWORD pos) const
{
    for (const CLogBookmark& b : m_bookmarks)
        if (b.m_dwFilePos == pos) return true;
    return false;
}

CLogBookmark* CLogFileHeader::FindBookMarkByFilePos(DWORD pos)
{
    for (CLogBookmark& b : m_bookmarks)
        if (b.m_dwFilePos == pos) return &b;
    return nullptr;
}

void CLogFileHeader::AcquireLink()
{
    if (!m_pDeviceLink) m_pDeviceLink = AcquireDeviceLink(GetCurrentThreadId());
}

void CLogFileHeader::ReleaseLink()
{
    ReleaseDeviceLink(GetCurrentThreadId());
    m_pDeviceLink = nullptr;
}

void CLogFileHeader::FillDeviceRecords()
{
    if (!m_astrDevices.empty()) return;
    AcquireLink();
    const DeviceTexts imeis = m_pDeviceLink ? m_pDeviceLink->GetDeviceIMEIs() : DeviceTexts{};
    for (int i = 0; i < kDeviceSlots; ++i) {
        const CString& imei = imeis[static_cast<size_t>(i)];
        if (imei.CompareNoCase("") != 0) {
            CString record;
            record.Format("Device#%d-IMEI:%s", i, imei.c_str());
            m_astrDevices.push_back(record);
        }
    }
    ReleaseLink();
}

void CLogFileHeader::FillDeviceOsTypes()
{
    if (!m_astrDeviceOsTypes.empty()) return;
    AcquireLink();
    DeviceTexts com, app, imeis;
    if (m_pDeviceLink) {
        com = m_pDeviceLink->GetDeviceOsTypes(0);
        app = m_pDeviceLink->GetDeviceOsTypes(1);
        imeis = m_pDeviceLink->GetDeviceIMEIs();
    }
    for (int i = 0; i < kDeviceSlots; ++i) {
        const size_t s = static_cast<size_t>(i);
        CString t;
        if (!com[s].IsEmpty()) {
            t.Format("Device#%d-Com OS Type:%s", i, com[s].c_str());
            m_astrDeviceOsTypes.push_back(t);
            if (!app[s].IsEmpty())
                t.Format("Device#%d-App OS Type:%s", i, app[s].c_str());
            else
                t.Format("Device#%d-App OS Type:NO APP VERSION", i);
            m_astrDeviceOsTypes.push_back(t);
        } else if (!imeis[s].IsEmpty()) {
            t.Format("Device#%d-Com OS Type:NO COM OS TYPE", i);
            m_astrDeviceOsTypes.push_back(t);
            t.Format("Device#%d-App OS Type:NO APP OS TYPE", i);
            m_astrDeviceOsTypes.push_back(t);
        }
    }
    ReleaseLink();
}

bool CLogFileHeader::IsIMEIMatch(const CString& strIMEI, CString& strDevice, CString& strComOsType, CString& strAppOsType) const
{
    if (strIMEI.IsEmpty()) return false;
    for (size_t i = 0; i < m_astrDevices.size(); ++i) {
        const CString& record = m_astrDevices[i];
        if (record.Find(strIMEI.c_str()) <= 0) continue;
        const int hash = record.Find('#');
        const int dash = record.Find('-');
        const CString number = (hash >= 0 && dash > hash) ? record.Mid(hash + 1, dash - hash - 1) : CString();
        const int n = std::atoi(number.c_str());
        strDevice.Format("Device#%d", n + 1);
        auto afterColon = [](const CString& s) {
            const int colon = s.Find(':');
            return colon >= 0 ? s.Mid(colon + 1) : CString();
        };
        const size_t com = 2 * i, app = 2 * i + 1;
        strComOsType = com < m_astrDeviceOsTypes.size() ? afterColon(m_astrDeviceOsTypes[com]) : CString();
        strAppOsType = app < m_astrDeviceOsTypes.size() ? afterColon(m_astrDeviceOsTypes[app]) : CString();
        return true;
    }
    return false;
}
