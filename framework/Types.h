#pragma once
// Integer widths of the original 32-bit target, and the handful of framework
// constants that files and behaviour depend on.
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = uint32_t;
using ULONGLONG = uint64_t;
using LONGLONG = int64_t;
using BOOL = int;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

constexpr UINT WM_USER = 0x0400;
constexpr DWORD INFINITE = 0xFFFFFFFF;
