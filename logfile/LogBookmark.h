#pragma once
#include "framework/String.h"
#include "framework/Types.h"

// One marked position in a log file. Only the position and the description are stored
// in a file's header; the file name says where the bookmark was set while recording.
class CLogBookmark {
public:
    static constexpr DWORD kNoPosition = 0xFFFFFFFF;

    CLogBookmark() = default;
    CLogBookmark(DWORD dwFilePos, CString strDescription, CString strFileName = CString())
        : m_dwFilePos(dwFilePos), m_strDescription(std::move(strDescription)), m_strFileName(std::move(strFileName)) {}

    DWORD m_dwFilePos = kNoPosition;
    CString m_strDescription;
    CString m_strFileName;
};
