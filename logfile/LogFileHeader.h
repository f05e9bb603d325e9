#pragma once
// The header serialised at the end of every log file.
//
// Current layout, items back to back (strings in the archive's length-prefixed form,
// DWORDs little-endian):
//   String  header version ("Header Version 1.0")
//   String  tool version ("KOVA Ver. 0.20.5.83")
//   String  device software version
//   String  file description
//   DWORD   anchor position          String anchor description
//   DWORD   bookmark count N         N x (DWORD position, String description)
//   DWORD   page count
//   DWORD   device count D           D x String device record
//   2D x String OS types (Com, then App, per device)
//   8 x WORD creation time
// The earlier layout has no header-version string; after the bookmarks it holds
// String next file name, String previous file name, DWORD page count, and no devices.
#include <list>
#include <vector>

#include "framework/Archive.h"
#include "framework/String.h"
#include "logfile/LogBookmark.h"
#include "logfile/LogFormat.h"
#include "platform/SystemTime.h"

class CDeviceLink;

using CLogBookmarkList = std::list<CLogBookmark>;

class CLogFileHeader {
public:
    static constexpr int kMaxBookmarks = LogFormat::kMaxBookmarks;
    static constexpr int kMaxDevices = LogFormat::kMaxDevices;
    // The text that marks the current layout in the first string.
    static constexpr const char* kHeaderVersionMark = "Header Version";

    CLogFileHeader();
    virtual ~CLogFileHeader() = default;
    CLogFileHeader(const CLogFileHeader&) = default;
    CLogFileHeader& operator=(const CLogFileHeader&) = default;

    // Writes the current layout when storing; reads either layout when loading.
    virtual void Serialize(CArchive& ar);
    void Reset();
    // Whether the two hold the same stored content (bookmark file names are not stored).
    bool SameContent(const CLogFileHeader& other) const;

    DWORD GetAnchorPosition() const { return m_anchor.m_dwFilePos; }
    void SetAnchorPosition(DWORD pos) { m_anchor.m_dwFilePos = pos; }
    CString GetAnchorDescription() const { return m_anchor.m_strDescription; }
    void SetAnchorDescription(const CString& text) { m_anchor.m_strDescription = text; }
    void ClearAnchor() { m_anchor = CLogBookmark(); }

    bool IsBookmark(DWORD pos) const;
    // The first bookmark with this file position, or null.
    CLogBookmark* FindBookMarkByFilePos(DWORD pos);

    bool IsIMEIMatch(const CString& strIMEI, CString& strDevice, CString& strComOsType, CString& strAppOsType) const;
    void FillDeviceRecords();
    void FillDeviceOsTypes();

private:
    void Store(CArchive& ar);
    void Load(CArchive& ar);
    void LoadBookmarks(CArchive& ar);
    void LoadDevices(CArchive& ar);
    void LoadEarlierTail(CArchive& ar);

public:
    CString m_strHeaderVersion;
    CString m_strVESKVersion;
    CString m_strUEVersion;
    CString m_strFileDescription;
    CSystemTime m_creationTime;
    CLogBookmark m_anchor;
    CLogBookmarkList m_bookmarks;
    CString m_strPrevFileName;
    CString m_strNextFileName;
    int32_t m_nNumOfPages = 1;
    std::vector<CString> m_astrDevices;
    std::vector<CString> m_astrDeviceOsTypes;
    BYTE m_bHasHeaderVersion = 0;

private:
    void AcquireLink();
    void ReleaseLink();
    CDeviceLink* m_pDeviceLink = nullptr;  // held only while the device records are filled
};
