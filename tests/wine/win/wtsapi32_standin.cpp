// A stand-in for wtsapi32.dll, loaded into Wine by the tests only (Wine
// itself answers the level-1 enumeration with "not implemented"). It serves
// WTSEnumerateProcessesExW at level 1 and WTSFreeMemoryExW as Windows
// documents them, from the system's own documented calls, so that the two
// programs' main job can run end to end. Never installed or shipped.
//
// Test controls, read from the environment at each call:
//   WTS_STANDIN_FAIL=CODE      the enumeration fails with this last-error code
//   WTS_STANDIN_NULL_SID=NAME  processes of this image get a null SID
//   WTS_STANDIN_LOG=FILE       one line per call, and one per record handed out
//   WTS_STANDIN_MADE_UP=N      N made-up records instead of the system's
//                              processes, pids 100000, 100004, ..., handle
//                              counts 0, 1, ..., one thread, the owner this
//                              process runs as, all named
//   WTS_STANDIN_MADE_UP_NAME=TEXT  (else "made-up.exe")
//   WTS_STANDIN_READ_ONLY=1    the made-up list is lent on pages the caller
//                              may only read, the name last, ending where
//                              the pages do, before one that may not be
//                              touched: a write into the list, or a read
//                              past its end, faults
#include <cstdio>
#include <cstdlib>

// The programs' own declarations of the two calls, or the platform's where
// its headers have them (mingw-w64 12 declares the release); each
// definition below says it is exported. The record's layout is checked
// against the platform's documented offsets where it is declared.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <sddl.h>
#include <wtsapi32.h>
#undef DECLSPEC_IMPORT
#define DECLSPEC_IMPORT __declspec(dllexport)
#include "owner.h"

#include <tlhelp32.h>

typedef WTS_PROCESS_INFO_EXW ProcessRecord;

static const DWORD processInfoLevel1 = 1;
static const DWORD anySession = 0xFFFFFFFE;

static bool Setting(const char *name, char *value, DWORD size)
{
	DWORD n = GetEnvironmentVariableA(name, value, size);

	return n > 0 && n < size;
}

static void Log(const char *text)
{
	char path[MAX_PATH];
	HANDLE file;
	DWORD written;

	if (!Setting("WTS_STANDIN_LOG", path, sizeof path))
		return;
	file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
	                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
	if (file == INVALID_HANDLE_VALUE)
		return;
	WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
	CloseHandle(file);
}

static bool NullSidFor(const WCHAR *image)
{
	WCHAR name[MAX_PATH];
	DWORD n = GetEnvironmentVariableW(L"WTS_STANDIN_NULL_SID", name, MAX_PATH);

	return n > 0 && n < MAX_PATH && lstrcmpiW(name, image) == 0;
}

static bool InSession(DWORD pid, DWORD SessionId, DWORD *session)
{
	if (!ProcessIdToSessionId(pid, session))
		*session = 0;
	return SessionId == anySession || *session == SessionId;
}

static void FillRecord(ProcessRecord *record, const PROCESSENTRY32W *entry, DWORD session,
                       PSID sidAt, LPWSTR name)
{
	HANDLE process;
	DWORD handles = 0;

	ZeroMemory(record, sizeof *record);
	record->SessionId = session;
	record->ProcessId = entry->th32ProcessID;
	record->NumberOfThreads = entry->cntThreads;
	lstrcpyW(name, entry->szExeFile);
	record->pProcessName = name;
	process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry->th32ProcessID);
	if (process != NULL) {
		if (!NullSidFor(entry->szExeFile) && CopyOwner(process, sidAt))
			record->pUserSid = sidAt;
		if (GetProcessHandleCount(process, &handles))
			record->HandleCount = handles;
		CloseHandle(process);
	}
}

static void LogRecord(const ProcessRecord *record)
{
	char name[MAX_PATH * 4];
	char line[MAX_PATH * 4 + 256];
	LPWSTR sidText = NULL;
	char sid[256] = "-";

	WideCharToMultiByte(CP_UTF8, 0, record->pProcessName, -1, name, sizeof name, NULL, NULL);
	if (record->pUserSid != NULL && ConvertSidToStringSidW(record->pUserSid, &sidText)) {
		WideCharToMultiByte(CP_UTF8, 0, sidText, -1, sid, sizeof sid, NULL, NULL);
		LocalFree(sidText);
	}
	snprintf(line, sizeof line, "record\t%lu\t%lu\t%lu\t%lu\t%s\t%s\n",
	         (unsigned long)record->SessionId, (unsigned long)record->ProcessId,
	         (unsigned long)record->HandleCount, (unsigned long)record->NumberOfThreads, sid,
	         name);
	Log(line);
}

