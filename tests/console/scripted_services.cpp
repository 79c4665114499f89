// Scripted Windows services in place of the Linux layer, so that the two
// programs' mains can be checked byte for byte against known records.
//
// SCRIPT holds comma-separated words: "empty" (no ordinary records),
// "nosid", "unresolved", "longname" (extra records), "enumfail" and
// "freefail" (those calls fail with the code in SCRIPT_ERROR, 5 unless
// given), "allocfail" (every LocalAlloc fails). Every call of the
// enumeration and security services is written to standard error, one
// line each.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>

#include "winapi.h"

// A SID here is only what the scripted services make of it.
struct ScriptedSid {
	const WCHAR *text;
	const WCHAR *domain;
	const WCHAR *name;
};

static WCHAR longName[1025];
// Read-only, as a platform may lend its list: a name that needs cleaning is
// never written.
static const WCHAR orphanName[] = WIDE("or\tphan\u202E");
static WCHAR fittingName[1024];

static ScriptedSid systemSid = {WIDE("S-1-5-18"), WIDE("NT AUTHORITY"), WIDE("SYSTEM")};
static ScriptedSid userSid = {WIDE("S-1-5-21-7-8-9-1001"), WIDE("WORKGROUP"), WIDE("anna")};
static ScriptedSid unknownSid = {WIDE("S-1-5-21-9-9-9-4242"), NULL, NULL};
static ScriptedSid longSid = {WIDE("S-1-5-21-7-8-9-1002"), WIDE("WORKGROUP"), longName};
static ScriptedSid fittingSid = {WIDE("S-1-5-21-7-8-9-1003"), WIDE("WORKGROUP"), fittingName};

static WTS_PROCESS_INFO_EXW records[8];

static WTS_PROCESS_INFO_EXW *handedOut;

static bool Scripted(const char *word)
{
	const char *script = getenv("SCRIPT");

	return script != NULL && (std::string(",") + script + ",").find(std::string(",") + word + ",") !=
	                             std::string::npos;
}

static DWORD ScriptedError(void)
{
	const char *code = getenv("SCRIPT_ERROR");

	return code != NULL ? (DWORD)strtoul(code, NULL, 0) : 5;
}

static void AddRecord(DWORD *count, DWORD pid, DWORD handles, DWORD threads,
                      const WCHAR *name, ScriptedSid *sid)
{
	WTS_PROCESS_INFO_EXW *record = &records[(*count)++];

	memset(record, 0, sizeof *record);
	record->SessionId = 1;
	record->ProcessId = pid;
	record->HandleCount = handles;
	record->NumberOfThreads = threads;
	record->pProcessName = (LPWSTR)name;
	record->pUserSid = sid;
}

static const char *Describe(const void *p)
{
	if (p == NULL)
		return "null";
	return p == handedOut ? "listing" : "other";
}

// The local blocks, here rather than the base services', so that they can
// fail: everything that asks for one, the system's error text included.
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
	if (Scripted("allocfail")) {
		SetLastError(ENOMEM);
		return NULL;
	}
	return (uFlags & LMEM_ZEROINIT) != 0 ? calloc(1, uBytes + 1) : malloc(uBytes + 1);
}

SIZE_T LocalSize(HLOCAL hMem)
{
	return hMem == NULL ? 0 : malloc_usable_size(hMem);
}

HLOCAL LocalFree(HLOCAL hMem)
{
	free(hMem);
	return NULL;
}

