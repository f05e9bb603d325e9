#pragma once
// The framework's exception classes. Thrown by value, caught by reference.
#include "framework/String.h"
#include "framework/Types.h"

class CException {
public:
    virtual ~CException() = default;
    // A readable text for logs and the command line; never a message-box text.
    virtual CString GetErrorMessage() const { return "unknown error"; }
};

class CMemoryException : public CException {
public:
    CString GetErrorMessage() const override { return "out of memory"; }
};

class CNotSupportedException : public CException {
public:
    explicit CNotSupportedException(CString what = "operation not supported") : m_strWhat(std::move(what)) {}
    CString GetErrorMessage() const override { return m_strWhat; }
private:
    CString m_strWhat;
};

class CFileException : public CException {
public:
    enum Cause {
        none, genericException, fileNotFound, badPath, tooManyOpenFiles, accessDenied,
        invalidFile, removeCurrentDir, directoryFull, badSeek, hardIO, sharingViolation,
        lockViolation, diskFull, endOfFile
    };
    CFileException(Cause cause = none, int osError = 0, CString fileName = CString())
        : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {}
    CString GetErrorMessage() const override;
    // Maps an errno value to the framework's cause.
    static Cause OsErrorToCause(int err);

    Cause m_cause;
    int m_lOsError;
    CString m_strFileName;
};

class CArchiveException : public CException {
public:
    enum Cause { none, genericException, readOnly, endOfFile, writeOnly, badIndex, badClass, badSchema };
    explicit CArchiveException(Cause cause = none, CString fileName = CString(), CString detail = CString())
        : m_cause(cause), m_strFileName(std::move(fileName)), m_strDetail(std::move(detail)) {}
    CString GetErrorMessage() const override;

    Cause m_cause;
    CString m_strFileName;
    CString m_strDetail;  // what exactly was wrong, when the reader knows (ours)
};

// A failure of the host database (opening it, or a query on it).
class CDBException : public CException {
public:
    explicit CDBException(CString what) : m_strError(std::move(what)) {}
    CString GetErrorMessage() const override { return m_strError; }
    CString m_strError;
};

// Resource bytes that cannot be read (cut short or malformed), or a resource that is
// not there. The text names the resource part and the offset.
class CResourceException : public CException {
public:
    explicit CResourceException(CString what) : m_strWhat(std::move(what)) {}
    CString GetErrorMessage() const override { return m_strWhat; }
private:
    CString m_strWhat;
};

// Thrown by dialog data exchange when a field does not validate; UpdateData returns FALSE.
class CUserException : public CException {
public:
    CString GetErrorMessage() const override { return "invalid entry"; }
};

// A processor fault (access violation, division by zero) turned into an exception
// by a conversion's translator scope; see framework/SeTranslator.h.
class SE_Exception : public CException {
public:
    explicit SE_Exception(unsigned int code) : m_nSE(code) {}
    unsigned int GetSeNumber() const { return m_nSE; }
    CString GetErrorMessage() const override;
private:
    unsigned int m_nSE;
};

// Runs f and swallows a framework exception it throws, on purpose: `why` names the
// reason at the call site (the operation can do nothing better than go on).
template <typename F>
void IgnoreFailure([[maybe_unused]] const char* why, F&& f)
{
    try {
        f();
    } catch (const CException&) {
    }
}

// f's value, or `fallback` when f throws a framework exception: the getters that report
// 0 for a file in trouble instead of passing the exception to the host.
template <typename T, typename F>
T ValueOr(T fallback, F&& f)
{
    try {
        return f();
    } catch (const CException&) {
        return fallback;
    }
}
