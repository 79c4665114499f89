// Compiled in the Windows builds only, as a check: a platform header that
// already declares the extended enumeration (as newer ones do) must not
// clash with the declarations the catalogue header adds for older ones.
// Here the newer header's declarations come first, as such a header would
// give them; the catalogue header must then add none of its own.
#include <windows.h>
#include <wtsapi32.h>

#ifndef WTSEnumerateProcessesEx
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
WINBOOL WINAPI WTSEnumerateProcessesExW(HANDLE hServer, DWORD *pLevel, DWORD SessionId,
                                        LPWSTR *ppProcessInfo, DWORD *pCount);
WINBOOL WINAPI WTSFreeMemoryExW(WTS_TYPE_CLASS WTSTypeClass, PVOID pMemory,
                                ULONG NumberOfEntries);
}
#define WTSEnumerateProcessesEx WTSEnumerateProcessesExW
#define WTS_ANY_SESSION ((DWORD)-2)
#endif

#include "winapi.h"

static_assert(sizeof(WTS_PROCESS_INFO_EXW) == (sizeof(void *) == 8 ? 64 : 56),
              "the record as the newer header gives it");
