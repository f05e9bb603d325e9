#include "framework/Exceptions.h"

#include <cerrno>
#include <cstring>

CFileException::Cause CFileException::OsErrorToCause(int err)
{
    switch (err) {
    case 0: return none;
    case ENOENT: return fileNotFound;
    case ENOTDIR: case ENAMETOOLONG: case ELOOP: return badPath;
    case EMFILE: case ENFILE: return tooManyOpenFiles;
    case EACCES: case EPERM: case EROFS: case EISDIR: return accessDenied;
    case EBADF: return invalidFile;
    case ENOSPC: case EDQUOT: return diskFull;
    case EINVAL: case ESPIPE: case EOVERFLOW: return badSeek;
    case EIO: return hardIO;
    case EAGAIN: case EBUSY: return sharingViolation;
    case EDEADLK: return lockViolation;
    default: return genericException;
    }
}

CString CFileException::GetErrorMessage() const
{
    static const char* const texts[] = {
        "no error", "unspecified error", "file not found", "bad path", "too many open files",
        "access denied", "invalid file", "cannot remove current directory", "directory full",
        "bad seek", "hardware I/O error", "sharing violation", "lock violation", "disk full",
        "end of file"};
    CString s = texts[m_cause];
    if (m_lOsError) {
        s += " (";
        s += std::strerror(m_lOsError);
        s += ")";
    }
    if (!m_strFileName.IsEmpty()) s = m_strFileName + ": " + s;
    return s;
}

CString CArchiveException::GetErrorMessage() const
{
    static const char* const texts[] = {
        "no error", "unspecified archive error", "archive is read-only", "unexpected end of data",
        "archive is write-only", "bad index", "bad class", "bad schema"};
    CString s = m_strDetail.IsEmpty() ? CString(texts[m_cause]) : m_strDetail;
    if (!m_strFileName.IsEmpty()) s = m_strFileName + ": " + s;
    return s;
}

CString SE_Exception::GetErrorMessage() const
{
    CString s;
    s.Format("processor exception 0x%08X", m_nSE);
    return s;
}
