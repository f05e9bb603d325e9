#pragma once
// Free disk space of a directory, through a query a test can replace.
#include <cstdint>

#include "framework/String.h"

struct FreeSpaceResult {
    enum Status { ok, queryMissing, failed };
    Status status = failed;
    uint64_t freeBytes = 0;  // available to the calling user
};

class IFreeSpace {
public:
    virtual ~IFreeSpace() = default;
    // An empty directory means the current directory.
    virtual FreeSpaceResult Query(const CString& directory) = 0;
};

// statvfs on the directory (backslashes turned into '/').
class CStatvfsFreeSpace : public IFreeSpace {
public:
    FreeSpaceResult Query(const CString& directory) override;
};

// A fixed answer.
class CFixedFreeSpace : public IFreeSpace {
public:
    explicit CFixedFreeSpace(FreeSpaceResult r) : m_result(r) {}
    FreeSpaceResult Query(const CString&) override { return m_result; }

private:
    FreeSpaceResult m_result;
};

FreeSpaceResult QueryFreeSpace(const CString& directory);