BOOL WTSEnumerateProcessesExW(HANDLE hServer, DWORD *pLevel, DWORD SessionId,
                              LPWSTR *ppProcessInfo, DWORD *pCount)
{
	DWORD count = 0;

	fprintf(stderr, "enumerate server=%s level=%u session=0x%X\n",
	        hServer == NULL ? "local" : "other", (unsigned)*pLevel, (unsigned)SessionId);
	if (Scripted("enumfail")) {
		SetLastError(ScriptedError());
		return FALSE;
	}
	for (int i = 0; i < 1024; i++)
		longName[i] = 'L';
	for (int i = 0; i < 1023; i++)
		fittingName[i] = 'F';
	if (!Scripted("empty")) {
		AddRecord(&count, 4, 2000, 150, WIDE("System"), &systemSid);
		AddRecord(&count, 1000, 31, 2, WIDE("caf\u00e9 \U0001F600.exe"), &userSid);
		AddRecord(&count, 77, 12, 9, WIDE("svchost.exe"), &userSid);
	}
	if (Scripted("nosid"))
		AddRecord(&count, 123, 0, 1, orphanName, NULL);
	if (Scripted("unresolved"))
		AddRecord(&count, 124, 5, 3, WIDE("stranger"), &unknownSid);
	if (Scripted("longname")) {
		AddRecord(&count, 125, 6, 4, WIDE("long"), &longSid);
		AddRecord(&count, 126, 7, 5, WIDE("fitting"), &fittingSid);
	}
	handedOut = records;
	*ppProcessInfo = (LPWSTR)records;
	*pCount = count;
	return TRUE;
}

BOOL WTSFreeMemoryExW(WTS_TYPE_CLASS WTSTypeClass, PVOID pMemory, ULONG NumberOfEntries)
{
	fprintf(stderr, "release class=%d base=%s count=%u\n", (int)WTSTypeClass,
	        Describe(pMemory), (unsigned)NumberOfEntries);
	if (Scripted("freefail")) {
		SetLastError(ScriptedError());
		return FALSE;
	}
	return TRUE;
}

BOOL ConvertSidToStringSidW(PSID Sid, LPWSTR *StringSid)
{
	const ScriptedSid *sid = (const ScriptedSid *)Sid;
	size_t n;
	LPWSTR text;

	fprintf(stderr, "convert sid=%s\n", Sid == NULL ? "null" : "set");
	if (sid == NULL) {
		SetLastError(EINVAL);
		return FALSE;
	}
	n = lstrlenW(sid->text);
	text = (LPWSTR)LocalAlloc(LMEM_ZEROINIT, (n + 1) * sizeof(WCHAR));
	if (text == NULL)
		return FALSE;
	memcpy(text, sid->text, n * sizeof(WCHAR));
	*StringSid = text;
	return TRUE;
}

BOOL LookupAccountSidW(LPCWSTR lpSystemName, PSID Sid, LPWSTR Name, LPDWORD cchName,
                       LPWSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                       PSID_NAME_USE peUse)
{
	const ScriptedSid *sid = (const ScriptedSid *)Sid;
	size_t nameLength, domainLength;

	fprintf(stderr, "lookup system=%s sid=%s name=%u domain=%u\n",
	        lpSystemName == NULL ? "local" : "other", Sid == NULL ? "null" : "set",
	        (unsigned)*cchName, (unsigned)*cchReferencedDomainName);
	if (sid == NULL) {
		SetLastError(EINVAL);
		return FALSE;
	}
	if (sid->name == NULL) {
		SetLastError(ENOENT);
		return FALSE;
	}
	nameLength = lstrlenW(sid->name);
	domainLength = lstrlenW(sid->domain);
	// As on Windows: both must fit with their terminators, else both
	// lengths tell the sizes needed.
	if (nameLength + 1 > *cchName || domainLength + 1 > *cchReferencedDomainName) {
		*cchName = (DWORD)nameLength + 1;
		*cchReferencedDomainName = (DWORD)domainLength + 1;
		SetLastError(ERANGE);
		return FALSE;
	}
	memcpy(Name, sid->name, (nameLength + 1) * sizeof(WCHAR));
	memcpy(ReferencedDomainName, sid->domain, (domainLength + 1) * sizeof(WCHAR));
	*cchName = (DWORD)nameLength;
	*cchReferencedDomainName = (DWORD)domainLength;
	*peUse = SidTypeUser;
	return TRUE;
}
