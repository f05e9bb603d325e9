#include "platform/DiskSpace.h"

#include <sys/statvfs.h>

#include "framework/File.h"
#include "platform/Services.h"

FreeSpaceResult CStatvfsFreeSpace::Query(const CString& directory)
{
    const std::string path = directory.IsEmpty() ? std::string(".") : CFile::OsPath(directory);
    struct statvfs sv {};
    if (::statvfs(path.c_str(), &sv) != 0) return {FreeSpaceResult::failed, 0};
    return {FreeSpaceResult::ok, static_cast<uint64_t>(sv.f_bavail) * static_cast<uint64_t>(sv.f_frsize)};
}

FreeSpaceResult QueryFreeSpace(const CString& directory)
{
    return Services::FreeSpace()->Query(directory);
}