// One block: the records, then a SID slot per record, then the names. The
// snapshot does not change between the two walks; a process that ends
// meanwhile only loses its SID and handle count.
static BYTE *MakeList(HANDLE snapshot, DWORD SessionId, DWORD *count)
{
	PROCESSENTRY32W entry;
	DWORD session;
	DWORD capacity = 0;
	SIZE_T nameUnits = 0;
	BYTE *block;
	ProcessRecord *records;
	BYTE *sids;
	LPWSTR names;
	LPWSTR namesEnd;

	entry.dwSize = sizeof entry;
	for (BOOL more = Process32FirstW(snapshot, &entry); more;
	     more = Process32NextW(snapshot, &entry)) {
		if (InSession(entry.th32ProcessID, SessionId, &session)) {
			capacity++;
			nameUnits += lstrlenW(entry.szExeFile) + 1;
		}
	}
	block = (BYTE *)LocalAlloc(LMEM_ZEROINIT, capacity * (sizeof(ProcessRecord) + sidSize) +
	                                              nameUnits * sizeof(WCHAR) + 1);
	if (block == NULL)
		return NULL;
	records = (ProcessRecord *)block;
	sids = block + capacity * sizeof(ProcessRecord);
	names = (LPWSTR)(sids + capacity * sidSize);
	namesEnd = names + nameUnits;
	*count = 0;
	for (BOOL more = Process32FirstW(snapshot, &entry); more && *count < capacity;
	     more = Process32NextW(snapshot, &entry)) {
		if (!InSession(entry.th32ProcessID, SessionId, &session) ||
		    names + lstrlenW(entry.szExeFile) + 1 > namesEnd)
			continue;
		FillRecord(&records[*count], &entry, session, sids + *count * sidSize, names);
		names += lstrlenW(names) + 1;
		(*count)++;
	}
	return block;
}

// The pages of a list lent read-only, from the enumeration to the release.
static BYTE *lentPages;

// A zero-filled block of size bytes (a multiple of 8, for the records),
// read-only: at the end of pages of its own, before a reserved page.
static BYTE *Allocate(SIZE_T size, bool readOnly)
{
	SYSTEM_INFO system;
	SIZE_T pages;

	if (!readOnly)
		return (BYTE *)LocalAlloc(LMEM_ZEROINIT, size);
	GetSystemInfo(&system);
	pages = (size + system.dwPageSize - 1) / system.dwPageSize * system.dwPageSize;
	lentPages = (BYTE *)VirtualAlloc(NULL, pages + system.dwPageSize, MEM_RESERVE, PAGE_NOACCESS);
	if (lentPages == NULL || VirtualAlloc(lentPages, pages, MEM_COMMIT, PAGE_READWRITE) == NULL)
		return NULL;
	return lentPages + pages - size;
}

