// The Windows API calls the programs use, from the platform's own headers.
// Older headers (mingw-w64 10 among them) lack the extended process
// enumeration, newer ones part of it: wtsex.h declares what they lack.
#ifndef WINAPI_WIN_H
#define WINAPI_WIN_H

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include <windows.h>
#include <wtsapi32.h>
#include <sddl.h>

#include <cstddef>

#define WIDE(s) L##s

// How the system's message texts end.
#define SYSTEM_TEXT_LINE_END WIDE("\r\n")

#include "../wtsex.h"

#ifndef WTS_ANY_SESSION
#define WTS_ANY_SESSION ((DWORD)0xFFFFFFFE)
#endif

#ifndef STRSAFE_E_INSUFFICIENT_BUFFER
#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007A)
#endif

// The record is read straight out of the system's list, so its layout must
// be the platform's to the byte.
#ifdef _WIN64
static_assert(sizeof(WTS_PROCESS_INFO_EXW) == 64, "WTS_PROCESS_INFO_EXW size");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, SessionId) == 0, "SessionId");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, ProcessId) == 4, "ProcessId");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, pProcessName) == 8, "pProcessName");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, pUserSid) == 16, "pUserSid");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, NumberOfThreads) == 24, "NumberOfThreads");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, HandleCount) == 28, "HandleCount");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, PagefileUsage) == 32, "PagefileUsage");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, PeakPagefileUsage) == 36, "PeakPagefileUsage");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, WorkingSetSize) == 40, "WorkingSetSize");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, PeakWorkingSetSize) == 44, "PeakWorkingSetSize");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, UserTime) == 48, "UserTime");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, KernelTime) == 56, "KernelTime");
#else
static_assert(sizeof(WTS_PROCESS_INFO_EXW) == 56, "WTS_PROCESS_INFO_EXW size");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, SessionId) == 0, "SessionId");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, ProcessId) == 4, "ProcessId");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, pProcessName) == 8, "pProcessName");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, pUserSid) == 12, "pUserSid");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, NumberOfThreads) == 16, "NumberOfThreads");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, HandleCount) == 20, "HandleCount");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, PagefileUsage) == 24, "PagefileUsage");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, PeakPagefileUsage) == 28, "PeakPagefileUsage");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, WorkingSetSize) == 32, "WorkingSetSize");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, PeakWorkingSetSize) == 36, "PeakWorkingSetSize");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, UserTime) == 40, "UserTime");
static_assert(offsetof(WTS_PROCESS_INFO_EXW, KernelTime) == 48, "KernelTime");
#endif
static_assert(WTSTypeProcessInfoLevel1 == 1, "WTSTypeProcessInfoLevel1");
static_assert(WTS_ANY_SESSION == 0xFFFFFFFEu, "WTS_ANY_SESSION");

#endif
