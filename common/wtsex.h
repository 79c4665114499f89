// The extended process enumeration of Remote Desktop Services, declared as
// the platform documents it. Included by the Unix layer's declarations and
// by the Windows ones, where each name is left out that the platform's
// headers declare already (OWNERROLL_HAVE_<name>, found by the Windows
// configure: mingw-w64 10 has none of them, 12 the type class and the
// release). The including header supplies the Windows types, WINAPI and
// DECLSPEC_IMPORT.
#ifndef WTSEX_H
#define WTSEX_H

#include <cstddef>

#ifndef OWNERROLL_HAVE_WTS_TYPE_CLASS
typedef enum _WTS_TYPE_CLASS {
	WTSTypeProcessInfoLevel0,
	WTSTypeProcessInfoLevel1,
	WTSTypeSessionInfoLevel1
} WTS_TYPE_CLASS;
#endif

#ifndef OWNERROLL_HAVE_WTS_PROCESS_INFO_EXW
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
#endif

extern "C" {
#ifndef OWNERROLL_HAVE_WTSEnumerateProcessesExW
DECLSPEC_IMPORT BOOL WINAPI WTSEnumerateProcessesExW(HANDLE hServer, DWORD *pLevel,
                                                     DWORD SessionId,
                                                     LPWSTR *ppProcessInfo,
                                                     DWORD *pCount);
#endif
#ifndef OWNERROLL_HAVE_WTSFreeMemoryExW
DECLSPEC_IMPORT BOOL WINAPI WTSFreeMemoryExW(WTS_TYPE_CLASS WTSTypeClass, PVOID pMemory,
                                             ULONG NumberOfEntries);
#endif
}

#endif
