#pragma once
// A write fault for tests: the file behaves as a disk that fails at one offset. The bytes
// of a write that lie before the offset reach the file; then the write fails with the
// chosen error, as CFile::Write reports any failed write (a CFileException, the position
// after the bytes that were written). With `once`, only the first write that reaches the
// offset fails; otherwise every write that reaches past it does (a full disk).
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "framework/String.h"
#include "framework/Types.h"

struct WriteFault {
    std::string pathPart;  // a write fails only on a file whose path contains this
    ULONGLONG offset = 0;
    int error = 28;  // ENOSPC
    bool once = true;
};

// Arms a fault, or disarms it with nullopt. One fault at a time, for the whole process.
void SetWriteFault(std::optional<WriteFault> fault);

// Called by CFile::Write: whether a write of `count` bytes at `pos` to `path` fails. When
// it does, `allowed` is how many bytes go through first and the result is the error.
int TakeWriteFault(const CString& path, ULONGLONG pos, UINT count, UINT& allowed);
namespace WriteFaultDetail {
extern std::atomic<bool> armed;
}
// Asked before every write: inline, the load of one flag.
inline bool IsWriteFaultArmed()
{
    return WriteFaultDetail::armed.load(std::memory_order_relaxed);
}
