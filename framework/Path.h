#pragma once
// Host paths keep the backslash convention ("\Bin Logs\"); splitting treats '\' and '/'
// both as separators, so a path typed on Linux splits the same way.
#include "framework/String.h"

// The position of the last separator, or -1.
int LastPathSeparator(const CString& path);
// Up to and including the last separator; "" when there is none.
CString PathFolder(const CString& path);
// After the last separator; the whole path when there is none.
CString PathFileName(const CString& path);
// The path with a separator at its end: "\" is appended unless it ends in one already
// (an empty path becomes "\").
CString WithTrailingSeparator(const CString& path);
