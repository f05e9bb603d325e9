#include "framework/Path.h"

int LastPathSeparator(const CString& path)
{
    const size_t cut = path.str().find_last_of("\\/");
    return cut == std::string::npos ? -1 : static_cast<int>(cut);
}

CString PathFolder(const CString& path)
{
    return path.Left(LastPathSeparator(path) + 1);
}

CString PathFileName(const CString& path)
{
    return path.Mid(LastPathSeparator(path) + 1);
}

CString WithTrailingSeparator(const CString& path)
{
    const char last = path.IsEmpty() ? '\0' : path.GetAt(path.GetLength() - 1);
    return last == '\\' || last == '/' ? path : path + "\\";
}
