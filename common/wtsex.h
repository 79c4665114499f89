// The extended process enumeration of Remote Desktop Services, declared as
// the platform documents it. Included by the Unix layer's declarations and,
// on Windows, only where the platform's headers lack it (older mingw-w64).
// The including header supplies the Windows types, WINAPI and
// DECLSPEC_IMPORT.
#ifndef WTSEX_H
#define WTSEX_H

#include <cstddef>

typedef enum _WTS_TYPE_CLASS {
	WTSTypeProcessInfoLevel0,
	WTSTypeProcessInfoLevel1,
	WTSTypeSessionInfoLevel1
} WTS_TYPE_CLASS;

typedef struct _WTS_PROCESS_INFO_EXW {
	DWORD SessionId;
	DWORD ProcessId;
	LPWSTR pProcessName;
	PSID pUserSid;
	DWORD NumberOfThreads;
	DWORD HandleCount;
	DWORD PagefileUsage;
	DWORD PeakPagefileUsage;
	DWORD WorkingSetSize;
	DWORD PeakWorkingSetSize;
	LARGE_INTEGER UserTime;
	LARGE_INTEGER KernelTime;
} WTS_PROCESS_INFO_EXW, *PWTS_PROCESS_INFO_EXW;

extern "C" {
DECLSPEC_IMPORT BOOL WINAPI WTSEnumerateProcessesExW(HANDLE hServer, DWORD *pLevel,
                                                     DWORD SessionId,
                                                     LPWSTR *ppProcessInfo,
                                                     DWORD *pCount);
DECLSPEC_IMPORT BOOL WINAPI WTSFreeMemoryExW(WTS_TYPE_CLASS WTSTypeClass, PVOID pMemory,
                                             ULONG NumberOfEntries);
}

#endif