// A table of any size, and names Windows would not give: one block of the
// records, one SID and one name that they all share.
static BYTE *MakeUpList(DWORD n, DWORD *count)
{
	WCHAR name[MAX_PATH] = L"made-up.exe";
	char value[8];
	DWORD got = GetEnvironmentVariableW(L"WTS_STANDIN_MADE_UP_NAME", name, MAX_PATH);
	bool readOnly = Setting("WTS_STANDIN_READ_ONLY", value, sizeof value);
	SIZE_T recordBytes = (SIZE_T)n * sizeof(ProcessRecord);
	SIZE_T nameBytes, sidSlot;
	BYTE *block;
	ProcessRecord *records;
	PSID sid;
	LPWSTR names;
	DWORD old;

	if (got == 0 || got >= MAX_PATH)
		lstrcpyW(name, L"made-up.exe");
	nameBytes = (lstrlenW(name) + 1) * sizeof(WCHAR);
	// Padded, so that the block's size is a multiple of 8 and its end the
	// name's.
	sidSlot = sidSize + (8 - (recordBytes + sidSize + nameBytes) % 8) % 8;
	block = Allocate(recordBytes + sidSlot + nameBytes, readOnly);
	if (block == NULL)
		return NULL;
	records = (ProcessRecord *)block;
	sid = block + recordBytes;
	names = (LPWSTR)(block + recordBytes + sidSlot);
	lstrcpyW(names, name);
	if (!CopyOwner(GetCurrentProcess(), sid))
		sid = NULL;
	for (DWORD i = 0; i < n; i++) {
		records[i].SessionId = 1;
		records[i].ProcessId = 100000 + 4 * i;
		records[i].HandleCount = i;
		records[i].NumberOfThreads = 1;
		records[i].pProcessName = names;
		records[i].pUserSid = sid;
	}
	if (readOnly && !VirtualProtect(lentPages, block + recordBytes + sidSlot + nameBytes - lentPages,
	                                PAGE_READONLY, &old))
		return NULL;
	*count = n;
	return block;
}

extern "C" __declspec(dllexport) BOOL WINAPI
WTSEnumerateProcessesExW(HANDLE hServer, DWORD *pLevel, DWORD SessionId, LPWSTR *ppProcessInfo,
                         DWORD *pCount)
{
	char line[160];
	char value[32];
	HANDLE snapshot;
	BYTE *block;
	DWORD count = 0;
	DWORD level = pLevel != NULL ? *pLevel : 0;
	DWORD error = 0;
	bool failing = false;

	if (pLevel == NULL || ppProcessInfo == NULL || pCount == NULL) {
		error = ERROR_INVALID_PARAMETER;
	} else if (level != processInfoLevel1) {
		// As documented: an unknown level is answered with the one served.
		*pLevel = processInfoLevel1;
		error = ERROR_INVALID_PARAMETER;
	} else if (hServer != NULL) {
		error = ERROR_INVALID_HANDLE;
	} else if (Setting("WTS_STANDIN_FAIL", value, sizeof value)) {
		// 0 included: a failure whose code reads as success.
		error = (DWORD)strtoul(value, NULL, 0);
		failing = true;
	}
	if (failing || error != 0) {
		snprintf(line, sizeof line, "enumerate level=%lu session=0x%lX failed=%lu\n",
		         (unsigned long)level, (unsigned long)SessionId, (unsigned long)error);
		Log(line);
		SetLastError(error);
		return FALSE;
	}
	if (Setting("WTS_STANDIN_MADE_UP", value, sizeof value)) {
		block = MakeUpList((DWORD)strtoul(value, NULL, 0), &count);
		error = GetLastError();
	} else {
		snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
		if (snapshot == INVALID_HANDLE_VALUE)
			return FALSE;
		block = MakeList(snapshot, SessionId, &count);
		error = GetLastError();
		CloseHandle(snapshot);
	}
	if (block == NULL) {
		SetLastError(error);
		return FALSE;
	}
	snprintf(line, sizeof line, "enumerate level=%lu session=0x%lX count=%lu block=%p\n",
	         (unsigned long)level, (unsigned long)SessionId, (unsigned long)count,
	         (void *)block);
	Log(line);
	for (DWORD i = 0; i < count; i++)
		LogRecord((ProcessRecord *)block + i);
	*ppProcessInfo = (LPWSTR)block;
	*pCount = count;
	return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI
WTSFreeMemoryExW(WTS_TYPE_CLASS WTSTypeClass, PVOID pMemory, ULONG NumberOfEntries)
{
	char line[128];

	snprintf(line, sizeof line, "free class=%d base=%p count=%lu\n", WTSTypeClass, pMemory,
	         (unsigned long)NumberOfEntries);
	Log(line);
	if (WTSTypeClass != WTSTypeProcessInfoLevel1 || pMemory == NULL) {
		SetLastError(ERROR_INVALID_PARAMETER);
		return FALSE;
	}
	if (lentPages != NULL && (BYTE *)pMemory > lentPages) {
		BYTE *pages = lentPages;
		lentPages = NULL;
		return VirtualFree(pages, 0, MEM_RELEASE);
	}
	return LocalFree(pMemory) == NULL;
}
