// Prints the process list as Wine itself serves it at level 0 of the same
// enumeration, and the account this program runs as: a list for the tests
// that does not come from the stand-in. UTF-8, one line each:
//   user<TAB>SID<TAB>DOMAIN\NAME
//   process<TAB>PID<TAB>IMAGE
#include <cstdarg>
#include <cstdio>

#include "owner.h"

static void Put(const WCHAR *format, ...)
{
	WCHAR wide[1024];
	char bytes[4096];
	va_list args;
	DWORD written;
	int n;

	va_start(args, format);
	vsnwprintf(wide, sizeof wide / sizeof wide[0], format, args);
	va_end(args);
	wide[sizeof wide / sizeof wide[0] - 1] = 0;
	n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, bytes, sizeof bytes, NULL, NULL);
	if (n > 1)
		WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, (DWORD)n - 1, &written, NULL);
}

static void PutUser(void)
{
	BYTE sid[sidSize];
	LPWSTR sidText;
	WCHAR name[256];
	WCHAR domain[256];
	DWORD nameLen = 256;
	DWORD domainLen = 256;
	SID_NAME_USE use;

	if (!CopyOwner(GetCurrentProcess(), sid) || !ConvertSidToStringSidW(sid, &sidText))
		return;
	if (LookupAccountSidW(NULL, sid, name, &nameLen, domain, &domainLen, &use))
		Put(L"user\t%ls\t%ls\\%ls\n", sidText, domain, name);
	LocalFree(sidText);
}

int main()
{
	DWORD level = 0;
	WTS_PROCESS_INFOW *list = NULL;
	DWORD count = 0;

	PutUser();
	if (!WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION,
	                              (LPWSTR *)&list, &count))
		return (int)GetLastError();
	for (DWORD i = 0; i < count; i++)
		Put(L"process\t%lu\t%ls\n", (unsigned long)list[i].ProcessId, list[i].pProcessName);
	WTSFreeMemoryExW(WTSTypeProcessInfoLevel0, list, count);
	return 0;
}
