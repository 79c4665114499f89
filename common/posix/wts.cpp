// Process enumeration over /proc: the pids first, then each process
// (process.cpp), then one block allocated at its exact size: the records,
// then the SIDs, then the names.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "../utf.h"
#include "process.h"
#include "sid.h"

// One process kept for the list; its name starts at unit nameAt of the
// name store.
struct Entry {
	ProcessFacts facts;
	DWORD nameAt;
};

// The names of the processes kept so far, decoded, each terminated, back
// to back.
struct NameStore {
	WCHAR *units;
	size_t used;
	size_t capacity;
};

struct Scratch {
	ProcessReader reader;
	alignas(struct dirent64) char pidEntries[DirentBytes];
};

static int KeepName(NameStore *names, const char *name, size_t length, DWORD *at)
{
	// No byte becomes more than one unit; one more for the terminator.
	size_t need = length + 1;

	if (names->used + need > UINT32_MAX)
		return ENOMEM;
	if (names->units == NULL || names->capacity - names->used < need) {
		size_t grown = names->capacity * 2 + need;
		WCHAR *bigger = (WCHAR *)realloc(names->units, grown * sizeof(WCHAR));
		if (bigger == NULL)
			return ENOMEM;
		names->units = bigger;
		names->capacity = grown;
	}
	*at = (DWORD)names->used;
	names->used += Utf8ToUtf16(name, length, names->units + names->used, length, NULL);
	names->units[names->used++] = 0;
	return 0;
}

// The kernel lists a proc directory's pids in ascending order, across
// getdents calls too: a pid not above the one before is a repeat after a
// concurrent change, and is dropped.
static int ListPids(Scratch *s, Entry **entries, size_t *count)
{
	DWORD previous = 0, pid;
	DirWalk walk = {s->reader.procFd, s->pidEntries, sizeof s->pidEntries, 0, 0};
	size_t capacity = 0;
	const char *name;
	int error = 0;

	*entries = NULL;
	*count = 0;
	while ((name = NextEntry(&walk, &error)) != NULL) {
		if ((pid = ParseId(name)) <= previous)
			continue;
		if (*count == capacity) {
			Entry *bigger = (Entry *)realloc(*entries, (capacity * 2 + 1024) * sizeof(Entry));
			if (bigger == NULL)
				return ENOMEM;
			*entries = bigger;
			capacity = capacity * 2 + 1024;
		}
		(*entries)[(*count)++].facts.pid = pid;
		previous = pid;
	}
	return error;
}

// Reads every listed process, moving those kept to the front: the slot
// written is never past the one whose pid is being read.
static int ReadAll(Scratch *s, Entry *entries, size_t listed, NameStore *names, size_t *kept)
{
	*kept = 0;
	for (size_t i = 0; i < listed; i++) {
		const char *name = NULL;
		size_t length = 0;
		Entry *e = &entries[*kept];
		int result = ReadProcess(&s->reader, entries[i].facts.pid, &e->facts, &name, &length);

		if (result == 0)
			result = KeepName(names, name, length, &e->nameAt);
		if (result == 0)
			(*kept)++;
		else if (result != LeftOut)
			return result;
	}
	return 0;
}

// Each part leaves once copied, so that the peak holds less than all of
// them beside the block.
static WTS_PROCESS_INFO_EXW *MakeBlock(Entry **entries, size_t count, NameStore *names)
{
	size_t recordBytes = count * sizeof(WTS_PROCESS_INFO_EXW);
	size_t sidBytes = count * UnixSidBytes;
	size_t nameBytes = names->used * sizeof(WCHAR);
	BYTE *block = (BYTE *)malloc(recordBytes + sidBytes + nameBytes + 1);
	WTS_PROCESS_INFO_EXW *records = (WTS_PROCESS_INFO_EXW *)block;
	BYTE *sids;
	WCHAR *text;

	if (block == NULL)
		return NULL;
	sids = block + recordBytes;
	text = (WCHAR *)(sids + sidBytes);
	for (size_t i = 0; i < count; i++) {
		WTS_PROCESS_INFO_EXW *r = &records[i];
		const Entry *e = &(*entries)[i];
		memset(r, 0, sizeof *r);
		r->ProcessId = e->facts.pid;
		r->pProcessName = text + e->nameAt;
		r->pUserSid = sids + i * UnixSidBytes;
		BuildUnixSid(r->pUserSid, UnixUserKind, e->facts.uid);
		r->NumberOfThreads = e->facts.threads;
		r->HandleCount = e->facts.handles;
	}
	free(*entries);
	*entries = NULL;
	if (names->units != NULL)
		memcpy(text, names->units, nameBytes);
	free(names->units);
	names->units = NULL;
	return records;
}

static int BuildList(int procFd, WTS_PROCESS_INFO_EXW **list, DWORD *count)
{
	Scratch *s = (Scratch *)malloc(sizeof(Scratch));
	NameStore names = {NULL, 0, 0};
	Entry *entries = NULL;
	size_t listed = 0, kept = 0;
	int error;

	if (s == NULL)
		return ENOMEM;
	s->reader.procFd = procFd;
	error = ListPids(s, &entries, &listed);
	if (error == 0)
		error = ReadAll(s, entries, listed, &names, &kept);
	free(s);
	if (error == 0) {
		*list = MakeBlock(&entries, kept, &names);
		*count = (DWORD)kept;
		if (*list == NULL)
			error = ENOMEM;
	}
	free(names.units);
	free(entries);
	return error;
}

// A bare directory, or a /proc of a pid namespace this process is not in
// (it has no self), cannot give a true table.
static int OpenProc(int *procFd)
{
	struct statfs fs;
	char self[32];
	int fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);

	if (fd < 0)
		return errno == ENOTDIR ? ENOENT : errno;
	if (fstatfs(fd, &fs) != 0 || fs.f_type != PROC_SUPER_MAGIC ||
	    readlinkat(fd, "self", self, sizeof self) <= 0) {
		close(fd);
		return ENOENT;
	}
	*procFd = fd;
	return 0;
}

// pLevel is in and out on Windows, so not const here either.
BOOL WTSEnumerateProcessesExW(HANDLE hServer, DWORD *pLevel, DWORD SessionId, // NOLINT(readability-non-const-parameter)
                              LPWSTR *ppProcessInfo, DWORD *pCount)
{
	WTS_PROCESS_INFO_EXW *list = NULL;
	DWORD count = 0;
	int procFd = -1, error;

	if (hServer != WTS_CURRENT_SERVER_HANDLE || pLevel == NULL || *pLevel != 1 ||
	    SessionId != WTS_ANY_SESSION || ppProcessInfo == NULL || pCount == NULL) {
		SetLastError(EINVAL);
		return FALSE;
	}
	error = OpenProc(&procFd);
	if (error == 0) {
		error = BuildList(procFd, &list, &count);
		close(procFd);
	}
	if (error != 0) {
		SetLastError((DWORD)error);
		return FALSE;
	}
	*ppProcessInfo = (LPWSTR)list;
	*pCount = count;
	return TRUE;
}

BOOL WTSFreeMemoryExW(WTS_TYPE_CLASS WTSTypeClass, PVOID pMemory, ULONG /*NumberOfEntries*/)
{
	if (pMemory == NULL)
		return TRUE;
	if (WTSTypeClass != WTSTypeProcessInfoLevel1) {
		SetLastError(EINVAL);
		return FALSE;
	}
	free(pMemory);
	return TRUE;
}
